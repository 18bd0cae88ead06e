"""The dictionaries shipped in the package: present, well-formed, consistent,
and reading well-known words as expected."""

import os
import re

import pytest

import merrow
from merrow import cjyp
from merrow.contracts import MAX_WORD_CHARS, is_han

TABLES = cjyp.TABLE_NAMES
SOURCES = {"rime", "tojyutping", "tojyutping_tiebreak", "oral_hk", "unihan"}
SYLLABLE = re.compile(r"[a-z]+[1-6]")


@pytest.fixture(scope="module")
def tables():
    return {name: cjyp.read(os.path.join(merrow.DATA_DIR, name + ".bin")) for name in TABLES}


@pytest.fixture(scope="module")
def pipeline():
    return merrow.load()


def test_all_eight_files_are_bundled_and_open(tables):
    for name in TABLES:
        with open(os.path.join(merrow.DATA_DIR, name + ".bin"), "rb") as f:
            assert f.read(8) == b"CJYP\x01\x00\x00\x00", name
        assert tables[name], f"{name}.bin is empty"


def test_every_sidecar_is_loaded_by_the_module(pipeline):
    # Sidecars fail silently when malformed, so check that their labels
    # actually reach the output: candidates, "ranked" and a stored source.
    (token, candidates, lang, confidence, source), = pipeline.convert_candidates("行")
    assert len(candidates) > 1 and confidence in {"ranked", "tied"} and source in SOURCES
    (_, word_candidates, _, word_confidence, word_source), = pipeline.convert_candidates("嗰個")
    assert len(word_candidates) > 1 and word_source in SOURCES and word_confidence in {"ranked", "tied"}


@pytest.mark.parametrize(
    "text, reading",
    [
        ("香港", "hoeng1 gong2"),
        ("廣東話", "gwong2 dung1 waa2"),
        ("佢哋", "keoi5 dei6"),
        ("銀行", "ngan4 hong4"),
        ("行路", "haang4 lou6"),
        ("唔該", "m4 goi1"),
        ("我哋", "ngo5 dei6"),
        ("嘢", "je5"),
        ("嗰個", "go2 go3"),  # changed tone
        ("聽到", "teng1 dou2"),  # oral_hk
    ],
)
def test_well_known_words(pipeline, text, reading):
    assert pipeline.convert(text) == reading
    assert [t[1] for t in pipeline.convert_detailed(text)] == [reading]


def test_polyphonic_character_in_context(pipeline):
    # 行 alone and in words: haang4 (walk), hong4 (bank), hang4 (conduct).
    assert pipeline.convert("行") == "haang4"
    assert pipeline.convert("銀行") == "ngan4 hong4"
    assert pipeline.convert("行為") == "hang4 wai4"


def test_keys_are_usable_by_the_segmenter(tables):
    for key in tables["word"]:
        assert 2 <= len(key) <= MAX_WORD_CHARS and all(is_han(ch) for ch in key), key
    for key in tables["char"]:
        assert len(key) == 1 and is_han(key), key


def test_readings_and_candidates_are_consistent(tables):
    for level in ("word", "char"):
        readings = tables[level]
        for key, reading in readings.items():
            syllables = reading.split(" ")
            assert all(SYLLABLE.fullmatch(s) for s in syllables), (key, reading)
            if level == "word":
                # One syllable per character, except where a character is a
                # contraction read as two (卅 saa1 aa6).
                assert len(syllables) == len(key) or "卅" in key, (key, reading)
        for key, value in tables[f"{level}_candidates"].items():
            candidates = value.split("|")
            assert len(candidates) >= 2 and len(set(candidates)) == len(candidates), key
            assert candidates[0] == readings[key], key
            assert tables[f"{level}_candidates_confidence"][key] in {"ranked", "tied"}, key
        assert set(tables[f"{level}_candidates_confidence"]) == set(tables[f"{level}_candidates"])
        assert set(tables[f"{level}_source"]) == set(readings)
        assert set(tables[f"{level}_source"].values()) <= SOURCES


def test_detailed_and_plain_agree_on_bundled_data(pipeline):
    text = "我哋今日去銀行攞錢，之後行山，佢話好攰"
    plain = pipeline.convert(text)
    detailed = " ".join(t[1] for t in pipeline.convert_detailed(text))
    assert plain == detailed


def test_bundled_context_model_is_well_formed(tables):
    # char_context.bin (tools/context_model.py): a bias, the sorted set of
    # scored characters, verb keys with empty values, their spreads, and feature keys of
    # those characters whose weights name only candidates of their
    # character (those weighted 0 left out), as integers, within the key
    # size a resolver's buffer holds.
    model = cjyp.read(os.path.join(merrow.DATA_DIR, "char_context.bin"))
    assert int(model["#bias"]) > 0
    scored = model["#chars"]
    assert list(scored) == sorted(set(scored)) and all(map(is_han, scored))
    features = 0
    for key, value in model.items():
        assert len(key.encode("utf-8")) <= 64, key
        if key[0] in "#v":
            assert key in ("#bias", "#chars") or value == "", key
            continue
        if key[0] == "S":  # the spreads of a scored character's P, N and V features
            assert key[1:] in scored and re.fullmatch(r"([PNV] [0-9]+)?(\|[PNV] [0-9]+)*", value), key
            continue
        assert key[0] in "LRBPNV" and key[1] in scored, key
        candidates = tables["char_candidates"][key[1]].split("|")
        pieces = [piece.rpartition(" ") for piece in value.split("|")] if value else []
        assert {r for r, _, _ in pieces} <= set(candidates), key
        assert all(re.fullmatch(r"-?[0-9]+", w) for _, _, w in pieces), key
        features += 1
    assert features > 1000
    assert {key[1:] for key in model if key[0] == "S"} == set(scored)
