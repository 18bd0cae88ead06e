"""The trie index written after a CJYP table's pool: deterministic bytes, a
trie that leads every key to its entry and nothing else anywhere, and a
trailer that the engine ignores (results are the same with and without)."""

import os
import random
import struct

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import merrow
from merrow import cjyp, cjyp_index
from _merrow import PyPipeline

from synthetic_corpus import CHAR, USER, WORD, corpus_lines


def trailer_of(data):
    count, pool_size = struct.unpack_from("<II", data, 8)
    start = 16 + 12 * count + pool_size
    return start, cjyp_index.HEADER.unpack_from(data, start)


def walk(data, key):
    """Entry index of `key` by the trie alone, or None (a reference reader,
    which ignores the check bytes: they must agree with the units)."""
    start, header = trailer_of(data)
    _, _, count, _, id_bytes, bi_off, bi_count, blocks_off, block_count, units_off, unit_count, _, _ = header
    fmt = "<H" if id_bytes == 2 else "<I"
    state = 0
    for ch in key:
        cp = ord(ch)
        if cp >> 8 >= bi_count:
            return None
        (block,) = struct.unpack_from("<H", data, start + bi_off + 2 * (cp >> 8))
        if block >= block_count:
            return None
        (char_id,) = struct.unpack_from(fmt, data, start + blocks_off + id_bytes * (block * 256 + (cp & 255)))
        base, _, _ = struct.unpack_from("<iII", data, start + units_off + 12 * state)
        nxt = base + char_id
        if char_id == 0 or not 0 <= nxt < unit_count:
            return None
        if struct.unpack_from("<iII", data, start + units_off + 12 * nxt)[1] != state:
            return None
        state = nxt
    entry = struct.unpack_from("<iII", data, start + units_off + 12 * state)[2]
    return entry if entry < count else None


keys = st.text(alphabet=st.sampled_from("ab中國人一丁é𠀀\U0010ffff"), max_size=6)


@settings(max_examples=150, deadline=None)
@given(st.dictionaries(keys, st.sampled_from(["", "x", "jat1"]), max_size=40), st.lists(keys, max_size=20))
def test_every_key_leads_to_its_entry_and_nothing_else_matches(table, probes):
    data = cjyp.encode(table, index=True)
    order = sorted(table, key=lambda k: k.encode())
    for i, key in enumerate(order):
        assert walk(data, key) == i
    for probe in probes:
        assert walk(data, probe) == (order.index(probe) if probe in table else None)


@pytest.mark.parametrize(
    "table",
    [{}, {"": "empty key"}, {"中": "zung1", "中國": "zung1 gwok3", "A": "a", "a": "b"}, dict(WORD, **CHAR)],
    ids=["empty", "empty-key", "prefixes", "lexicon"],
)
def test_bytes_are_deterministic_and_the_table_is_unchanged(table):
    indexed = cjyp.encode(table, index=True)
    reordered = cjyp.encode(dict(reversed(list(table.items()))), index=True)
    plain = cjyp.encode(table)
    assert indexed == reordered
    assert cjyp_index.with_index(plain) == indexed
    assert cjyp_index.with_index(indexed) == indexed  # an old trailer is replaced
    assert indexed.startswith(plain)
    start, header = trailer_of(indexed)
    magic, version, count, pool_size, id_bytes, bi_off, _, blocks_off, _, units_off, unit_count, cb_off, cb_count = header
    assert start == len(plain)
    assert (magic, version, count, id_bytes) == (b"CJYX", 2, len(table), 2)
    assert pool_size == struct.unpack_from("<I", plain, 12)[0]
    assert all((start + offset) % 4 == 0 for offset in (bi_off, blocks_off, units_off))
    assert (cb_off, cb_count) == (units_off + 12 * unit_count, unit_count)
    assert len(indexed) == start + cb_off + cb_count
    checks = struct.unpack_from(f"<{3 * unit_count}I", indexed, start + units_off)[1::3]
    assert indexed[start + cb_off :] == bytes(check & 0xFF for check in checks)


def test_more_characters_than_two_byte_ids_hold():
    table = {chr(cp): "x" for cp in range(0x20000, 0x20000 + 0x10000)}
    table["𠀀𠀁"] = "y"
    data = cjyp.encode(table, index=True)
    assert trailer_of(data)[1][4] == 4
    assert walk(data, "𠀀𠀁") == 1 and walk(data, "\U0002ffff") == len(table) - 1
    assert walk(data, "𠀁𠀀") is None


@pytest.mark.parametrize(
    "entries, message",
    [({b"\xff": "bad"}, "not UTF-8"), ({b"\xe4\xb8": "cut"}, "not UTF-8")],
)
def test_keys_that_cannot_be_indexed(entries, message):
    cjyp.encode(entries)  # the table alone is fine
    with pytest.raises(ValueError, match=message):
        cjyp.encode(entries, index=True)


@pytest.mark.parametrize(
    "data",
    [b"", b"CJYP", b"CJYQ" + bytes(12), b"CJYP" + struct.pack("<III", 1, 1, 0), b"CJYP" + struct.pack("<III", 2, 0, 0)],
    ids=["empty", "short", "magic", "short-for-counts", "version"],
)
def test_with_index_refuses_what_is_not_a_table(data):
    with pytest.raises(ValueError):
        cjyp_index.with_index(data)


def test_with_index_refuses_unsorted_keys():
    swapped = cjyp.HEADER.pack(cjyp.MAGIC, 1, 2, 2) + cjyp.ENTRY.pack(1, 1, 1, 0) + cjyp.ENTRY.pack(0, 1, 0, 0) + b"ab"
    with pytest.raises(ValueError, match="sorted"):
        cjyp_index.with_index(swapped)


def test_write_puts_the_index_in_the_same_file(tmp_path):
    path = tmp_path / "word.bin"
    cjyp.write(path, WORD, index=True)
    assert path.read_bytes() == cjyp.encode(WORD, index=True)
    assert cjyp.read(path) == WORD


def results(pipeline, texts):
    return (
        [pipeline.convert(t) for t in texts],
        [pipeline.convert_detailed(t) for t in texts],
        [pipeline.convert_candidates(t) for t in texts],
        pipeline.convert_batch(texts),
    )


def test_the_engine_ignores_the_index_on_the_bundled_tables(tmp_path):
    for name in cjyp.TABLE_NAMES:
        with open(os.path.join(merrow.DATA_DIR, name + ".bin"), "rb") as f:
            (tmp_path / (name + ".bin")).write_bytes(cjyp_index.with_index(f.read()))
    rng = random.Random(19)
    words = list(cjyp.read(os.path.join(merrow.DATA_DIR, "word_candidates.bin")))
    texts = ["".join(rng.choice(words) for _ in range(rng.randint(1, 8))) + "，$100。" for _ in range(300)]
    texts += corpus_lines(100, seed=19)
    plain = PyPipeline(data_dir=merrow.DATA_DIR)
    indexed = PyPipeline(data_dir=str(tmp_path))
    assert results(indexed, texts) == results(plain, texts)


def as_version_1(data):
    """The same table with its trailer read as the first version of the
    index, which has no check bytes (they become unused bytes at its end)."""
    start, _ = trailer_of(data)
    return data[: start + 4] + struct.pack("<I", 1) + data[start + 8 :]


def test_an_index_of_the_first_version_gives_the_same_results(tmp_path):
    for name in cjyp.TABLE_NAMES:
        with open(os.path.join(merrow.DATA_DIR, name + ".bin"), "rb") as f:
            data = f.read()
        assert trailer_of(data)[1][1] == 2
        (tmp_path / (name + ".bin")).write_bytes(as_version_1(data))
    texts = corpus_lines(300, seed=23)
    assert results(PyPipeline(data_dir=str(tmp_path)), texts) == results(PyPipeline(data_dir=merrow.DATA_DIR), texts)


def test_the_engine_ignores_the_index_on_every_table_of_a_set(make_data_dir, tmp_path):
    tables = {
        "word": WORD, "char": CHAR, "word_candidates": {"銀行": "ngan4 hong4|ngan4 hang4"},
        "char_candidates": {"行": "hang4|hong4"}, "word_source": {"銀行": "rime"}, "char_source": {"行": "unihan"},
        "word_candidates_confidence": {"銀行": "ranked"}, "char_candidates_confidence": {"行": "tied"},
    }
    plain_dir = make_data_dir(**tables)
    indexed_dir = make_data_dir(**{name: cjyp.encode(t, index=True) for name, t in tables.items()})
    texts = corpus_lines(200, seed=7)
    for user in (None, USER):
        assert results(PyPipeline(data_dir=indexed_dir, user_dict=user), texts) == results(
            PyPipeline(data_dir=plain_dir, user_dict=user), texts
        )
