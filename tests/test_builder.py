"""The dictionary builder on small fixtures: layering, labels, candidate
order, key limits, source readers and byte-identical output."""

import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))

import dictionary_layers as layers  # noqa: E402
import dictionary_sources as sources  # noqa: E402
from merrow import cjyp  # noqa: E402

from dictionary_layers import Sources, build_entries, resolve_entry, tables_from_entries  # noqa: E402

CONTEXT_FIRST = ("oral_hk", "tojyutping", "rime", "tojyutping_tiebreak", "unihan")


def fixture_sources(**overrides):
    base = dict(
        oral_hk={"嗰個": "go2 go3"},
        tojyutping_chars={"行": ["haang4", "hong4", "hang4"], "銀": ["ngan4"], "嗰": ["go2", "go3"]},
        tojyutping_words={
            "銀行": ("ngan4 hong4", True),
            "行山": ("haang4 saan1", False),
            "嗰個": ("go3 go3", True),
        },
        rime={"銀行": "ngan4 hong4", "行山": "haang4 saan1", "行": "hang4", "嗰個": "go2 go3", "山": "saan1"},
        unihan={"行": ["hang4", "hong4", "hang6"], "𠀋": ["zoeng6"], "山": ["saan1"]},
    )
    base.update(overrides)
    return Sources(**base)


@pytest.mark.parametrize(
    "key, order, reading, source",
    [
        # The default order: oral_hk, ToJyutping, rime-cantonese, Unihan.
        ("嗰個", layers.DEFAULT_LAYER_ORDER, "go2 go3", "oral_hk"),
        ("銀行", layers.DEFAULT_LAYER_ORDER, "ngan4 hong4", "tojyutping"),
        ("行山", layers.DEFAULT_LAYER_ORDER, "haang4 saan1", "tojyutping_tiebreak"),
        ("行", layers.DEFAULT_LAYER_ORDER, "haang4", "tojyutping"),
        ("山", layers.DEFAULT_LAYER_ORDER, "saan1", "rime"),
        ("𠀋", layers.DEFAULT_LAYER_ORDER, "zoeng6", "unihan"),
        # Out-of-context ToJyutping readings ranked below rime-cantonese.
        ("行山", CONTEXT_FIRST, "haang4 saan1", "rime"),
        ("銀行", CONTEXT_FIRST, "ngan4 hong4", "tojyutping"),
        # Another order changes which layer wins.
        ("行", ("rime", "tojyutping", "unihan"), "hang4", "rime"),
        ("嗰個", ("tojyutping", "oral_hk"), "go3 go3", "tojyutping"),
    ],
)
def test_first_reading_comes_from_the_first_layer_that_knows_the_key(key, order, reading, source):
    entry = resolve_entry(key, fixture_sources(), order)
    assert entry.reading == reading
    assert entry.source == source


@pytest.mark.parametrize(
    "key, order, candidates, confidence",
    [
        # One known reading: certain.
        ("銀行", layers.DEFAULT_LAYER_ORDER, ("ngan4 hong4",), "certain"),
        ("山", layers.DEFAULT_LAYER_ORDER, ("saan1",), "certain"),
        # ToJyutping's ranking kept in its order, then rime, then Unihan.
        ("行", layers.DEFAULT_LAYER_ORDER, ("haang4", "hong4", "hang4", "hang6"), "ranked"),
        # The curated layer first, the others after it.
        ("嗰個", layers.DEFAULT_LAYER_ORDER, ("go2 go3", "go3 go3"), "ranked"),
        # rime-cantonese first: its single default carries no ranking.
        ("行", ("rime", "unihan", "tojyutping"), ("hang4", "hong4", "hang6", "haang4"), "tied"),
        # Unihan's order is no preference either.
        ("行", ("unihan", "rime"), ("hang4", "hong4", "hang6"), "tied"),
    ],
)
def test_candidates_and_confidence(key, order, candidates, confidence):
    entry = resolve_entry(key, fixture_sources(), order)
    assert entry.candidates == candidates
    assert entry.confidence == confidence


def test_tiebreak_reading_that_disagrees_with_rime_is_tied():
    src = fixture_sources(tojyutping_words={"行山": ("hang4 saan1", False)})
    entry = resolve_entry("行山", src, layers.DEFAULT_LAYER_ORDER)
    assert entry.candidates == ("hang4 saan1", "haang4 saan1")
    assert (entry.confidence, entry.source) == ("tied", "tojyutping_tiebreak")
    entry = resolve_entry("行山", src, CONTEXT_FIRST)
    assert entry.candidates == ("haang4 saan1", "hang4 saan1")
    assert (entry.confidence, entry.source) == ("tied", "rime")


def test_unknown_key_and_unknown_layer():
    assert resolve_entry("龘", fixture_sources()) is None
    with pytest.raises(ValueError):
        resolve_entry("行", fixture_sources(), ("rime", "wiktionary"))


@pytest.mark.parametrize(
    "key, usable",
    [
        ("行", True),
        ("一二三四五六七八九十", True),  # exactly MAX_WORD_CHARS
        ("一二三四五六七八九十百", False),  # one more
        ("卡拉OK", False),
        ("", False),
        ("〇", False),  # not in the engine's Han ranges
        ("𠀋", True),
    ],
)
def test_key_limits(key, usable):
    assert layers.is_usable_key(key) is usable


def test_tables_split_words_and_characters_and_drop_unusable_keys():
    long_word = "一二三四五六七八九十百"
    src = fixture_sources(
        rime={"銀行": "ngan4 hong4", "行": "hang4", long_word: " ".join(["jat1"] * 11), "卡拉OK": "kaa1 laai1 ou1 kei1"},
    )
    tables = tables_from_entries(build_entries(src, layers.DEFAULT_LAYER_ORDER))
    assert set(tables) == set(layers.TABLE_NAMES)
    assert long_word not in tables["word"] and "卡拉OK" not in tables["word"]
    assert all(len(k) > 1 for k in tables["word"])
    assert all(len(k) == 1 for k in tables["char"])
    # A ToJyutping reading alone does not make a key a word.
    assert "嗰個" in tables["word"]  # oral_hk supplies it
    assert tables["word"]["銀行"] == "ngan4 hong4"
    assert tables["char"]["行"] == "haang4"
    assert tables["char_candidates"]["行"] == "haang4|hong4|hang4|hang6"
    assert tables["char_candidates_confidence"]["行"] == "ranked"
    assert tables["char_source"]["行"] == "tojyutping"
    # Single-reading keys have a source but no candidates or confidence.
    assert "銀行" in tables["word_source"]
    assert "銀行" not in tables["word_candidates"]
    assert "銀行" not in tables["word_candidates_confidence"]
    # Every candidates entry starts with the reading convert prints.
    for level in ("word", "char"):
        for key, value in tables[f"{level}_candidates"].items():
            assert value.split("|")[0] == tables[level][key]
            assert key in tables[f"{level}_candidates_confidence"]


def test_explicit_word_keys_and_character_order():
    src = fixture_sources()
    entries = build_entries(src, layers.DEFAULT_LAYER_ORDER, word_keys=["行山"], char_order=("rime", "unihan"))
    assert "銀行" not in entries and "行山" in entries
    assert entries["行"].reading == "hang4"  # characters follow char_order
    assert entries["行山"].source == "tojyutping_tiebreak"


@pytest.mark.parametrize(
    "text, ok",
    [("hoeng1", True), ("hoeng1 gong2", True), ("m4", True), ("hoeng", False), ("Hoeng1", False),
     ("hoeng1  gong2", False), ("hoeng7", False), ("", False), ("a|b1", False)],
)
def test_reading_syntax(text, ok):
    assert sources.is_reading(text) is ok


def test_read_oral_hk(tmp_path):
    path = tmp_path / "oral.tsv"
    path.write_text("# comment\n\n嗰個\tgo2 go3\tchanged tone\n來\tlai4\n", encoding="utf-8")
    assert sources.read_oral_hk(str(path)) == {"嗰個": "go2 go3", "來": "lai4"}


@pytest.mark.parametrize(
    "line",
    ["嗰個\tgo2\n", "嗰個\n", "OK\tou1\n", "來\tLai4\n", "來\tlai4\n來\tloi4\n"],
    ids=["syllable-count", "no-reading", "non-han", "bad-reading", "duplicate"],
)
def test_read_oral_hk_rejects_bad_lines(tmp_path, line):
    path = tmp_path / "oral.tsv"
    path.write_text(line, encoding="utf-8")
    with pytest.raises(ValueError):
        sources.read_oral_hk(str(path))


def test_read_rime_yaml_takes_the_heaviest_reading(tmp_path):
    path = tmp_path / "jyutping.dict.yaml"
    path.write_text(
        "---\nname: jyutping\n...\n\n"
        "行\thang4\t30%\n行\thaang4\t60%\n行\thong4\t10%\n"
        "山\tsaan1\n山\tsaan2\t5%\n"
        "銀行\tngan4 hong4\n# comment\n壞\tbad\n",
        encoding="utf-8",
    )
    assert sources.read_rime_yaml([str(path)]) == {"行": "haang4", "山": "saan1", "銀行": "ngan4 hong4"}


def test_read_rime_json_skips_bad_readings(tmp_path):
    path = tmp_path / "chars.json"
    path.write_text('{"香港": "hoeng1 gong2", "壞": "", "怪": "gwaai"}', encoding="utf-8")
    assert sources.read_rime_json(str(path)) == {"香港": "hoeng1 gong2"}


def test_read_unihan(tmp_path):
    path = tmp_path / "Unihan_Readings.txt"
    path.write_text(
        "# header\nU+884C\tkCantonese\thang4 hong4 hang6\nU+884C\tkMandarin\txíng\n"
        "U+3007\tkCantonese\tling4\nU+2000B\tkCantonese\tzoeng6\n",
        encoding="utf-8",
    )
    # U+3007 is outside the engine's Han ranges, so it is no key.
    assert sources.read_unihan(str(path)) == {"行": ["hang4", "hong4", "hang6"], "𠀋": ["zoeng6"]}


def test_writing_twice_gives_identical_files(tmp_path):
    import build_dictionaries

    tables = tables_from_entries(build_entries(fixture_sources(), layers.DEFAULT_LAYER_ORDER))
    log = []
    for name in ("a", "b"):
        build_dictionaries.write_tables(tables, str(tmp_path / name), log=log.append)
    for table in layers.TABLE_NAMES:
        a = (tmp_path / "a" / f"{table}.bin").read_bytes()
        assert a == (tmp_path / "b" / f"{table}.bin").read_bytes()
        assert cjyp.read(str(tmp_path / "a" / f"{table}.bin")) == tables[table]
    assert any("word.bin" in line and "entries" in line for line in log)
    assert oct(os.stat(tmp_path / "a" / "word.bin").st_mode & 0o777) == oct(0o644)
