"""Building pipelines: header validation of the two required tables, the
optional sidecars, the data directory rules and the life of the mappings."""

import errno
import os
import shutil
import struct
import subprocess
import sys

import pytest

import _merrow
from _merrow import PyPipeline
from merrow import cjyp

ENOENT_MESSAGE = f"{os.strerror(errno.ENOENT)} (os error 2)"
SIDECARS = cjyp.TABLE_NAMES[2:]

WORD = {"香港": "hoeng1 gong2", "中": "W-zung1"}
CHAR = {"香": "hoeng1", "港": "gong2", "中": "zung1", "國": "gwok3"}


def header(magic=b"CJYP", version=1, count=0, pool=0):
    return struct.pack("<4sIII", magic, version, count, pool)


HEADER_CASES = [
    (b"", "file too short: 0 bytes (need at least 16)"),
    (b"CJYP\x01\x00\x00\x00\x00\x00", "file too short: 10 bytes (need at least 16)"),
    # too short is reported before the magic is looked at
    (b"PK\x03\x04\x00\x00\x00\x00\x00\x00", "file too short: 10 bytes (need at least 16)"),
    (header()[:15], "file too short: 15 bytes (need at least 16)"),
    (header(count=1) + b"\x00" * 4, "file too short: 20 bytes (need 28 for 1 entries + pool)"),
    (header(pool=5), "file too short: 16 bytes (need 21 for 0 entries + pool)"),
    (header(count=2, pool=10) + b"\x00" * 33, "file too short: 49 bytes (need 50 for 2 entries + pool)"),
    # 16 + 12 * (2**32 - 1) + (2**32 - 1) does not wrap around
    (
        header(count=0xFFFFFFFF, pool=0xFFFFFFFF),
        "file too short: 16 bytes (need 55834574851 for 4294967295 entries + pool)",
    ),
    (b"PK\x03\x04" + b"\x00" * 12, "bad magic: expected [67, 74, 89, 80], got [80, 75, 3, 4]"),
    (header(magic=b"cjyp"), "bad magic: expected [67, 74, 89, 80], got [99, 106, 121, 112]"),
    (b"\xff\xfe\x00\x80" + b"\x01\x00\x00\x00" + b"\x00" * 8, "bad magic: expected [67, 74, 89, 80], got [255, 254, 0, 128]"),
    # a wrong magic is never asked for its version
    (header(magic=b"CJYQ", version=2), "bad magic: expected [67, 74, 89, 80], got [67, 74, 89, 81]"),
    (header(version=2), "unsupported version 2 (expected 1)"),
    # the version is checked before the counts
    (header(version=2, count=100, pool=100), "unsupported version 2 (expected 1)"),
    (header(version=0), "unsupported version 0 (expected 1)"),
    (b"CJYP\x00\x00\x00\x01" + b"\x00" * 8, "unsupported version 16777216 (expected 1)"),
    (header(version=0xFFFFFFFF), "unsupported version 4294967295 (expected 1)"),
]


@pytest.mark.parametrize("contents, message", HEADER_CASES)
@pytest.mark.parametrize("table", ["word", "char"])
def test_required_table_header_errors(table, contents, message, make_data_dir):
    tables = {"word": WORD, "char": CHAR, table: contents}
    d = make_data_dir(**tables)
    with pytest.raises(RuntimeError) as info:
        PyPipeline.from_dir(d)
    assert str(info.value) == message
    assert type(info.value) is RuntimeError
    with pytest.raises(RuntimeError) as info:
        PyPipeline(data_dir=d, user_dict={"香": "x"})
    assert str(info.value) == message


@pytest.mark.parametrize(
    "contents",
    [
        header(),
        header() + b"trailing bytes are ignored",
        header(count=2, pool=10) + b"\x00" * 34,
    ],
    ids=["empty-16-bytes", "empty-with-trailer", "zeroed-entries"],
)
def test_minimal_word_tables_load(contents, make_data_dir):
    p = PyPipeline.from_dir(make_data_dir(word=contents, char=CHAR))
    # word.bin finds nothing, so every Han character is a token read from char.bin
    assert p.convert("香港中") == "hoeng1 gong2 zung1"
    assert [r[0] for r in p.convert_detailed("香港中")] == ["香", "港", "中"]


def test_extra_bytes_after_the_pool(make_data_dir):
    d = make_data_dir(word=cjyp.encode(WORD) + b"\xff" * 37, char=cjyp.encode(CHAR) + b"CJYP")
    p = PyPipeline.from_dir(d)
    assert p.convert("香港中國") == "hoeng1 gong2 W-zung1 gwok3"


def test_empty_char_table_reads_characters_as_themselves(make_data_dir):
    p = PyPipeline.from_dir(make_data_dir(word=WORD, char=header()))
    assert p.convert("國香港") == "國 hoeng1 gong2"


# ---------------------------------------------------------------- missing files


def test_missing_directory(tmp_path):
    missing = str(tmp_path / "nope")
    for build in (lambda: PyPipeline.from_dir(missing), lambda: PyPipeline(data_dir=missing)):
        with pytest.raises(RuntimeError) as info:
            build()
        assert str(info.value) == ENOENT_MESSAGE
        assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize("suffix", ["/word.bin\0", "\0", "\0/../elsewhere", "/\0"])
@pytest.mark.parametrize("how", ["constructor", "from_dir"])
def test_nul_in_the_directory_is_refused(suffix, how, make_data_dir):
    # A valid directory followed by a NUL must not load whatever the
    # truncated C string names (word.bin as both tables, say).
    d = make_data_dir(**RICH_TABLES) + suffix
    with pytest.raises(ValueError) as python_error:
        os.stat(d)
    with pytest.raises(ValueError) as info:
        if how == "constructor":
            # checked before the user dictionary, which would fail next
            PyPipeline(data_dir=d, user_dict={"香": 1})
        else:
            PyPipeline.from_dir(d)
    # os.stat says the same up to 3.12 (3.13 names the call and a character)
    assert str(info.value) == "embedded null byte"
    assert "embedded null" in str(python_error.value)
    param = "data_dir" if how == "constructor" else "dir"
    if hasattr(info.value, "add_note"):
        assert info.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize(
    "word, char, message",
    [
        (None, CHAR, ENOENT_MESSAGE),
        (WORD, None, ENOENT_MESSAGE),
        (None, None, ENOENT_MESSAGE),
        # word.bin is opened first and its error is the one reported
        (None, b"", ENOENT_MESSAGE),
        (b"", None, "file too short: 0 bytes (need at least 16)"),
        (b"", b"CJYP", "file too short: 0 bytes (need at least 16)"),
        (header(version=3), b"", "unsupported version 3 (expected 1)"),
        (WORD, header(version=3), "unsupported version 3 (expected 1)"),
    ],
)
def test_required_files_missing_or_bad(word, char, message, tmp_path):
    d = tmp_path / "d"
    d.mkdir()
    for name, contents in (("word", word), ("char", char)):
        if contents is None:
            continue
        if isinstance(contents, bytes):
            (d / f"{name}.bin").write_bytes(contents)
        else:
            cjyp.write(d / f"{name}.bin", contents)
    # all six sidecars present and valid: they do not change the outcome
    for name in SIDECARS:
        cjyp.write(d / f"{name}.bin", {"中": "x"})
    with pytest.raises(RuntimeError) as info:
        PyPipeline.from_dir(str(d))
    assert str(info.value) == message


def test_directory_is_a_regular_file(tmp_path):
    f = tmp_path / "file"
    f.write_bytes(b"")
    with pytest.raises(RuntimeError) as info:
        PyPipeline.from_dir(str(f))
    assert str(info.value) == f"{os.strerror(errno.ENOTDIR)} (os error {errno.ENOTDIR})"


@pytest.mark.parametrize("table", ["word", "char"])
def test_required_table_that_is_a_directory(table, make_data_dir, tmp_path):
    d = make_data_dir(word=WORD, char=CHAR)
    os.remove(os.path.join(d, f"{table}.bin"))
    os.mkdir(os.path.join(d, f"{table}.bin"))
    with pytest.raises(RuntimeError) as info:
        PyPipeline.from_dir(d)
    message = str(info.value)
    code = int(message.rsplit("(os error ", 1)[1].rstrip(")"))
    assert message == f"{os.strerror(code)} (os error {code})"


# ---------------------------------------------------------------- optional sidecars

BAD_SIDECAR_CONTENTS = [
    b"",
    b"CJYP\x01\x00",
    b"PK\x03\x04" + b"\x00" * 12,
    header(version=2),
    header(count=3, pool=1),
]

RICH_TABLES = dict(
    word=WORD,
    char=CHAR,
    word_candidates={"香港": "hoeng1 gong2|hoeng1 gong3"},
    char_candidates={"國": "gwok3|gwok1"},
    word_candidates_confidence={"香港": "ranked"},
    char_candidates_confidence={"國": "ranked"},
    word_source={"香港": "rime", "中": "oral_hk"},
    char_source={"國": "unihan", "香": "tojyutping"},
)
RICH_TEXT = "香港中國香港，Hello 國中香"


@pytest.mark.parametrize("contents", BAD_SIDECAR_CONTENTS, ids=["empty", "short", "magic", "version", "counts"])
@pytest.mark.parametrize("sidecar", SIDECARS)
def test_bad_sidecar_is_the_same_as_an_absent_one(sidecar, contents, make_data_dir):
    with_bad = dict(RICH_TABLES, **{sidecar: contents})
    without = {k: v for k, v in RICH_TABLES.items() if k != sidecar}
    bad = PyPipeline.from_dir(make_data_dir(**with_bad))
    absent = PyPipeline.from_dir(make_data_dir(**without))
    full = PyPipeline.from_dir(make_data_dir(**RICH_TABLES))
    assert bad.convert_candidates(RICH_TEXT) == absent.convert_candidates(RICH_TEXT)
    assert bad.convert_detailed(RICH_TEXT) == absent.convert_detailed(RICH_TEXT)
    assert bad.convert(RICH_TEXT) == absent.convert(RICH_TEXT) == full.convert(RICH_TEXT)
    # the sidecar did contribute something when it was well formed
    assert full.convert_candidates(RICH_TEXT) != absent.convert_candidates(RICH_TEXT)


def test_bad_word_source_gives_unknown(make_data_dir):
    p = PyPipeline.from_dir(
        make_data_dir(word=WORD, char=CHAR, word_source=b"PK\x03\x04" + b"\x00" * 40, char_source={"國": "unihan"})
    )
    assert [(r[0], r[4]) for r in p.convert_detailed("香港中國")] == [
        ("香港", "unknown"),
        ("中", "unknown"),
        ("國", "unihan"),
    ]


def test_sidecar_that_is_a_directory_is_ignored(make_data_dir):
    d = make_data_dir(word=WORD, char=CHAR)
    os.mkdir(os.path.join(d, "word_candidates.bin"))
    assert PyPipeline.from_dir(d).convert_candidates("香港") == [("香港", ["hoeng1 gong2"], "yue", "certain", "unknown")]


def test_only_required_files(make_data_dir):
    d = make_data_dir(word=WORD, char=CHAR)
    with open(os.path.join(d, "unrelated.bin"), "wb") as f:
        f.write(b"junk")
    p = PyPipeline.from_dir(d)
    assert p.convert_candidates("香港國") == [
        ("香港", ["hoeng1 gong2"], "yue", "certain", "unknown"),
        ("國", ["gwok3"], "yue", "certain", "unknown"),
    ]


# ---------------------------------------------------------------- data directory rules


@pytest.mark.parametrize("suffix", ["", "/", "//"])
def test_trailing_separator(suffix, make_data_dir):
    d = make_data_dir(**RICH_TABLES)
    reference = PyPipeline.from_dir(d).convert_candidates(RICH_TEXT)
    assert PyPipeline.from_dir(d + suffix).convert_candidates(RICH_TEXT) == reference
    assert PyPipeline(data_dir=d + suffix).convert_candidates(RICH_TEXT) == reference


def test_empty_data_dir_is_the_current_directory(make_data_dir, monkeypatch):
    d = make_data_dir(**RICH_TABLES)
    monkeypatch.chdir(d)
    for p in (PyPipeline(data_dir=""), PyPipeline.from_dir("")):
        assert p.convert_candidates("香港")[0] == ("香港", ["hoeng1 gong2", "hoeng1 gong3"], "yue", "ranked", "rime")


def test_relative_data_dir_follows_the_working_directory(tmp_path, monkeypatch):
    from conftest import write_data_dir

    write_data_dir(tmp_path / "a" / "dict", word={"香港": "from-a"})
    write_data_dir(tmp_path / "b" / "dict", word={"香港": "from-b"})
    monkeypatch.chdir(tmp_path / "a")
    first = PyPipeline.from_dir("dict")
    assert PyPipeline(data_dir="./dict/").convert("香港") == "from-a"
    monkeypatch.chdir(tmp_path / "b")
    assert PyPipeline.from_dir("dict").convert("香港") == "from-b"
    assert PyPipeline(data_dir="../a/dict").convert("香港") == "from-a"
    # an existing pipeline keeps what it loaded
    assert first.convert("香港") == "from-a"


def _exe_side_data_exists():
    return os.path.exists(os.path.join(os.path.dirname(sys.executable), "data"))


@pytest.mark.skipif(_exe_side_data_exists(), reason="a data directory lies beside the interpreter")
def test_default_data_dir_is_data_under_the_working_directory(tmp_path, monkeypatch):
    from conftest import write_data_dir

    write_data_dir(tmp_path / "data", word={"香港": "cwd-data"})
    monkeypatch.chdir(tmp_path)
    assert PyPipeline().convert("香港") == "cwd-data"
    assert PyPipeline(False, None, None).convert("香港") == "cwd-data"
    assert PyPipeline(user_dict={"港": "u"}).convert("港") == "u"
    monkeypatch.chdir(tmp_path / "data")
    with pytest.raises(RuntimeError) as info:
        PyPipeline()
    assert str(info.value) == ENOENT_MESSAGE


def _run_python(executable, code, cwd, pythonpath):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(pythonpath), PYTHONHOME=sys.base_prefix)
    env.pop("PYTHONSTARTUP", None)
    return subprocess.run(
        [executable, "-c", code], cwd=cwd, env=env, capture_output=True, text=True, timeout=120
    )


PROBE = (
    "import _merrow\n"
    "try:\n"
    "    print(_merrow.PyPipeline().convert('香港'))\n"
    "except RuntimeError as e:\n"
    "    print('RuntimeError:', e)\n"
)


@pytest.fixture
def private_interpreter(tmp_path):
    """A copy of the running interpreter in a directory of its own, so that a
    "data" entry can be put beside the executable."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    exe = bin_dir / os.path.basename(os.path.realpath(sys.executable))
    try:
        shutil.copy2(os.path.realpath(sys.executable), exe)
    except OSError as e:  # pragma: no cover - depends on the machine
        pytest.skip(f"cannot copy the interpreter: {e}")
    module_dir = os.path.dirname(_merrow.__file__)
    probe = _run_python(str(exe), "import _merrow", str(tmp_path), [module_dir])
    if probe.returncode != 0:  # pragma: no cover - depends on how Python was built
        pytest.skip(f"a copied interpreter does not start here: {probe.stderr[-300:]}")
    return exe, module_dir


def test_data_beside_the_executable_wins(private_interpreter, tmp_path):
    from conftest import write_data_dir

    exe, module_dir = private_interpreter
    write_data_dir(exe.parent / "data", word={"香港": "exe-data"})
    write_data_dir(tmp_path / "work" / "data", word={"香港": "cwd-data"})
    result = _run_python(str(exe), PROBE, str(tmp_path / "work"), [module_dir])
    assert result.stdout.strip() == "exe-data", result.stderr


def test_data_beside_the_executable_need_not_be_a_directory(private_interpreter, tmp_path):
    from conftest import write_data_dir

    exe, module_dir = private_interpreter
    (exe.parent / "data").write_bytes(b"not a directory")
    write_data_dir(tmp_path / "work" / "data", word={"香港": "cwd-data"})
    result = _run_python(str(exe), PROBE, str(tmp_path / "work"), [module_dir])
    expected = f"RuntimeError: {os.strerror(errno.ENOTDIR)} (os error {errno.ENOTDIR})"
    assert result.stdout.strip() == expected, result.stderr


def test_module_location_has_no_influence(private_interpreter, tmp_path):
    from conftest import write_data_dir

    exe, module_dir = private_interpreter
    # the module is loaded from a directory that has its own "data" beside it
    mod_dir = tmp_path / "mod"
    mod_dir.mkdir()
    shutil.copy2(_merrow.__file__, mod_dir / os.path.basename(_merrow.__file__))
    write_data_dir(mod_dir / "data", word={"香港": "module-data"})
    write_data_dir(tmp_path / "work" / "data", word={"香港": "cwd-data"})
    result = _run_python(str(exe), PROBE + "print(_merrow.__file__)", str(tmp_path / "work"), [str(mod_dir)])
    lines = result.stdout.strip().splitlines()
    assert lines[0] == "cwd-data", result.stderr
    assert lines[1].startswith(str(mod_dir))


# ---------------------------------------------------------------- life of the mappings


def test_replacing_and_deleting_files_does_not_affect_a_loaded_pipeline(make_data_dir):
    d = make_data_dir(**RICH_TABLES)
    p = PyPipeline.from_dir(d)
    before = (p.convert(RICH_TEXT), p.convert_detailed(RICH_TEXT), p.convert_candidates(RICH_TEXT))

    for name in ("word", "char") + SIDECARS:
        cjyp.write(os.path.join(d, f"{name}.bin"), {"香港": "new", "國": "new", "中": "new"})
    q = PyPipeline.from_dir(d)
    assert q.convert("香港國") == "new new"
    assert (p.convert(RICH_TEXT), p.convert_detailed(RICH_TEXT), p.convert_candidates(RICH_TEXT)) == before

    shutil.rmtree(d)
    assert (p.convert(RICH_TEXT), p.convert_detailed(RICH_TEXT), p.convert_candidates(RICH_TEXT)) == before
    assert q.convert("香港國") == "new new"
    with pytest.raises(RuntimeError):
        PyPipeline.from_dir(d)


def _mapped_paths():
    with open("/proc/self/maps") as f:
        return {line.split(None, 5)[5].strip() for line in f if len(line.split(None, 5)) == 6}


@pytest.mark.skipif(not os.path.exists("/proc/self/maps"), reason="needs /proc/self/maps")
def test_mappings_are_released(make_data_dir):
    d = os.path.realpath(make_data_dir(**RICH_TABLES))
    files = {os.path.join(d, f"{name}.bin") for name in RICH_TABLES}

    p = PyPipeline.from_dir(d)
    assert files <= _mapped_paths()
    del p
    assert not files & _mapped_paths()

    # a failed load releases word.bin, which had been mapped already
    with open(os.path.join(d, "char.bin"), "wb") as f:
        f.write(b"PK\x03\x04" + b"\x00" * 12)
    with pytest.raises(RuntimeError):
        PyPipeline(data_dir=d)
    assert not files & _mapped_paths()


def test_each_construction_loads_afresh(make_data_dir):
    d = make_data_dir(word={"香港": "one"}, char=CHAR)
    first = PyPipeline.from_dir(d)
    cjyp.write(os.path.join(d, "word.bin"), {"香港": "two"})
    second = PyPipeline(data_dir=d)
    assert (first.convert("香港"), second.convert("香港")) == ("one", "two")
