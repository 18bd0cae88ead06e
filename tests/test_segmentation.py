"""Cutting Han runs into tokens (greedy longest match against word.bin and the
user dictionary) and the plain reading of a token, seen through the public
conversions."""

import pytest

HAN10 = "一二三四五六七八九十"  # ten characters
HAN11 = HAN10 + "百"


def tokens(p, text):
    return [r[0] for r in p.convert_detailed(text)]


def test_greedy_longest_match(make_pipeline):
    p = make_pipeline(word={"中國": "zung1 gwok3", "中國人": "zung1 gwok3 jan4", "人民": "jan4 man4"})
    assert tokens(p, "中國人民") == ["中國人", "民"]
    assert p.convert("中國人民") == "zung1 gwok3 jan4 民"
    assert tokens(p, "中國中國人人民") == ["中國", "中國人", "人民"]


@pytest.mark.parametrize(
    "words, text, expected",
    [
        # a ten-character word is one token
        ({HAN10: "ten"}, HAN10, [HAN10]),
        ({HAN10: "ten"}, HAN10 + "百", [HAN10, "百"]),
        # an eleven-character word is never one token
        ({HAN11: "eleven"}, HAN11, list(HAN11)),
        ({HAN11: "eleven", HAN10: "ten"}, HAN11, [HAN10, "百"]),
        ({HAN11: "eleven", "一二": "x"}, HAN11, ["一二"] + list(HAN11[2:])),
        # unknown characters are single tokens
        ({}, "甲乙丙", ["甲", "乙", "丙"]),
        ({"乙丙": "x"}, "甲乙丙丁", ["甲", "乙丙", "丁"]),
        # a single character that word.bin holds is a word match too
        ({"乙": "x", "甲乙丙": "y"}, "乙甲乙丙乙", ["乙", "甲乙丙", "乙"]),
        # the Extension B and compatibility ranges are Han as well
        ({"\U00020000\U0002a6df": "x"}, "\U00020000\U0002a6df\U00020000", ["\U00020000\U0002a6df", "\U00020000"]),
        ({"\uf900\ufaff": "x"}, "\ufaff\uf900\ufaff", ["\ufaff", "\uf900\ufaff"]),
    ],
)
def test_word_table_segmentation(words, text, expected, make_pipeline):
    p = make_pipeline(word=words)
    assert tokens(p, text) == expected


def test_runs_are_cut_by_class(make_pipeline):
    # a word.bin key that spans a run boundary can never match
    p = make_pipeline(word={"中A": "x", "中國": "zung1 gwok3", "AB": "y"})
    assert tokens(p, "中A中國AB中 國") == ["中", "A", "中國", "AB", "中", "國"]
    assert tokens(p, "ABC中國DEF") == ["ABC", "中國", "DEF"]


@pytest.mark.parametrize(
    "words, user, text, expected",
    [
        # the longer match wins, whichever dictionary it comes from
        ({"香港人": "w"}, {"香港": "u"}, "香港人", ["香港人"]),
        ({"香港": "w"}, {"香港人": "u"}, "香港人", ["香港人"]),
        ({"香港": "w"}, {"港人": "u"}, "香港人", ["香港", "人"]),
        ({}, {"香港": "u", "香港人": "v"}, "香港人", ["香港人"]),
        ({}, {"港人": "u"}, "香港人", ["香", "港人"]),
        # a user word of ten characters matches, of eleven never does
        ({}, {HAN10: "u"}, HAN10, [HAN10]),
        ({}, {HAN11: "u"}, HAN11, list(HAN11)),
        ({}, {HAN11: "u", "一二": "v"}, HAN11, ["一二"] + list(HAN11[2:])),
        # user keys with anything but Han characters never match in a Han run
        ({}, {"香港A": "u"}, "香港A", ["香", "港", "A"]),
        ({}, {"香 港": "u"}, "香 港", ["香", "港"]),
        ({}, {"香港，": "u"}, "香港，", ["香", "港", "，"]),
        ({}, {"": "u"}, "香港", ["香", "港"]),
        ({"香港": "w"}, {"": "u"}, "香港", ["香港"]),
    ],
)
def test_user_and_word_matches_compete(words, user, text, expected, make_pipeline):
    p = make_pipeline(word=words, user_dict=user)
    assert tokens(p, text) == expected


def test_equal_length_matches_give_one_token_read_from_the_user_entry(make_pipeline):
    p = make_pipeline(
        word={"香港": "hoeng1 gong2"},
        word_candidates={"香港": "a|b"},
        user_dict={"香港": "USER"},
    )
    assert p.convert("香港") == "USER"
    assert p.convert_candidates("香港") == [("香港", ["USER"], "yue", "certain", "user_dict")]


@pytest.mark.parametrize(
    "user",
    [
        {"香港A": "u"},
        {"ABC": "u"},
        {"": "u"},
        {HAN11: "u"},
        {"，": "u"},
        {"Hello": "u"},
    ],
)
def test_inapplicable_user_keys_change_nothing(user, make_pipeline, make_data_dir):
    tables = dict(word={"香港": "hoeng1 gong2"}, char={"A": "char-A", "一": "jat1"})
    with_user = make_pipeline(user_dict=user, **tables)
    without = make_pipeline(**tables)
    text = "香港A ABC Hello，" + HAN11 + "香港，"
    assert with_user.convert(text) == without.convert(text)
    assert with_user.convert_candidates(text) == without.convert_candidates(text)
    assert all(r[4] != "user_dict" for r in with_user.convert_detailed(text))


def test_plain_reading_of_tokens_without_han_ignores_all_dictionaries(make_pipeline):
    p = make_pipeline(
        word={"ABC": "w", "，": "w"},
        char={"A": "c", "，": "c", "é": "c"},
        user_dict={"ABC": "u", "，": "u", "é": "u"},
    )
    assert p.convert("ABC，é") == "ABC ， é"


# ---------------------------------------------------------------- plain reading

# A word.bin entry whose value is not UTF-8 still has a key, so the segmenter
# cuts it as one token, but the token has no whole-word reading: that is how a
# multi-character token reaches the character-by-character reading.
BROKEN = b"\xff"


@pytest.mark.parametrize(
    "word, char, user, text, expected",
    [
        # per character: user entry, then word.bin, then char.bin, then the character
        ({"甲乙": BROKEN}, {"甲": "gaap3", "乙": "jyut3"}, {}, "甲乙", "gaap3 jyut3"),
        ({"甲乙": BROKEN, "甲": "W"}, {"甲": "gaap3", "乙": "jyut3"}, {}, "甲乙", "W jyut3"),
        ({"甲乙": BROKEN, "甲": "W"}, {"甲": "gaap3"}, {"甲": "U"}, "甲乙", "U 乙"),
        ({"甲乙": BROKEN}, {}, {}, "甲乙", "甲 乙"),
        # an empty first piece leaves the output empty: no leading space
        ({"甲乙": BROKEN}, {"甲": "", "乙": "jyut3"}, {}, "甲乙", "jyut3"),
        ({"甲乙丙": BROKEN}, {"甲": "", "乙": "", "丙": "bing2"}, {}, "甲乙丙", "bing2"),
        ({"甲乙": BROKEN}, {"甲": "gaap3"}, {"乙": ""}, "甲乙", "gaap3 "),
        # an empty middle piece leaves two adjacent spaces
        ({"甲乙丙": BROKEN}, {"甲": "gaap3", "乙": "", "丙": "bing2"}, {}, "甲乙丙", "gaap3  bing2"),
        ({"甲乙丙": BROKEN, "乙": ""}, {"甲": "gaap3", "乙": "x", "丙": "bing2"}, {}, "甲乙丙", "gaap3  bing2"),
        # readings are used verbatim, spaces and bars included
        ({"甲乙": BROKEN}, {"甲": " a|b ", "乙": "c  d"}, {}, "甲乙", " a|b  c  d"),
    ],
)
def test_character_by_character_reading(word, char, user, text, expected, make_pipeline):
    p = make_pipeline(word=word, char=char, user_dict=user)
    assert [r[0] for r in p.convert_detailed(text)] == [text]
    assert p.convert(text) == expected
    assert p.convert_candidates(text) == [(text, [expected], "yue", "certain", "char_fallback")]


@pytest.mark.parametrize(
    "char, text, expected",
    [
        # empty readings of whole tokens are joined like any other piece
        ({"甲": "", "乙": "jyut3"}, "甲乙", " jyut3"),
        ({"甲": "gaap3", "乙": ""}, "甲乙", "gaap3 "),
        ({"甲": "gaap3", "乙": ""}, "甲乙丙", "gaap3  丙"),
        ({"甲": ""}, "甲", ""),
        ({"甲": ""}, "甲，甲", " ， "),
        ({"甲": " x "}, "甲甲", " x   x "),
    ],
)
def test_token_readings_are_joined_with_single_spaces(char, text, expected, make_pipeline):
    p = make_pipeline(char=char)
    assert p.convert(text) == expected


def test_user_entry_for_one_character_applies_everywhere(make_pipeline):
    p = make_pipeline(
        word={"甲乙": BROKEN, "乙丙": "jyut3 bing2"},
        char={"乙": "jyut3"},
        user_dict={"乙": "U"},
    )
    # as a token of its own, and inside a per-character reading; a word.bin
    # word that contains it keeps its own reading
    assert p.convert("乙 甲乙 乙丙") == "U 甲 U jyut3 bing2"


def test_word_reading_beats_user_characters(make_pipeline):
    p = make_pipeline(word={"香港": "hoeng1 gong2"}, user_dict={"香": "U", "港": "V"})
    assert p.convert("香港") == "hoeng1 gong2"
    assert p.convert("港香") == "V U"
