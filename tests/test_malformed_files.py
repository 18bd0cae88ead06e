"""Dictionary files whose headers are valid but whose entries are not: ranges
outside the string pool, huge offsets, values that are not UTF-8, unsorted
tables. Loading succeeds (only the header is checked), and no conversion may
crash or raise; a broken entry reads as a miss, so the next fallback answers."""

import os
import struct
import tempfile

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from _merrow import PyPipeline
from merrow import cjyp

HEADER = struct.Struct("<4sIII")
ENTRY = struct.Struct("<IHIH")
TABLES = cjyp.TABLE_NAMES

CHAR = {"中": "zung1", "國": "gwok3", "人": "jan4"}
ZHONG = "中".encode()
GUO = "國".encode()
ZHONGGUO = "中國".encode()

INVALID_UTF8 = [
    b"\xff",
    b"\xc3",  # truncated two-byte sequence
    b"zung\x80",  # stray continuation byte
    b"\xed\xa0\x80",  # an encoded surrogate
    b"\xc0\x80",  # overlong
    b"\xf4\x90\x80\x80",  # above U+10FFFF
]


def raw(entries, pool, count=None, pool_size=None, trailer=b""):
    """A CJYP file with the given (key_offset, key_length, value_offset,
    value_length) entries, exactly as listed, and the given pool."""
    count = len(entries) if count is None else count
    pool_size = len(pool) if pool_size is None else pool_size
    body = b"".join(ENTRY.pack(*e) for e in entries)
    return HEADER.pack(b"CJYP", 1, count, pool_size) + body + pool + trailer


def run_all(p, text):
    """Runs the three conversions and checks the invariants that hold for any data."""
    plain = p.convert(text)
    detailed = p.convert_detailed(text)
    candidates = p.convert_candidates(text)
    assert isinstance(plain, str)
    assert len(detailed) == len(candidates)
    for d, c in zip(detailed, candidates):
        assert (d[0], d[2], d[3], d[4]) == (c[0], c[2], c[3], c[4])
        assert c[1] and d[1] == c[1][0]
        assert all(isinstance(x, str) for x in c[1])
    return plain, detailed, candidates


# ---------------------------------------------------------------- ranges outside the pool

# Each word.bin below holds one entry for 中國 (or a broken version of it);
# char.bin is well formed. Whatever the broken entry does, the plain reading
# of 中國 comes out of char.bin.
BROKEN_WORD_TABLES = {
    "key-offset-outside": raw([(1000, 6, 6, 3)], ZHONGGUO + b"abc"),
    "key-end-one-past-pool": raw([(3, 7, 0, 3)], ZHONGGUO + b"abc"),
    "key-offset-near-4GiB": raw([(0xFFFFFFFF, 0xFFFF, 6, 3)], ZHONGGUO + b"abc"),
    "key-offset-wraps-32-bit": raw([(0xFFFFFFFA, 12, 6, 3)], ZHONGGUO + b"abc"),
    "value-offset-outside": raw([(0, 6, 1000, 3)], ZHONGGUO + b"abc"),
    "value-end-one-past-pool": raw([(0, 6, 6, 4)], ZHONGGUO + b"abc"),
    "value-offset-near-4GiB": raw([(0, 6, 0xFFFFFFFF, 0xFFFF)], ZHONGGUO + b"abc"),
    "value-offset-wraps-32-bit": raw([(0, 6, 0xFFFFFFFE, 5)], ZHONGGUO + b"abc"),
    # the bytes after the pool lie inside the file but not inside the pool
    "value-in-trailer": raw([(0, 6, 6, 3)], ZHONGGUO, trailer=b"abc"),
    "invalid-utf8-value": raw([(0, 6, 6, 1)], ZHONGGUO + b"\xff"),
    "invalid-utf8-key": raw([(0, 2, 2, 3)], b"\xff\xfeabc"),
    "zeroed-entries": raw([(0, 0, 0, 0)] * 5000, b""),
    "many-entries-value-past-pool": raw([(0, 6, 5000, 3)] * 300, ZHONGGUO + b"abc" + b"\x00" * 1000),
    "count-smaller-than-table": raw([(0, 6, 6, 3), (0, 6, 6, 3)], b"", count=1, pool_size=0),
}


@pytest.mark.parametrize("word", BROKEN_WORD_TABLES.values(), ids=BROKEN_WORD_TABLES.keys())
def test_broken_word_entries_fall_back_to_char(word, make_data_dir):
    p = PyPipeline.from_dir(make_data_dir(word=word, char=CHAR))
    plain, detailed, candidates = run_all(p, "中國人，中國")
    assert plain == "zung1 gwok3 jan4 ， zung1 gwok3"
    # whether the broken key still cuts 中國 as one token or not, the readings
    # come out of char.bin
    assert " ".join(d[1] for d in detailed) == plain
    assert {d[4] for d in detailed} <= {"unknown", "char_fallback", "passthrough"}
    assert all(d[3] == "certain" for d in detailed)


def test_value_ending_exactly_at_the_pool_end_is_found(make_data_dir):
    word = raw([(0, 6, 6, 3)], ZHONGGUO + b"abc", trailer=b"zzz")
    p = PyPipeline.from_dir(make_data_dir(word=word, char=CHAR))
    assert p.convert("中國") == "abc"
    assert p.convert_detailed("中國") == [("中國", "abc", "yue", "certain", "unknown")]


def test_broken_value_of_a_segmented_word_reads_character_by_character(make_data_dir):
    # The key 中國 is intact, so the segmenter cuts 中國 as one token; its
    # value lies outside the pool, so the token has no word reading and is
    # read per character (resolution step 7).
    word = raw([(0, 6, 1000, 3)], ZHONGGUO)
    p = PyPipeline.from_dir(make_data_dir(word=word, char=CHAR))
    assert p.convert("中國") == "zung1 gwok3"
    assert p.convert_candidates("中國") == [("中國", ["zung1 gwok3"], "yue", "certain", "char_fallback")]


# ---------------------------------------------------------------- values that are not UTF-8


@pytest.mark.parametrize("bad", INVALID_UTF8)
def test_invalid_utf8_in_each_table_reads_as_not_found(bad, make_data_dir):
    good = dict(word={"國": "W"}, char=CHAR)
    cases = [
        # (tables, text, expected plain, expected candidates record)
        (dict(good, word={"中": bad}), "中", "zung1", ("中", ["zung1"], "yue", "certain", "unknown")),
        (dict(good, char={"中": bad}), "中", "中", ("中", ["中"], "yue", "certain", "unresolved")),
        (
            dict(good, word_candidates={"中": bad}, word_source={"中": "rime"}),
            "中",
            "zung1",
            ("中", ["zung1"], "yue", "certain", "unknown"),
        ),
        (
            dict(good, char_candidates={"中": bad}, char_source={"中": "unihan"}),
            "中",
            "zung1",
            ("中", ["zung1"], "yue", "certain", "unihan"),
        ),
        (
            dict(good, word_candidates={"國": "a|b"}, word_candidates_confidence={"國": bad}),
            "國",
            "W",
            ("國", ["a", "b"], "yue", "tied", "unknown"),
        ),
        (
            dict(good, char_candidates={"中": "a|b"}, char_candidates_confidence={"中": bad}),
            "中",
            "zung1",
            ("中", ["a", "b"], "yue", "tied", "unknown"),
        ),
        (dict(good, word_source={"國": bad}), "國", "W", ("國", ["W"], "yue", "certain", "unknown")),
        (dict(good, char_source={"人": bad}), "人", "jan4", ("人", ["jan4"], "yue", "certain", "unknown")),
    ]
    for tables, text, plain, record in cases:
        p = PyPipeline.from_dir(make_data_dir(**tables))
        assert run_all(p, text)[0] == plain
        assert p.convert_candidates(text) == [record], tables


def test_invalid_utf8_in_the_user_fallback_chain(make_data_dir):
    # 中 has an unreadable word.bin value and a user reading: the user reading
    # comes first anyway; 國's unreadable word.bin value falls to char.bin.
    p = PyPipeline(
        data_dir=make_data_dir(word={"中": b"\xff", "國": b"\xfe"}, char=CHAR),
        user_dict={"中": "U"},
    )
    assert p.convert("中國") == "U gwok3"


# ---------------------------------------------------------------- tables that break the order rule


def test_unsorted_and_duplicate_keys_do_not_crash(make_data_dir):
    keys = ["國", "中國", "中", "人", "中", "A", ""]  # neither sorted nor unique
    pool = bytearray()
    entries = []
    for i, key in enumerate(keys):
        k = key.encode()
        entries.append((len(pool), len(k), len(pool) + len(k), 2))
        pool += k + b"v%d" % i
    p = PyPipeline.from_dir(make_data_dir(word=raw(entries, bytes(pool)), char=CHAR))
    plain, detailed, _ = run_all(p, "中國人國中A")
    # each token is a key of some entry, or a single character
    for token, reading, *_ in detailed:
        assert token in keys or len(token) == 1
        assert reading.startswith("v") or reading in ("zung1", "gwok3", "jan4", "A") or " " in reading


def test_huge_entry_table_of_zeros(make_data_dir):
    word = raw([(0, 0, 0, 0)] * 200_000, b"")
    p = PyPipeline.from_dir(make_data_dir(word=word, char=raw([(0, 0, 0, 0)] * 1000, b"")))
    assert run_all(p, "中國人 Hello")[0] == "中 國 人 Hello"


# ---------------------------------------------------------------- random tables

FRAGMENTS = [ZHONG, GUO, ZHONGGUO, "人".encode(), b"|", b"zung1", b"", b"\xff", b"A", "中國人".encode()]


@st.composite
def random_table(draw):
    pool = b"".join(draw(st.lists(st.one_of(st.sampled_from(FRAGMENTS), st.binary(max_size=6)), max_size=8)))
    offset = st.one_of(
        st.integers(0, len(pool) + 2), st.integers(0, 0xFFFFFFFF), st.sampled_from([0xFFFFFFFF, 0xFFFFFFF0])
    )
    length = st.one_of(st.integers(0, 10), st.integers(0, 0xFFFF))
    entries = draw(st.lists(st.tuples(offset, length, offset, length), max_size=12))
    if draw(st.booleans()):
        # sorted by the key bytes the entries happen to point at, as a real table is
        entries.sort(key=lambda e: pool[e[0] : e[0] + e[1]] if e[0] + e[1] <= len(pool) else b"")
    count = draw(st.one_of(st.just(len(entries)), st.integers(0, len(entries))))
    trailer = draw(st.binary(max_size=8))
    return raw(entries, pool, count=count, trailer=trailer)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(
    broken=st.sampled_from(TABLES),
    table=random_table(),
    text=st.text(alphabet="中國人A ，|", max_size=12),
)
def test_random_entry_tables_never_fail(broken, table, text):
    valid = {
        "word": {"中國": "zung1 gwok3", "人": "jan4"},
        "char": CHAR,
        "word_candidates": {"中國": "a|b"},
        "char_candidates": {"人": "|x|"},
        "word_candidates_confidence": {"中國": "ranked"},
        "char_candidates_confidence": {"人": ""},
        "word_source": {"中國": "rime"},
        "char_source": {"人": "unihan"},
    }
    with tempfile.TemporaryDirectory() as d:
        for name in TABLES:
            data = table if name == broken else cjyp.encode(valid[name])
            with open(os.path.join(d, f"{name}.bin"), "wb") as f:
                f.write(data)
        p = PyPipeline.from_dir(d)
        run_all(p, text)
        run_all(p, "中國人中國人")
        del p
