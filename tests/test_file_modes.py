"""Files that merrow writes get the modes the umask asks for, like any file a
user writes, so that other accounts on shared storage can read them."""

import os
import stat

import pytest

from merrow import cjyp
from merrow.converter import Converter
from merrow.corpus import convert_files
from synthetic_corpus import CHAR, WORD, corpus_lines, write_corpus


UMASKS = [(0o022, 0o644), (0o027, 0o640), (0o077, 0o600), (0o002, 0o664)]


@pytest.fixture(params=UMASKS, ids=lambda p: f"umask-{p[0]:03o}")
def umask(request):
    mask, mode = request.param
    old = os.umask(mask)
    try:
        yield mode
    finally:
        os.umask(old)


def mode_of(path):
    return stat.S_IMODE(os.stat(path).st_mode)


def test_dictionary_files(tmp_path, umask):
    path = tmp_path / "word.bin"
    cjyp.write(path, {"今日": "gam1 jat6"})
    assert mode_of(path) == umask
    cjyp.write(path, {"今日": "gam1 jat6 NEW"})  # replacing keeps to the umask as well
    assert mode_of(path) == umask
    assert os.listdir(tmp_path) == ["word.bin"]


def test_corpus_outputs_and_parts(tmp_path, umask, make_data_dir):
    class Failing(Converter):
        def convert_batch(self, texts):
            if "FAIL" in texts:
                raise RuntimeError("injected failure")
            return super().convert_batch(texts)

    lines = corpus_lines(50, seed=1) + ["FAIL"]
    source = write_corpus(tmp_path / "in.txt", lines)
    out = tmp_path / "out"
    with pytest.raises(RuntimeError):
        convert_files([source], out, Failing(make_data_dir(word=WORD, char=CHAR)), partition_lines=10)
    parts = [os.path.join(d, f) for d, _, fs in os.walk(out / ".merrow" / "parts") for f in fs]
    assert len(parts) == 5 and {mode_of(p) for p in parts} == {umask}

    [output] = convert_files([source], out, Converter(make_data_dir(word=WORD, char=CHAR)))
    assert mode_of(output) == umask
    assert mode_of(out / ".merrow" / "done" / "in.txt") == umask
