"""Dictionaries are replaced by writing a new file and renaming it over the
old one, never in place: a pipeline that has the old file mapped keeps
working (an in-place rewrite to a smaller file would kill it with SIGBUS).
Run in a child process, so that such a crash fails one test, not the run."""

import os
import subprocess
import sys
import textwrap

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CHILD = textwrap.dedent(
    r"""
    import os, sys
    sys.path.insert(0, os.path.join(sys.argv[3], "tools"))
    import _merrow
    from merrow import cjyp

    data_dir, writer = sys.argv[1], sys.argv[2]
    big = {"今日" + chr(0x4E00 + i): "gam1 jat6 x" * 20 for i in range(20000)}
    big["今日"] = "gam1 jat6 OLD"
    cjyp.write(os.path.join(data_dir, "word.bin"), big)
    cjyp.write(os.path.join(data_dir, "char.bin"), {"今": "gam1", "日": "jat6"})
    old = _merrow.PyPipeline.from_dir(data_dir)
    inode = os.stat(os.path.join(data_dir, "word.bin")).st_ino

    small = {"今日": "gam1 jat6 NEW"}
    if writer == "cjyp":
        cjyp.write(os.path.join(data_dir, "word.bin"), small)
    else:
        import build_dictionaries
        tables = {name: {} for name in cjyp.TABLE_NAMES}
        tables.update(word=small, char={"今": "gam1", "日": "jat6"})
        build_dictionaries.write_tables(tables, data_dir, log=lambda line: None)

    assert os.stat(os.path.join(data_dir, "word.bin")).st_ino != inode, "rewritten in place"
    print(old.convert("今日"), "|", _merrow.PyPipeline.from_dir(data_dir).convert("今日"))
    """
)


@pytest.mark.parametrize("writer", ["cjyp", "build_dictionaries"])
def test_replacing_a_mapped_dictionary_leaves_its_readers_working(tmp_path, writer):
    result = subprocess.run(
        [sys.executable, "-c", CHILD, str(tmp_path), writer, ROOT],
        capture_output=True, text=True, timeout=120,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "gam1 jat6 OLD | gam1 jat6 NEW"
    assert sorted(f for f in os.listdir(tmp_path) if not f.endswith(".bin")) == []
