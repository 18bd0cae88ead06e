"""Jyutping parsing and the IPA and Yale renderings: every syllable of the
bundled dictionaries, hand-checked examples, and the inputs that must fail."""

import os
from collections import defaultdict

import pytest

import merrow
from merrow import cjyp
from merrow.romanisation import jyutping_to_ipa, jyutping_to_yale, parse_jyutping

READING_TABLES = ("word", "char", "word_candidates", "char_candidates")


@pytest.fixture(scope="module")
def bundled_syllables():
    """Every distinct syllable in the readings and candidates of the bundled data."""
    found = set()
    for name in READING_TABLES:
        for value in cjyp.read(os.path.join(merrow.DATA_DIR, name + ".bin")).values():
            for reading in value.split("|"):
                found.update(reading.split())
    return sorted(found)


def test_every_bundled_syllable_parses_and_reassembles(bundled_syllables):
    assert len(bundled_syllables) > 2000
    for syllable in bundled_syllables:
        onset, nucleus, coda, tone = parse_jyutping(syllable)
        assert f"{onset}{nucleus}{coda}{tone}" == syllable
        assert 1 <= tone <= 6


def test_ipa_keeps_every_bundled_syllable_apart(bundled_syllables):
    by_ipa = defaultdict(list)
    for syllable in bundled_syllables:
        by_ipa[jyutping_to_ipa(syllable)].append(syllable)
    assert [group for group in by_ipa.values() if len(group) > 1] == []


@pytest.mark.parametrize("tone_marks", [True, False])
def test_yale_merges_only_what_yale_cannot_spell(bundled_syllables, tone_marks):
    # Yale writes the final aa alone and a alone both as a, -oet and -eot
    # both as -eut, and ju (char.bin has 𩵋 ju4) like jyu as yu; no other two
    # syllables may come out alike.
    def merged(syllable):
        onset, nucleus, coda, tone = parse_jyutping(syllable)
        final = {"a": "aa", "oet": "eot"}.get(nucleus + coda, nucleus + coda)
        if onset == "j" and final == "u":
            final = "yu"
        return f"{onset}{final}{tone}"

    by_yale = defaultdict(set)
    for syllable in bundled_syllables:
        by_yale[jyutping_to_yale(syllable, tone_marks=tone_marks)].add(merged(syllable))
    assert {yale: keys for yale, keys in by_yale.items() if len(keys) > 1} == {}


@pytest.mark.parametrize(
    "syllable, parts",
    [
        ("hoeng1", ("h", "oe", "ng", 1)),
        ("gwong2", ("gw", "o", "ng", 2)),
        ("kwan4", ("kw", "a", "n", 4)),
        ("ngaa4", ("ng", "aa", "", 4)),
        ("seoi4", ("s", "eo", "i", 4)),
        ("jyut6", ("j", "yu", "t", 6)),
        ("wui6", ("w", "u", "i", 6)),
        ("m4", ("", "m", "", 4)),
        ("ng5", ("", "ng", "", 5)),
        ("hng6", ("h", "ng", "", 6)),
        ("aak2", ("", "aa", "k", 2)),
        ("deu6", ("d", "e", "u", 6)),
    ],
)
def test_parse_examples(syllable, parts):
    assert parse_jyutping(syllable) == parts


@pytest.mark.parametrize(
    "jyutping, ipa",
    [
        ("hoeng1 gong2", "hœːŋ˥ kɔːŋ˧˥"),
        ("gwong2 dung1 waa2", "kʷɔːŋ˧˥ tʊŋ˥ waː˧˥"),
        ("m4 goi1", "m̩˨˩ kɔːi˥"),
        ("ng5", "ŋ̍˩˧"),
        ("hm6", "hm̩˨"),
        ("seoi4 ceon1 ceot1", "sɵy˨˩ tsʰɵn˥ tsʰɵt˥"),
        ("coek3 coet1 hoe1", "tsʰœːk˧ tsʰœːt˥ hœː˥"),
        ("sik1 baat3 luk6", "sɪk˥ paːt˧ lʊk˨"),
        ("aak2", "aːk˧˥"),
        ("kwan4 ngo5", "kʷʰɐn˨˩ ŋɔː˩˧"),
        ("jyut6 jyu5 zyu1", "jyːt˨ jyː˩˧ tsyː˥"),
        ("ga3 deu6 pet6", "kɐ˧ tɛːu˨ pʰɛːt˨"),
    ],
)
def test_ipa_examples(jyutping, ipa):
    assert jyutping_to_ipa(jyutping) == ipa


@pytest.mark.parametrize(
    "jyutping, marked, numbered",
    [
        ("hoeng1 gong2", "hēung góng", "heung1 gong2"),
        ("gwong2 dung1 waa2", "gwóng dūng wá", "gwong2 dung1 wa2"),
        ("m4 goi1", "m̀h gōi", "m4 goi1"),
        ("ng4 ng5 m5", "ǹgh ńgh ḿh", "ng4 ng5 m5"),
        ("seoi4 ceon1 ceot1 deoi6", "sèuih chēun chēut deuih", "seui4 cheun1 cheut1 deui6"),
        ("coek3 hoe1", "cheuk hēu", "cheuk3 heu1"),
        ("sik1 sik6 baat3 luk6 aak2", "sīk sihk baat luhk áak", "sik1 sik6 baat3 luk6 aak2"),
        ("jyut6 jyu4 syu1 zyu2", "yuht yùh syū jyú", "yut6 yu4 syu1 jyu2"),
        ("zau2 cin4 hong4 lai4", "jáu chìhn hòhng làih", "jau2 chin4 hong4 lai4"),
        ("jau5 wui5 ji6", "yáuh wúih yih", "yau5 wui5 yi6"),
        ("baa1 maa5 gaai1", "bā máh gāai", "ba1 ma5 gaai1"),
        ("deu6", "dewh", "dew6"),
    ],
)
def test_yale_examples(jyutping, marked, numbered):
    assert jyutping_to_yale(jyutping) == marked
    assert jyutping_to_yale(jyutping, tone_marks=False) == numbered


@pytest.mark.parametrize(
    "syllable, reason",
    [
        ("", "empty string"),
        ("Hoeng1", "lower case"),
        ("hoeng", "no tone number"),
        ("hoeng\uff11", "no tone number"),
        ("hoeng7", "tone 7 is not one of 1-6"),
        ("1", "no letters"),
        ("hoeng12", "tone number 1 before the end"),
        ("hoeng1 gong2", "whitespace"),
        ("\u014baa1", "unexpected character"),
        ("xaa1", "'x' is not a Jyutping onset"),
        ("gw1", "no final after the onset 'gw'"),
        ("aaa3", "unknown final 'aaa'"),
        ("zhang1", "unknown final 'hang' after the onset 'z'"),
        ("om1", "unknown final 'om'"),
        ("yu4", "needs an onset"),
        ("gm1", "syllabic nasal 'm'"),
        ("ngng2", "syllabic nasal 'ng'"),
    ],
)
def test_invalid_syllables_raise_with_the_syllable_and_reason(syllable, reason):
    with pytest.raises(ValueError) as caught:
        parse_jyutping(syllable)
    message = str(caught.value)
    assert repr(syllable) in message
    assert reason in message


@pytest.mark.parametrize("convert", [jyutping_to_ipa, jyutping_to_yale])
def test_conversions_reject_what_the_parser_rejects(convert):
    with pytest.raises(ValueError, match="'iPhone'"):
        convert("ngo5 iPhone")
    with pytest.raises(ValueError, match="'Hoeng1'"):
        convert(["hoeng1", "Hoeng1"])


@pytest.mark.parametrize("convert", [parse_jyutping, jyutping_to_ipa, jyutping_to_yale])
@pytest.mark.parametrize("value", [None, 1, b"hoeng1"])
def test_non_text_is_a_type_error(convert, value):
    with pytest.raises(TypeError):
        convert(value)


@pytest.mark.parametrize("convert", [jyutping_to_ipa, jyutping_to_yale])
def test_result_has_the_shape_of_the_argument(convert):
    assert convert("") == ""
    assert convert("  hoeng1\tgong2 ") == convert("hoeng1 gong2")
    assert convert([]) == []
    assert convert(("hoeng1 gong2", "m4")) == [convert("hoeng1 gong2"), convert("m4")]
    with pytest.raises(TypeError):
        convert(["hoeng1", None])


def test_reexported_from_the_package():
    assert merrow.parse_jyutping is parse_jyutping
    assert merrow.jyutping_to_ipa is jyutping_to_ipa
    assert merrow.jyutping_to_yale is jyutping_to_yale
    assert {"parse_jyutping", "jyutping_to_ipa", "jyutping_to_yale"} <= set(merrow.__all__)
    namespace = {}
    exec("from merrow import *", namespace)
    assert namespace["jyutping_to_yale"] is jyutping_to_yale
