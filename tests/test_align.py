"""merrow.align: every syllable or token with the span of the input it came from."""

import json

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import merrow
from merrow.alignment import (
    Alignment, align, align_batch, align_lines, aligned_pipeline, converter_align, converter_align_batch,
    plain_lines, romanise_alignment, romanise_reading,
)


def unchecked_align(text, user_dict):
    """align() through the extension itself, which takes any entries, as PyPipeline does."""
    aligned_pipeline()  # loads the extension and its entry type
    from merrow._align import AlignPipeline

    return AlignPipeline(merrow.DATA_DIR, user_dict=user_dict).align(text)


def spans(text, **kwargs):
    return [(e.start, e.end, e.normalised) for e in align(text, **kwargs)]


@pytest.mark.parametrize(
    "text, expected",
    [
        # money: every character of the spelled-out amount points at all of it
        ("$1,000", [(0, 6, "一"), (0, 6, "千"), (0, 6, "元")]),
        ("HK$5", [(0, 4, "五"), (0, 4, "元")]),
        ("有€ 20", [(0, 1, "有"), (1, 5, "二"), (1, 5, "十"), (1, 5, "歐"), (1, 5, "元")]),
        # units, percentages, fractions, ratios, counters
        ("3.5kg", [(0, 5, c) for c in "三點五公斤"]),
        ("5 km", [(0, 4, c) for c in "五公里"]),
        ("50%", [(0, 3, c) for c in "百分之五十"]),
        ("1/2", [(0, 3, c) for c in "二分之一"]),
        ("3:2", [(0, 3, c) for c in "三比二"]),
        ("第3號", [(0, 1, "第"), (1, 2, "三"), (2, 3, "號")]),
        # a year with 年: the digits read one by one, 年 points at itself
        ("2024年", [(0, 4, "二"), (0, 4, "零"), (0, 4, "二"), (0, 4, "四"), (4, 5, "年")]),
        # punctuation mapped, collapsed or deleted
        ("你好、世界", [(0, 1, "你"), (1, 2, "好"), (2, 3, "，"), (3, 4, "世"), (4, 5, "界")]),
        ("「你好」", [(1, 2, "你"), (2, 3, "好")]),
        ("等等......", [(0, 1, "等"), (1, 2, "等"), (2, 8, "。")]),
        ("a--b", [(0, 1, "a"), (1, 3, "，"), (3, 4, "b")]),
        ("a——b", [(0, 1, "a"), (1, 3, "，"), (3, 4, "b")]),
        ("好…… “好”", [(0, 1, "好"), (1, 3, "。"), (5, 6, "好")]),
        # Latin words and whitespace
        ("ABC中文 hello", [(0, 3, "ABC"), (3, 4, "中"), (4, 5, "文"), (6, 11, "hello")]),
        ("  香港\t\n", [(2, 3, "香"), (3, 4, "港")]),
        ("A4", [(0, 1, "A"), (1, 2, "四")]),
        # offsets count code points, not UTF-16 units or bytes
        ("𠀀$5", [(0, 1, "𠀀"), (1, 3, "五"), (1, 3, "元")]),
        ("", []),
    ],
)
def test_spans(text, expected):
    assert spans(text) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("你好、世界", [(0, 1, "你"), (1, 2, "好"), (2, 3, "、"), (3, 4, "世"), (4, 5, "界")]),
        ("「好」", [(0, 1, "「"), (1, 2, "好"), (2, 3, "」")]),
        ("a--b", [(0, 1, "a"), (1, 2, "-"), (2, 3, "-"), (3, 4, "b")]),
        ("$1,000元", [(0, 6, "一"), (0, 6, "千"), (0, 6, "元"), (6, 7, "元")]),
    ],
)
def test_spans_without_punctuation_pass(text, expected):
    assert spans(text, punc_norm=False) == expected


def test_entry_fields():
    (a, b, c, d) = align("香港，ok")
    assert a == Alignment(0, 1, "香", "香", "hoeng1", "yue", a.confidence, a.source, False)
    assert (b.original, b.reading) == ("港", "gong2")
    assert c[2:6] == ("，", "，", "，", "punct")
    assert (d.original, d.reading, d.lang, d.source) == ("ok", "ok", "en", "passthrough")


@pytest.mark.parametrize(
    "user_dict, text, expected",
    [
        # fewer syllables than characters: kept whole and flagged
        ({"香港": "hoenggong2"}, "去香港", [("去", "heoi3", False), ("香港", "hoenggong2", True)]),
        # more syllables than characters
        ({"港": "gong2 gong2"}, "港", [("港", "gong2 gong2", True)]),
        # one syllable per character: split, not flagged
        ({"香港": "hoeng1 gong1"}, "香港", [("香", "hoeng1", False), ("港", "gong1", False)]),
    ],
)
def test_whole_word_when_syllables_do_not_match(user_dict, text, expected):
    entries = unchecked_align(text, user_dict)
    assert [(e.normalised, e.reading, e.whole_word) for e in entries] == expected
    whole = [e for e in entries if e.whole_word]
    for e in whole:
        assert e.source == "user_dict" and text[e.start:e.end] == e.normalised


TEXTS = st.lists(
    st.sampled_from(list("香港銀行我哋去咗好多次一二三年元號") + list("0123456789０１$%.,:/ kmgHK€")
                    + list("、，。—–-…「」“”·\t\nabcZ") + ["𠀀", "\u3000", "USD", "°C"]),
    max_size=30,
).map("".join)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=TEXTS, punc_norm=st.booleans())
def test_agrees_with_the_ordinary_conversions(text, punc_norm):
    pipeline = merrow.load(punc_norm=punc_norm)
    entries = align(text, punc_norm=punc_norm)
    # The same readings and tokens as convert and convert_detailed.
    assert " ".join(e.reading for e in entries) == pipeline.convert(text)
    assert "".join(e.normalised for e in entries) == "".join(t[0] for t in pipeline.convert_detailed(text))
    # Spans lie within the text, hold its substring and never go backwards.
    last = (0, 0)
    for e in entries:
        assert 0 <= e.start < e.end <= len(text)
        assert text[e.start:e.end] == e.original
        assert (e.start, e.end) >= last
        last = (e.start, e.end)
        assert not e.whole_word


def test_labels_are_the_words_labels():
    text = "我哋去咗銀行攞錢，OK"
    detailed = merrow.load().convert_detailed(text)
    labels = {t[0]: t[2:] for t in detailed}
    entries = align(text)
    at = 0
    for token, reading, lang, _confidence, _source in detailed:
        pieces = entries[at:at + (len(token) if lang == "yue" else 1)]
        at += len(pieces)
        assert " ".join(e.reading for e in pieces) == reading
        assert all((e.lang, e.confidence, e.source) == labels[token] for e in pieces)
    assert at == len(entries)


def test_batch_matches_single_calls():
    texts = ["$1,000", "", "你好、世界", "2024年3月", "a--b"] * 40 + ["香港" * 500]
    assert align_batch(texts) == [align(t) for t in texts]
    assert align_batch(iter(texts[:3])) == [align(t) for t in texts[:3]]


def test_converter_wiring():
    conv = merrow.Converter(user_dict={"香港": "hoeng1 gong1"}, punc_norm=False)
    assert converter_align(conv, "「香港」") == align("「香港」", user_dict={"香港": "hoeng1 gong1"}, punc_norm=False)
    assert conv.align("香港") == converter_align(conv, "香港")
    assert conv.align_batch(iter(["香港", "$5"])) == converter_align_batch(conv, ["香港", "$5"])
    assert merrow.align("$5") == align("$5") and merrow.align_batch(["$5"]) == [align("$5")]
    assert converter_align_batch(conv, ["香港", "$5"]) == [converter_align(conv, t) for t in ["香港", "$5"]]


@pytest.mark.parametrize("user_dict", [{"香港": "hoenggong2"}, {"港": "gong9"}, {"ok": "ou1 kei1"}])
def test_user_dict_is_checked(user_dict):
    with pytest.raises(merrow.UserDictError):
        align("香港", user_dict=user_dict)


@pytest.mark.parametrize(
    "romanisation, reading, expected",
    [
        ("jyutping", "hoeng1 gong2 ， ok", "hoeng1 gong2 ， ok"),
        ("ipa", "hoeng1 gong2 ， ok", "hœːŋ˥ kɔːŋ˧˥ ， ok"),
        ("yale", "m4 goi1 ， ok", "m̀h gōi ， ok"),
        ("yale", "", ""),
    ],
)
def test_romanise_reading(romanisation, reading, expected):
    assert romanise_reading(reading, romanisation) == expected
    assert plain_lines([reading], romanisation) == [expected]


def test_romanise_alignment():
    entries = unchecked_align("香港ok", {"香港": "hoeng1gong2"})
    assert [e.reading for e in romanise_alignment(entries, "yale")] == ["hoeng1gong2", "ok"]
    entries = align("香港ok")
    assert [e.reading for e in romanise_alignment(entries, "yale")] == ["hēung", "góng", "ok"]
    with pytest.raises(ValueError, match="romanisation"):
        romanise_alignment(entries, "wade-giles")


def test_align_lines_json():
    lines = ["$5", "", "香港"]
    out = [json.loads(line) for line in align_lines(aligned_pipeline(), lines, "ipa")]
    assert [o["text"] for o in out] == lines
    assert out[0]["alignment"][0] == {
        "start": 0, "end": 2, "original": "$5", "normalised": "五", "reading": merrow.jyutping_to_ipa("ng5"), "lang": "yue",
        "confidence": out[0]["alignment"][0]["confidence"], "source": out[0]["alignment"][0]["source"],
        "whole_word": False,
    }
    assert out[1]["alignment"] == []


def test_aligning_pipeline_arguments(tmp_path):
    from merrow._align import AlignPipeline, set_entry_type

    p = AlignPipeline(merrow.DATA_DIR)
    with pytest.raises(TypeError):
        p.align(b"abc")
    with pytest.raises(TypeError):
        p.align_batch(("a", "b"))
    with pytest.raises(TypeError):
        p.align_batch(["a", 3])
    with pytest.raises(RuntimeError):
        AlignPipeline(str(tmp_path / "missing"))
    with pytest.raises(TypeError):
        set_entry_type(list)
    assert all(type(e) is Alignment for e in align("香港$5，ok"))
    assert aligned_pipeline() is aligned_pipeline(merrow.DATA_DIR)
