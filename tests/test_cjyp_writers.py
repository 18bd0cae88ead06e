"""The C++ drivers' CJYP test writer and merrow.cjyp write the same bytes."""

import os
import shutil
import subprocess

import pytest

from merrow import cjyp

HERE = os.path.dirname(os.path.abspath(__file__))
COMPILER = shutil.which(os.environ.get("CXX", "c++")) or shutil.which("g++")


@pytest.fixture(scope="module")
def cpp_writer(tmp_path_factory):
    if COMPILER is None:
        pytest.skip("no C++ compiler")
    exe = tmp_path_factory.mktemp("cjyp") / "cjyp_dump"
    subprocess.run([COMPILER, "-std=c++20", "-O1", "-o", str(exe), os.path.join(HERE, "cpp", "cjyp_dump.cpp")],
                   check=True)
    return exe


@pytest.mark.parametrize(
    "entries",
    [
        {},
        {"中": "zung1"},
        # equal values, a value equal to a key, an empty value and an empty key
        {"中國": "x", "香港": "x", "x": "中國", "空": "", "": "empty key"},
        # bytewise order across UTF-8 lengths, and a supplementary character
        {"Z": "1", "a": "2", "\u00e9": "3", "\u4e00": "4", "\U00020000": "5", "\uff21": "6"},
        {f"{i:03d}字": "|".join(["a", "", "b"][: i % 3 + 1]) for i in range(300)},
    ],
    ids=["empty", "one", "shared", "order", "many"],
)
def test_writers_agree(cpp_writer, entries):
    lines = "".join(f"{k}\t{v}\n" for k, v in entries.items()).encode("utf-8")
    written = subprocess.run([str(cpp_writer)], input=lines, capture_output=True, check=True).stdout
    assert written == cjyp.encode(entries)
