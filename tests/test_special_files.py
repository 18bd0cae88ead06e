"""Dictionary paths that are not regular files: named pipes, directories,
devices and symlink loops. Construction must come back at once, with the
load error for a required file and silently for an optional one; a named
pipe that no one writes must never block the process. Each case runs in a
child interpreter with a timeout, so a hang fails instead of stalling."""

import os
import subprocess
import sys
import textwrap

import pytest

from merrow import cjyp

CHILD = textwrap.dedent(
    """
    import sys, _merrow
    try:
        p = _merrow.PyPipeline.from_dir(sys.argv[1])
    except RuntimeError as e:
        print("RuntimeError:", e)
    else:
        print("loaded:", p.convert("中國"))
    """
)


def load_in_child(directory):
    done = subprocess.run(
        [sys.executable, "-c", CHILD, str(directory)], capture_output=True, text=True, timeout=20
    )
    assert done.returncode == 0, done.stderr
    return done.stdout.strip()


def fifo(path):
    os.mkfifo(path)


def directory(path):
    os.mkdir(path)


def dev_null(path):
    os.symlink("/dev/null", path)


def symlink_loop(path):
    os.symlink(path, path)


@pytest.mark.parametrize(
    "make, required_error",
    [
        (fifo, "file too short: 0 bytes (need at least 16)"),
        (directory, "(os error 21)"),
        (dev_null, "file too short: 0 bytes (need at least 16)"),
        (symlink_loop, "(os error 40)"),
    ],
    ids=["named-pipe", "directory", "dev-null", "symlink-loop"],
)
@pytest.mark.parametrize("name", ["word.bin", "char.bin", "word_candidates.bin", "char_source.bin"])
def test_special_file_in_place_of_a_dictionary(tmp_path, make, required_error, name):
    cjyp.write(tmp_path / "word.bin", {"中國": "zung1 gwok3"})
    cjyp.write(tmp_path / "char.bin", {"中": "zung1", "國": "gwok3"})
    target = tmp_path / name
    if target.exists():
        target.unlink()
    make(str(target))
    out = load_in_child(tmp_path)
    if name in ("word.bin", "char.bin"):
        assert out.startswith("RuntimeError:") and out.endswith(required_error), out
    else:  # an optional sidecar is skipped without a word
        assert out == "loaded: zung1 gwok3"


def test_replacing_a_mapped_file_leaves_the_pipeline_on_the_old_data(tmp_path):
    """The writer replaces files by renaming a new one over them, so a
    pipeline that has the old file mapped keeps reading the old bytes (the
    mapping holds the old inode). Truncating a mapped file in place, by
    contrast, is outside what any memory-mapped reader can survive."""
    from _merrow import PyPipeline

    cjyp.write(tmp_path / "word.bin", {"中國": "zung1 gwok3"})
    cjyp.write(tmp_path / "char.bin", {"中": "zung1"})
    p = PyPipeline.from_dir(str(tmp_path))
    for round in range(20):
        cjyp.write(tmp_path / "word.bin", {f"詞{i}": "x" * round for i in range(round * 50)})
        cjyp.write(tmp_path / "char.bin", {})
        assert p.convert("中國") == "zung1 gwok3"
    assert PyPipeline.from_dir(str(tmp_path)).convert("中國") == "中 國"
