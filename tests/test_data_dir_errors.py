"""Load errors of merrow.load and Converter name the directory and the file;
PyPipeline's own message stays the operating system's text."""

import os

import pytest

import _merrow
import merrow
from merrow import cjyp
from merrow.converter import Converter


def _layout(tmp_path, kind):
    d = tmp_path / "data"
    if kind == "missing":
        return str(d), "no such directory"
    if kind == "a file":
        d.write_bytes(b"")
        return str(d), "not a directory"
    d.mkdir()
    if kind == "empty":
        return str(d), "word.bin: No such file or directory"
    cjyp.write(str(d / "word.bin"), {"香港": "hoeng1 gong2"})
    if kind == "only word.bin":
        return str(d), "char.bin: No such file or directory"
    if kind == "short char.bin":
        (d / "char.bin").write_bytes(b"CJYP")
        return str(d), "char.bin: file too short"
    cjyp.write(str(d / "char.bin"), {"人": "jan4"})
    (d / "word.bin").write_bytes(b"XXXX" + bytes(40))
    return str(d), "word.bin: "


KINDS = ["missing", "a file", "empty", "only word.bin", "short char.bin", "bad word.bin"]


@pytest.mark.parametrize("kind", KINDS)
def test_load_and_converter_name_directory_and_file(tmp_path, monkeypatch, kind):
    data_dir, expected = _layout(tmp_path, kind)
    monkeypatch.setattr(merrow, "DATA_DIR", data_dir)
    for build in (merrow.load, lambda: Converter(data_dir).pipeline, lambda: Converter().pipeline):
        with pytest.raises(RuntimeError) as info:
            build()
        message = str(info.value)
        assert message.startswith(f"cannot load dictionaries from {data_dir}: ")
        assert expected in message
    with pytest.raises(RuntimeError) as info:
        _merrow.PyPipeline(data_dir=data_dir)
    assert data_dir not in str(info.value)  # the engine's message is unchanged


def test_probe_leaves_nothing_behind(tmp_path, monkeypatch):
    data_dir, _ = _layout(tmp_path, "bad word.bin")
    before = sorted(os.listdir(data_dir))
    with pytest.raises(RuntimeError):
        Converter(data_dir).pipeline  # noqa: B018 (the property loads)
    assert sorted(os.listdir(data_dir)) == before
