"""Candidate readings, confidence and source of each token: the fixed order of
lookups over the user dictionary and the eight tables, label defaults, and the
splitting of candidate values."""

import pytest


def records(p, text):
    return p.convert_candidates(text)


def one(p, text):
    (record,) = p.convert_candidates(text)
    return record[1:2] + record[3:]  # (candidates, confidence, source)


FULL = dict(
    word={"香港": "hoeng1 gong2", "中": "W-zung1", "中文": "zung1 man4"},
    char={"香": "hoeng1", "港": "gong2", "中": "zung1", "國": "gwok3", "人": "jan4"},
    word_candidates={"香港": "hoeng1 gong2|hoeng1 gong3", "中文": "zung1 man2|zung3 man2"},
    char_candidates={"國": "gwok3|gwok1", "中": "C1|C2"},
    word_candidates_confidence={"香港": "ranked", "中": "wc-conf"},
    char_candidates_confidence={"國": "ranked", "中": "cc-conf", "人": "cc-conf"},
    word_source={"香港": "rime", "中": "oral_hk", "中文": "tojyutping"},
    char_source={"國": "unihan", "中": "cs", "人": "tojyutping_tiebreak"},
)


@pytest.mark.parametrize(
    "tables, user, text, expected",
    [
        # 1: no Han character -> passthrough, even with entries for exactly that text
        (FULL, {"，": "u", "ABC": "u"}, "，", (["，"], "certain", "passthrough")),
        (dict(FULL, word={"ABC": "w"}, char={"é": "c"}), {"ABC": "u"}, "ABC", (["ABC"], "certain", "passthrough")),
        (FULL, {"é": "u"}, "é", (["é"], "certain", "passthrough")),
        # 2: the user entry beats every shipped table; its reading is never split
        (FULL, {"香港": "R"}, "香港", (["R"], "certain", "user_dict")),
        (FULL, {"香港": "a|b"}, "香港", (["a|b"], "certain", "user_dict")),
        (FULL, {"國": ""}, "國", ([""], "certain", "user_dict")),
        # 3: word_candidates with its own sidecars
        (FULL, {}, "香港", (["hoeng1 gong2", "hoeng1 gong3"], "ranked", "rime")),
        (FULL, {}, "中文", (["zung1 man2", "zung3 man2"], "tied", "tojyutping")),
        # 4: word.bin, always "certain"; source from word_source
        (dict(FULL, word_candidates={}), {}, "香港", (["hoeng1 gong2"], "certain", "rime")),
        # one-character tokens try the word tables first
        (FULL, {}, "中", (["W-zung1"], "certain", "oral_hk")),
        (dict(FULL, word_candidates={"中": "x|y"}), {}, "中", (["x", "y"], "wc-conf", "oral_hk")),
        # 5: char_candidates with its own sidecars
        (FULL, {}, "國", (["gwok3", "gwok1"], "ranked", "unihan")),
        (dict(FULL, word={}), {}, "中", (["C1", "C2"], "cc-conf", "cs")),
        # 6: char.bin, "certain"; the confidence sidecar is not consulted
        (FULL, {}, "人", (["jan4"], "certain", "tojyutping_tiebreak")),
        (FULL, {}, "香", (["hoeng1"], "certain", "unknown")),
        # 7: nothing holds the character
        (FULL, {}, "丁", (["丁"], "certain", "unresolved")),
        (FULL, {}, "\U00020000", (["\U00020000"], "certain", "unresolved")),
    ],
)
def test_resolution_steps(tables, user, text, expected, make_pipeline):
    p = make_pipeline(user_dict=user, **tables)
    assert one(p, text) == expected
    detailed = p.convert_detailed(text)
    assert detailed == [(text, expected[0][0], detailed[0][2], expected[1], expected[2])]


@pytest.mark.parametrize(
    "confidence, source, expected",
    [
        (None, None, ("tied", "unknown")),
        ({}, {}, ("tied", "unknown")),
        ({"香港": "ranked"}, {"香港": "rime"}, ("ranked", "rime")),
        ({"香港": "tied"}, {"香港": "oral_hk"}, ("tied", "oral_hk")),
        ({"香港": ""}, {"香港": ""}, ("", "")),
        # labels are passed through verbatim, whatever they say
        ({"香港": "Certain "}, {"香港": "some source | with bars"}, ("Certain ", "some source | with bars")),
        ({"香港": "信心"}, {"香港": "unknown"}, ("信心", "unknown")),
        # entries for other keys do not count
        ({"香": "ranked"}, {"港": "rime"}, ("tied", "unknown")),
    ],
)
def test_word_candidate_labels(confidence, source, expected, make_pipeline):
    tables = dict(word={"香港": "hoeng1 gong2"}, word_candidates={"香港": "a|b"})
    if confidence is not None:
        tables["word_candidates_confidence"] = confidence
    if source is not None:
        tables["word_source"] = source
    p = make_pipeline(**tables)
    assert one(p, "香港") == (["a", "b"], *expected)


@pytest.mark.parametrize(
    "confidence, source, expected",
    [
        (None, None, ("tied", "unknown")),
        ({"國": "ranked"}, {"國": "unihan"}, ("ranked", "unihan")),
        ({"國": ""}, {"國": ""}, ("", "")),
        ({"國": "\u2014"}, {"國": "x\ty"}, ("\u2014", "x\ty")),
    ],
)
def test_char_candidate_labels(confidence, source, expected, make_pipeline):
    tables = dict(char={"國": "gwok3"}, char_candidates={"國": "a|b"})
    if confidence is not None:
        tables["char_candidates_confidence"] = confidence
    if source is not None:
        tables["char_source"] = source
    p = make_pipeline(**tables)
    assert one(p, "國") == (["a", "b"], *expected)


def test_sidecars_are_read_at_the_level_of_the_table_that_answered(make_pipeline):
    # 中 answers from word_candidates: the character-level sidecars, which
    # hold entries for 中 too, are not consulted
    p = make_pipeline(
        word_candidates={"中": "a|b"},
        char_candidates={"中": "c|d"},
        char_candidates_confidence={"中": "ranked"},
        char_source={"中": "unihan"},
    )
    assert one(p, "中") == (["a", "b"], "tied", "unknown")
    # 國 answers from char.bin: the word-level source is not consulted
    q = make_pipeline(char={"國": "gwok3"}, word_source={"國": "rime"}, word_candidates_confidence={"國": "ranked"})
    assert one(q, "國") == (["gwok3"], "certain", "unknown")


@pytest.mark.parametrize(
    "value, expected",
    [
        ("a", ["a"]),
        ("a|b", ["a", "b"]),
        ("a|b|c", ["a", "b", "c"]),
        ("", [""]),
        ("|", ["", ""]),
        ("|a", ["", "a"]),
        ("a|", ["a", ""]),
        ("a||b", ["a", "", "b"]),
        ("||", ["", "", ""]),
        (" a | b ", [" a ", " b "]),
        ("a|a", ["a", "a"]),
        ("hoeng1 gong2|hoeng1 gong3", ["hoeng1 gong2", "hoeng1 gong3"]),
        ("一|二", ["一", "二"]),
        ("a\uff5cb", ["a\uff5cb"]),  # only U+007C separates
    ],
)
@pytest.mark.parametrize("level", ["word", "char"])
def test_candidate_splitting(level, value, expected, make_pipeline):
    p = make_pipeline(**{f"{level}_candidates": {"中": value}})
    assert one(p, "中") == (expected, "tied", "unknown")
    assert p.convert_detailed("中") == [("中", expected[0], "yue", "tied", "unknown")]


@pytest.mark.parametrize(
    "tables, text, expected",
    [
        # a one-character token held by word.bin and char_candidates.bin comes from word.bin
        (dict(word={"中": "W"}, char_candidates={"中": "a|b"}), "中", (["W"], "certain", "unknown")),
        # word_candidates before char.bin
        (dict(word_candidates={"中": "a|b"}, char={"中": "C"}), "中", (["a", "b"], "tied", "unknown")),
        # an empty value is still an entry
        (dict(word={"中": ""}, char={"中": "C"}), "中", ([""], "certain", "unknown")),
        (dict(char={"中": ""}), "中", ([""], "certain", "unknown")),
        (dict(word_candidates={"中": ""}, word={"中": "W"}), "中", ([""], "tied", "unknown")),
    ],
)
def test_word_tables_before_char_tables(tables, text, expected, make_pipeline):
    assert one(make_pipeline(**tables), text) == expected


# A word.bin entry whose value is not UTF-8 has a key (the segmenter cuts the
# word) but no reading: the only way a token of two or more characters reaches
# the last step with well-formed keys.
BROKEN = b"\xff"


@pytest.mark.parametrize(
    "tables, expected",
    [
        (dict(word={"中國": BROKEN}, char={"中": "zung1", "國": "gwok3"}), (["zung1 gwok3"], "certain", "char_fallback")),
        (dict(word={"中國": BROKEN}, char={"中": "zung1"}), (["zung1 國"], "certain", "char_fallback")),
        (dict(word={"中國": BROKEN}, char={}), (["中 國"], "certain", "char_fallback")),
        # the character tables are consulted for one-character tokens only
        (
            dict(
                word={"中國": BROKEN},
                char={"中國": "C", "中": "zung1", "國": "gwok3"},
                char_candidates={"中國": "a|b"},
                char_source={"中國": "unihan"},
            ),
            (["zung1 gwok3"], "certain", "char_fallback"),
        ),
        # an empty first piece: the reading is the other piece alone
        (dict(word={"中國": BROKEN}, char={"中": "", "國": "gwok3"}), (["gwok3"], "certain", "char_fallback")),
    ],
)
def test_multi_character_fallback(tables, expected, make_pipeline):
    p = make_pipeline(**tables)
    assert [r[0] for r in p.convert_detailed("中國")] == ["中國"]
    assert one(p, "中國") == expected


def test_unresolved_only_when_the_reading_is_the_token_itself(make_pipeline):
    # 中國 read per character gives "中 國" with a space: not the token, so
    # char_fallback; a lone unknown character reads as itself: unresolved.
    p = make_pipeline(word={"中國": BROKEN})
    assert one(p, "中國") == (["中 國"], "certain", "char_fallback")
    assert one(p, "中") == (["中"], "certain", "unresolved")
    # a character whose reading happens to be the character itself
    q = make_pipeline(char={"中": "中"})
    assert one(q, "中") == (["中"], "certain", "unknown")


def test_user_reading_with_bar_even_when_word_candidates_has_the_word(make_pipeline):
    p = make_pipeline(
        word={"香港": "hoeng1 gong2"},
        word_candidates={"香港": "x|y"},
        word_candidates_confidence={"香港": "ranked"},
        word_source={"香港": "rime"},
        user_dict={"香港": "hoeng1|gong2"},
    )
    assert p.convert_candidates("香港") == [("香港", ["hoeng1|gong2"], "yue", "certain", "user_dict")]
    assert p.convert_detailed("香港") == [("香港", "hoeng1|gong2", "yue", "certain", "user_dict")]
    assert p.convert("香港") == "hoeng1|gong2"


def test_plain_and_detailed_flavours_read_different_tables(make_pipeline):
    p = make_pipeline(
        word={"香港": "hoeng1 gong2"},
        char={"國": "gwok3"},
        word_candidates={"香港": "X|Y"},
        char_candidates={"國": "gwok1|gwok3", "中": "zung1|zung3"},
    )
    text = "香港國中"
    assert p.convert(text) == "hoeng1 gong2 gwok3 中"
    assert [r[1] for r in p.convert_detailed(text)] == ["X", "gwok1", "zung1"]
    assert [r[1] for r in p.convert_candidates(text)] == [["X", "Y"], ["gwok1", "gwok3"], ["zung1", "zung3"]]


def test_only_the_required_tables(make_pipeline):
    p = make_pipeline(word={"香港": "hoeng1 gong2"}, char={"國": "gwok3"})
    assert records(p, "香港國丁") == [
        ("香港", ["hoeng1 gong2"], "yue", "certain", "unknown"),
        ("國", ["gwok3"], "yue", "certain", "unknown"),
        ("丁", ["丁"], "yue", "certain", "unresolved"),
    ]


# Texts that reach every step above, alone and in one text.
REPEATED_TEXTS = ["香港", "中文", "中", "國", "人", "香", "丁", "國人香港中丁", "人國"]


@pytest.mark.parametrize("method", ["convert_detailed", "convert_candidates"])
@pytest.mark.parametrize("user", [{}, {"國": "U", "人國": "V"}])
@pytest.mark.parametrize(
    "tables",
    [FULL, dict(FULL, word={}), dict(FULL, char_candidates={}, word_candidates={"中": "x|y"})],
    ids=["full", "no-word-entries", "other-candidates"],
)
def test_a_pipeline_gives_a_token_the_same_records_every_time_it_meets_it(method, user, tables, make_pipeline):
    """A pipeline remembers what the tables answered for the tokens it has
    converted; what it gives for them later must be what a fresh pipeline
    gives, in any order, in single calls and in batches, and for each
    pipeline its own answer even when another pipeline holds other tables."""
    first = {t: getattr(make_pipeline(user_dict=user, **tables), method)(t) for t in REPEATED_TEXTS}
    p = make_pipeline(user_dict=user, **tables)
    other_tables = dict(tables, char={"國": "Q"}, char_candidates={})
    other = make_pipeline(user_dict=user, **other_tables)
    other_first = {t: getattr(make_pipeline(user_dict=user, **other_tables), method)(t) for t in REPEATED_TEXTS}
    for texts in (REPEATED_TEXTS, REPEATED_TEXTS[::-1], REPEATED_TEXTS):
        for t in texts:
            assert getattr(p, method)(t) == first[t], t
            assert getattr(other, method)(t) == other_first[t], t
        assert getattr(p, method + "_batch")(texts) == [first[t] for t in texts]
