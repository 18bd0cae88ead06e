"""Normaliser behaviour seen through the tokens of convert_detailed.

Over empty dictionaries every token is passed through, so the tokens joined
together are the normalised text with its whitespace removed.
"""

from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _merrow

# Unicode White_Space: the characters the run splitter drops.
WHITE_SPACE = frozenset(
    [chr(c) for c in range(0x09, 0x0E)]
    + ["\u0020", "\u0085", "\u00a0", "\u1680"]
    + [chr(c) for c in range(0x2000, 0x200B)]
    + ["\u2028", "\u2029", "\u202f", "\u205f", "\u3000"]
)

ASCII_DIGITS = frozenset("0123456789")
FULL_WIDTH_DIGITS = frozenset(chr(c) for c in range(0xFF10, 0xFF1A))

DELETED = (
    "\u2018\u2019\u201c\u201d\u203b\u25a0\u25a1\u25b2\u25b3\u25bc\u25bd\u25c6\u25c7\u25cb"
    "\u25ce\u25cf\u2605\u2606\u3008\u3009\u300a\u300b\u300c\u300d\u300e\u300f\u3010\u3011"
    "\u3014\u3015"
)

MAX_U64 = 18446744073709551615


def without_ws(text):
    return "".join(ch for ch in text if ch not in WHITE_SPACE)


def tokens(pipeline, text):
    return [t[0] for t in pipeline.convert_detailed(text)]


def normalised(pipeline, text):
    return "".join(tokens(pipeline, text))


@pytest.fixture(params=[True, False], ids=["punc_norm", "no_punc_norm"])
def any_pipeline(request, make_data_dir):
    return _merrow.PyPipeline.from_dir(make_data_dir(), punc_norm=request.param)


@pytest.fixture
def punc_pipeline(make_data_dir):
    return _merrow.PyPipeline.from_dir(make_data_dir(), punc_norm=True)


@pytest.fixture
def raw_pipeline(make_data_dir):
    return _merrow.PyPipeline.from_dir(make_data_dir(), punc_norm=False)


# Number readings, shared with the C++ normaliser driver. Expansions do not
# depend on punc_norm.
def _number_cases():
    kinds = {}
    for line in (Path(__file__).parent / "data" / "number_cases.tsv").read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            kind, given, expected = line.split("\t")
            kinds.setdefault(kind, []).append((given, expected))
    return kinds


_CASES = _number_cases()
EXPAND_CASES = _CASES["expand"]
CARDINAL_CASES = [(int(value), expected) for value, expected in _CASES["cardinal"]]
DECIMAL_CASES = _CASES["decimal"]
UNITS = _CASES["unit"]
CURRENCY_CODES = _CASES["code"]


@pytest.mark.parametrize("text, expected", EXPAND_CASES)
def test_numbers(any_pipeline, text, expected):
    assert normalised(any_pipeline, text) == without_ws(expected)


@pytest.mark.parametrize("value, expected", CARDINAL_CASES)
def test_cardinal_through_amounts(any_pipeline, value, expected):
    assert normalised(any_pipeline, f"${value}") == expected + "元"


@pytest.mark.parametrize("value, expected", [(v, e) for v, e in CARDINAL_CASES if v >= 10**8])
def test_cardinal_of_plain_fitting_numbers_before_a_counter(any_pipeline, value, expected):
    # Long digit strings read digit by digit unless a counter follows them.
    assert normalised(any_pipeline, f"{value}號") == expected + "號"


@pytest.mark.parametrize("text, expected", DECIMAL_CASES)
def test_decimals(any_pipeline, text, expected):
    assert normalised(any_pipeline, text) == expected


COUNTERS = "分位名季室屆層日時月期樓班秒組號集點"


@pytest.mark.parametrize("unit, word", UNITS)
@pytest.mark.parametrize("gap", ["", " "], ids=["joined", "spaced"])
def test_every_unit(any_pipeline, unit, word, gap):
    assert normalised(any_pipeline, f"7{gap}{unit}!") == f"七{word}!"


@pytest.mark.parametrize("unit, word", UNITS)
def test_unit_followed_by_a_letter_is_not_a_unit(any_pipeline, unit, word):
    out = normalised(any_pipeline, f"7{unit}x")
    assert word not in out
    assert out.startswith("七")


@pytest.mark.parametrize("code, word", CURRENCY_CODES)
def test_every_currency_code(any_pipeline, code, word):
    assert normalised(any_pipeline, f"{code}12") == f"十二{word}"
    assert normalised(any_pipeline, f"{code} 3.5") == f"三點五{word}"
    assert normalised(any_pipeline, f"{code}x 12") == f"{code}x十二"


@pytest.mark.parametrize("counter", list(COUNTERS))
def test_every_counter_reads_a_cardinal(any_pipeline, counter):
    assert normalised(any_pipeline, f"2000{counter}") == f"二千{counter}"
    assert normalised(any_pipeline, f"12345678{counter}") == f"一千二百三十四萬五千六百七十八{counter}"


@pytest.mark.parametrize("count", [2, 3], ids=["two", "three"])
def test_only_one_space_is_skipped(punc_pipeline, raw_pipeline, count):
    # Stage 1 collapses the spaces, so with punc_norm the pairs match again.
    gap = " " * count
    assert normalised(punc_pipeline, f"USD{gap}50") == "五十美元"
    assert normalised(punc_pipeline, f"5{gap}kg") == "五公斤"
    assert normalised(raw_pipeline, f"USD{gap}50") == "USD五十"
    assert normalised(raw_pipeline, f"5{gap}kg") == "五kg"


def test_tab_before_unit(punc_pipeline, raw_pipeline):
    assert normalised(punc_pipeline, "5\tkg") == "五公斤"
    assert normalised(raw_pipeline, "5\tkg") == "五kg"


# Punctuation pass: (input, normalised with punc_norm, normalised without).
PUNCTUATION_CASES = [
    ("你好、世界", "你好，世界", "你好、世界"),
    ("a–b", "a，b", "a–b"),
    ("a—b", "a，b", "a—b"),
    ("a——b", "a，b", "a——b"),
    ("a———b", "a，，b", "a———b"),
    ("a--b", "a，b", "a--b"),
    ("a---b", "a，-b", "a---b"),
    ("a-b", "a-b", "a-b"),
    ("等等......", "等等。", "等等......"),
    ("等等...", "等等。", "等等..."),
    ("等等..", "等等..", "等等.."),
    ("等等…", "等等。", "等等…"),
    ("等等………", "等等。", "等等………"),
    ("「你好」", "你好", "「你好」"),
    ("甲·乙", "甲乙", "甲·乙"),
    ("甲•‧・〜～乙", "甲乙", "甲•‧・〜～乙"),
    ("，。\"'", "，。\"'", "，。\"'"),
    ("1...2", "一。二", "一...二"),
    ("3–5", "三，五", "三–五"),
    ("我有$100，「米」3.5kg", "我有一百元，米三點五公斤", "我有一百元，「米」三點五公斤"),
]


@pytest.mark.parametrize("text, with_norm, without_norm", PUNCTUATION_CASES)
def test_punctuation(punc_pipeline, raw_pipeline, text, with_norm, without_norm):
    assert normalised(punc_pipeline, text) == with_norm
    assert normalised(raw_pipeline, text) == without_norm


def test_all_thirty_deleted_characters(punc_pipeline, raw_pipeline):
    assert len(set(DELETED)) == 30
    assert normalised(punc_pipeline, "甲" + DELETED + "乙") == "甲乙"
    assert normalised(raw_pipeline, "甲" + DELETED + "乙") == "甲" + DELETED + "乙"


@pytest.mark.parametrize(
    "text, with_norm, without_norm",
    [
        ("a--b", ["a", "，", "b"], ["a", "-", "-", "b"]),
        ("a---b", ["a", "，", "-", "b"], ["a", "-", "-", "-", "b"]),
        ("等等......", ["等", "等", "。"], ["等", "等"] + ["."] * 6),
        ("等等..", ["等", "等", ".", "."], ["等", "等", ".", "."]),
        ("a·b", ["a", "b"], ["a", "·", "b"]),
        ("ab cd", ["ab", "cd"], ["ab", "cd"]),
        ("ab\tcd", ["ab", "cd"], ["ab", "cd"]),
        ("ab\ncd", ["ab", "cd"], ["ab", "cd"]),
        ("ab\u3000cd", ["ab", "cd"], ["ab", "cd"]),
        ("A4", ["A", "四"], ["A", "四"]),
        ("", [], []),
        (" \t\n\u3000", [], []),
    ],
)
def test_token_boundaries(punc_pipeline, raw_pipeline, text, with_norm, without_norm):
    assert tokens(punc_pipeline, text) == with_norm
    assert tokens(raw_pipeline, text) == without_norm


def reference_cardinal(n, leading=True):
    """Independent transcription of the cardinal reading, for random values."""
    words = "零一二三四五六七八九"
    if n < 10:
        return words[n]
    if n < 100:
        head = "" if leading and n < 20 else words[n // 10]
        return head + "十" + (words[n % 10] if n % 10 else "")
    for size, word, zero_below in ((10**8, "億", 10**7), (10**4, "萬", 1000), (1000, "千", 100), (100, "百", 10)):
        if n >= size:
            head = words[n // size] if size < 10**4 else reference_cardinal(n // size, False)
            rest = n % size
            if rest == 0:
                return head + word
            return head + word + ("零" if rest < zero_below else "") + reference_cardinal(rest, False)
    raise AssertionError(n)


def test_reference_cardinal_agrees_with_table():
    for value, expected in CARDINAL_CASES:
        assert reference_cardinal(value) == expected


HYPOTHESIS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])


@HYPOTHESIS
@given(value=st.integers(min_value=0, max_value=MAX_U64))
def test_random_amounts_read_as_cardinals(punc_pipeline, value):
    assert normalised(punc_pipeline, f"${value}") == reference_cardinal(value) + "元"


@HYPOTHESIS
@given(value=st.integers(min_value=1000, max_value=MAX_U64))
def test_grouped_number_reads_its_value(punc_pipeline, value):
    assert normalised(punc_pipeline, f"{value:,}") == reference_cardinal(value)
    assert normalised(punc_pipeline, f"{value:,}年") == reference_cardinal(value) + "年"


PIECES = (
    list("0123456789")
    + sorted(FULL_WIDTH_DIGITS)
    + [",", ".", "/", ":", "：", "%", "％", " ", "  ", "\t", "-", "--", "...", "…"]
    + ["$", "HK$", "€", "£", "₩", "￥", "¥", "USD", "RMB", "usd"]
    + [unit for unit, _ in UNITS]
    + list(COUNTERS)
    + ["年", "個", "你好", "第", "x", "「", "」", "、", "·", "A"]
)


@settings(max_examples=500, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(pieces=st.lists(st.sampled_from(PIECES), max_size=25))
def test_no_digit_survives(punc_pipeline, raw_pipeline, pieces):
    text = "".join(pieces)
    for pipeline in (punc_pipeline, raw_pipeline):
        toks = tokens(pipeline, text)
        for tok in toks:
            assert tok
            assert not (set(tok) & WHITE_SPACE)
            assert not (set(tok) & ASCII_DIGITS), (text, toks)
            assert not (set(tok) & FULL_WIDTH_DIGITS), (text, toks)
        assert isinstance(pipeline.convert(text), str)


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(text=st.text(alphabet=st.characters(blacklist_categories=("Cs", "Nd")), max_size=30))
def test_text_without_digits_or_marks_is_kept(raw_pipeline, text):
    # Without punctuation mapping, only digits are rewritten; text without
    # them comes back as itself, whitespace aside.
    assert normalised(raw_pipeline, text) == without_ws(text)
