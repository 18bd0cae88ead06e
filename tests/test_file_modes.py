"""Files that merrow writes get the modes the umask asks for, like any file a
user writes, so that other accounts on shared storage can read them."""

import os
import stat

import pytest

from merrow import cjyp


@pytest.fixture(params=[(0o022, 0o644), (0o027, 0o640), (0o077, 0o600), (0o002, 0o664)], ids=lambda p: f"umask-{p[0]:03o}")
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
