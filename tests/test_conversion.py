"""The three single-text conversions: result shapes, language tags, pass-through
tokens, freshness of the returned objects and the agreement between the
detailed and the candidates flavours."""

import pytest

WORD = {"你好": "nei5 hou2", "世界": "sai3 gaai3", "香港": "hoeng1 gong2", "三號": "saam1 hou6"}
CHAR = {"你": "nei5", "好": "hou2", "世": "sai3", "界": "gaai3", "三": "saam1", "號": "hou6", "一": "jat1"}
CANDIDATES = {"好": "hou2|hou3"}


@pytest.fixture
def pipeline(make_pipeline):
    return make_pipeline(word=WORD, char=CHAR, char_candidates=CANDIDATES, word_source={"你好": "rime"})


@pytest.fixture(params=[True, False], ids=["punc_norm", "no_punc_norm"])
def both(request, make_pipeline):
    return make_pipeline(word=WORD, char=CHAR, char_candidates=CANDIDATES, punc_norm=request.param)


WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a"
    "\u2028\u2029\u202f\u205f\u3000"
)


@pytest.mark.parametrize("text", ["", " ", "\t\n", WHITE_SPACE, WHITE_SPACE * 3])
def test_texts_without_tokens(text, both):
    assert both.convert(text) == ""
    assert both.convert_detailed(text) == []
    assert both.convert_candidates(text) == []


@pytest.mark.parametrize("text", ["「」", "\u201c\u201d", "《》 【】"])
def test_texts_of_deleted_marks_only(text, make_pipeline):
    p = make_pipeline(word=WORD, char=CHAR)
    assert p.convert(text) == ""
    assert p.convert_detailed(text) == []
    q = make_pipeline(word=WORD, char=CHAR, punc_norm=False)
    assert q.convert(text) == " ".join(ch for ch in text if ch != " ")


@pytest.mark.parametrize(
    "text",
    ["\x1c\x1d\x1e\x1f", "\u200b", "\u180e", "\ufeff", "\u2060"],
    ids=["info-separators", "zero-width-space", "mongolian-vowel-separator", "bom", "word-joiner"],
)
def test_characters_outside_white_space_are_tokens(text, both):
    # str.isspace() is true for some of these, but they are not White_Space
    assert [r[0] for r in both.convert_detailed(text)] == list(text)
    assert both.convert(text) == " ".join(text)


def test_hello(pipeline):
    assert pipeline.convert("Hello") == "Hello"
    assert pipeline.convert_detailed("Hello") == [("Hello", "Hello", "en", "certain", "passthrough")]
    assert pipeline.convert_candidates("Hello") == [("Hello", ["Hello"], "en", "certain", "passthrough")]


def test_one_known_word(pipeline):
    assert pipeline.convert("香港") == "hoeng1 gong2"
    assert pipeline.convert_detailed("  香港\n") == [("香港", "hoeng1 gong2", "yue", "certain", "unknown")]


def test_phrase_with_full_width_comma(both):
    text = "你好，世界"
    assert both.convert(text) == "nei5 hou2 ， sai3 gaai3"
    detailed = both.convert_detailed(text)
    assert [r[0] for r in detailed] == ["你好", "，", "世界"]
    assert detailed[1] == ("，", "，", "punct", "certain", "passthrough")
    assert [r[2] for r in detailed] == ["yue", "punct", "yue"]


def test_mixed_text(pipeline):
    text = "你好 Hello，好3號!"
    assert pipeline.convert(text) == "nei5 hou2 Hello ， hou2 saam1 hou6 !"
    assert pipeline.convert_candidates(text) == [
        ("你好", ["nei5 hou2"], "yue", "certain", "rime"),
        ("Hello", ["Hello"], "en", "certain", "passthrough"),
        ("，", ["，"], "punct", "certain", "passthrough"),
        ("好", ["hou2", "hou3"], "yue", "tied", "unknown"),
        ("三號", ["saam1 hou6"], "yue", "certain", "unknown"),
        ("!", ["!"], "punct", "certain", "passthrough"),
    ]


def test_numbers_become_han_tokens(pipeline):
    # 3 is spelled out before segmentation, so 三號 is found as one word
    assert [r[0] for r in pipeline.convert_detailed("3號")] == ["三號"]
    assert pipeline.convert("３號") == "saam1 hou6"
    detailed = pipeline.convert_detailed("A1")
    assert [(r[0], r[2]) for r in detailed] == [("A", "en"), ("一", "yue")]
    assert pipeline.convert("A1") == "A jat1"


@pytest.mark.parametrize(
    "text, lang",
    [
        ("Hello", "en"),
        ("ABC", "en"),
        ("abcXYZ", "en"),
        ("\u4e00", "yue"),
        ("\u9fff", "yue"),
        ("\u3400", "yue"),
        ("\u4dbf", "yue"),
        ("\U00020000", "yue"),
        ("\U0002a6df", "yue"),
        ("\uf900", "yue"),
        ("\ufa0e", "yue"),
        ("\ufaff", "yue"),
        ("\u4dc0", "punct"),  # just past Extension A
        ("\u33ff", "punct"),
        ("\U0001ffff", "punct"),
        ("\U0002a6e0", "punct"),  # just past Extension B
        ("\U0002a700", "punct"),  # Extension C is not Han here
        ("\U00030000", "punct"),
        ("\uf8ff", "punct"),
        ("\ufb00", "punct"),
        ("\uff38", "punct"),  # full-width X
        ("\u30ab", "punct"),  # katakana
        ("\u2f00", "punct"),  # Kangxi radical
        ("\u00e9", "punct"),
        ("-", "punct"),
        ("\u0301", "punct"),  # a lone combining mark
        ("\ud55c", "punct"),  # Hangul
        ("\U0001f600", "punct"),
        ("\x00", "punct"),
        ("\x7f", "punct"),
        ("\U0010ffff", "punct"),
        ("\u0663", "punct"),  # Arabic-Indic digit: not a digit this system spells out
    ],
)
def test_language_tags(text, lang, both):
    detailed = both.convert_detailed(text)
    assert [(r[0], r[2]) for r in detailed] == [(text, lang)]
    assert both.convert_candidates(text)[0][2] == lang
    if lang != "yue":
        assert detailed[0][1:] == (text, lang, "certain", "passthrough")
        assert both.convert(text) == text


def test_other_characters_are_single_tokens(both):
    text = "éé--カカ\U0001f600\U0001f600"
    expected = ["é", "é", "-", "-", "カ", "カ", "\U0001f600", "\U0001f600"]
    if both.convert("、") == "，":  # punctuation pass on: "--" is one full-width comma
        expected[2:4] = ["，"]
    assert [r[0] for r in both.convert_detailed(text)] == expected
    assert both.convert(text) == " ".join(expected)


def test_results_are_fresh_objects(pipeline):
    text = "你好，好"
    a, b = pipeline.convert_detailed(text), pipeline.convert_detailed(text)
    assert a == b and a is not b
    assert all(x is not y for x, y in zip(a, b))
    c, d = pipeline.convert_candidates(text), pipeline.convert_candidates(text)
    assert c == d and c is not d
    assert c[2][1] is not d[2][1]
    c[2][1].append("mutated")
    c[2][1][0] = "changed"
    a.clear()
    assert pipeline.convert_candidates(text) == d
    assert pipeline.convert_candidates(text)[2][1] == ["hou2", "hou3"]
    assert pipeline.convert_detailed(text) == b


@pytest.mark.parametrize("repeats", [1, 60])  # 60: long enough for repeated tokens to be remembered
def test_records_of_repeated_tokens_are_separate_objects(pipeline, repeats):
    text = "你好，好。" * repeats
    once = [
        ("你好", "nei5 hou2", "yue", "certain", "rime"),
        ("，", "，", "punct", "certain", "passthrough"),
        ("好", "hou2", "yue", "tied", "unknown"),
        ("。", "。", "punct", "certain", "passthrough"),
    ]
    detailed = pipeline.convert_detailed(text)
    candidates = pipeline.convert_candidates(text)
    assert detailed == once * repeats
    assert len({id(r) for r in detailed}) == len(detailed) == len(candidates)
    lists = [r[1] for r in candidates if r[0] == "好"]
    assert lists == [["hou2", "hou3"]] * repeats
    assert len({id(lst) for lst in lists}) == repeats
    lists[0].append("mutated")
    assert lists[1:] == [["hou2", "hou3"]] * (repeats - 1)


def test_result_types(pipeline):
    text = "你好 Hello，好丁"
    assert type(pipeline.convert(text)) is str
    detailed = pipeline.convert_detailed(text)
    candidates = pipeline.convert_candidates(text)
    assert type(detailed) is list and type(candidates) is list
    for record in detailed:
        assert type(record) is tuple and len(record) == 5
        assert all(type(field) is str for field in record)
    for record in candidates:
        assert type(record) is tuple and len(record) == 5
        assert type(record[1]) is list and record[1]
        assert all(type(x) is str for x in record[1])
        assert all(type(record[i]) is str for i in (0, 2, 3, 4))


@pytest.mark.parametrize("method", ["convert", "convert_detailed", "convert_candidates"])
def test_keyword_and_positional_text(method, pipeline):
    f = getattr(pipeline, method)
    text = "你好，世界 Hello 3號"
    assert f(text=text) == f(text)


INVARIANT_TEXTS = [
    "",
    "你好，世界",
    "你好 Hello，好3號! 丁",
    "「香港」……——--1/2 50% $100",
    "\U00020000\ufa0e\uff38カ\u2f00é-",
    "\x00\x1f\u0301\ufeff",
    "好好好好好好好好好好好好",
]


@pytest.mark.parametrize("text", INVARIANT_TEXTS)
def test_detailed_and_candidates_agree(text, both):
    detailed = both.convert_detailed(text)
    candidates = both.convert_candidates(text)
    assert len(detailed) == len(candidates)
    for d, c in zip(detailed, candidates):
        assert (d[0], d[2], d[3], d[4]) == (c[0], c[2], c[3], c[4])
        assert d[1] == c[1][0]


def test_empty_text_shortcut(pipeline):
    assert pipeline.convert("") == ""
    assert pipeline.convert_detailed("") == []
    assert pipeline.convert_candidates("") == []
    assert pipeline.convert_detailed(text="") == []


@pytest.mark.parametrize("method", ["convert", "convert_detailed", "convert_candidates", "convert_batch"])
def test_long_text_on_a_thread_with_a_small_stack(pipeline, method):
    # A conversion keeps its scratch tables on the stack; a thread with a
    # quarter of a MiB of it still converts a long text.
    import threading

    text = "你好，世界。香港三號！" * 2000
    f = getattr(pipeline, method)
    argument = [text, text] if method == "convert_batch" else text
    results = []
    previous = threading.stack_size(256 * 1024)
    try:
        worker = threading.Thread(target=lambda: results.append(f(argument)))
        worker.start()
        worker.join()
    finally:
        threading.stack_size(previous)
    assert results == [f(argument)]
