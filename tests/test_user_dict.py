"""User dictionaries through the package: merrow.load, Converter and files."""

import warnings

import pytest

import merrow
from merrow import user_dict as ud
from merrow.converter import Converter
from synthetic_corpus import CHAR, WORD

GOOD = {"銀行": "ngan4 hong4", "香港": "hoeng1 gong2"}


@pytest.fixture
def data_dir(make_data_dir):
    return make_data_dir(word=WORD, char=CHAR)


@pytest.mark.parametrize(
    "word, reading, reason",
    [
        ("銀行", "banana", "not Jyutping ('banana': no tone number 1-6 at the end)"),
        ("銀", "ngan9", "not Jyutping ('ngan9': tone 9 is not one of 1-6)"),
        ("銀行", "ngan4 heung4", "not Jyutping ('heung4': unknown final 'eung' after the onset 'h')"),
        ("銀行", "ngan4", "has 1 syllable but '銀行' has 2 characters"),
        ("銀", "ngan4 hong4", "has 2 syllables but '銀' has 1 character"),
        ("銀行", "", "is empty"),
        ("銀行", "   ", "is empty"),
        ("銀行", "ngan4\nhong4", "contains a line break"),
        ("銀行", "ngan4\u2028hong4", "contains a line break"),
        (" 銀行", "ngan4 hong4", "has spaces around it"),
        ("銀行 ", "ngan4 hong4", "has spaces around it"),
        ("", "ngan4", "the word is empty"),
        ("MTR", "em1 ti1 aa1", "has no Han character"),
        ("A餐", "ei1 caan1", "holds 'A' (U+0041), not a Han character"),
        ("一二三四五六七八九十百", "jat1 ji6 saam1 sei3 ng5 luk6 cat1 baat3 gau2 sap6 baak3", "has 11 characters"),
    ],
)
def test_bad_entry_is_rejected_with_its_reason(data_dir, word, reading, reason):
    for build in (lambda: merrow.load(user_dict={word: reading}), lambda: Converter(data_dir, user_dict={word: reading})):
        with pytest.raises(merrow.UserDictError) as info:
            build()
        assert reason in str(info.value)
        assert info.value.problems == [f"user_dict[{word!r}]: {info.value.problems[0].split(': ', 1)[1]}"]


@pytest.mark.parametrize(
    "reading, stored",
    [
        ("Ngan4 Hong4", "ngan4 hong4"),
        ("  ngan4   hong4 ", "ngan4 hong4"),
        ("NGAN4 HONG4", "ngan4 hong4"),
    ],
)
def test_case_and_spacing_are_normalised(data_dir, reading, stored):
    converter = Converter(data_dir, user_dict={"銀行": reading})
    assert converter.user_dict == {"銀行": stored}
    assert converter.convert("去銀行") == f"heoi3 {stored}"


@pytest.mark.parametrize(
    "word, reading",
    [
        ("唔", "m4"), ("五", "ng5"), ("噷", "hm6"), ("哼", "hng6"), ("靴", "hoe1"), ("出", "ceot1"),
        ("嘢", "je5"), ("鋸", "goe3"), ("掉", "deu6"), ("雪", "syut3"), ("乜", "mat1"),
        ("過", "gwo3"), ("誇", "kwaa1"), ("啜", "zoet3"), ("𠮶", "go2"),
    ],
)
def test_valid_jyutping_syllables_are_accepted(word, reading):
    assert ud.check_entries({word: reading}) == {word: reading}


def test_every_bad_entry_in_one_error():
    with pytest.raises(ud.UserDictError) as info:
        ud.check_entries({"銀行": "ngan4", "香港": "hoeng1 gong2", "MTR": "x", "行": "hang9"})
    message = str(info.value)
    assert message.splitlines()[0] == "3 bad entries in user dictionary user_dict:"
    assert len(info.value.problems) == 3 and len(message.splitlines()) == 4


def test_types_are_still_type_errors():
    with pytest.raises(TypeError):
        merrow.load(user_dict={"香港": 1})
    with pytest.raises(TypeError):
        merrow.load(user_dict=[("香港", "hoeng1 gong2")])


def write(tmp_path, content, name="words.tsv"):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode("utf-8"))
    return path


def test_file_with_bom_crlf_comments_and_blank_lines(tmp_path, data_dir):
    path = write(tmp_path, "\ufeff香港\thoeng2 gong1\r\n# comment\r\n\r\n銀行\tNgan2 Hong2\r\n")
    assert ud.read_file(path) == {"香港": "hoeng2 gong1", "銀行": "ngan2 hong2"}
    assert merrow.load(user_dict=path).convert("香港") == "hoeng2 gong1"
    converter = Converter(data_dir, user_dict=str(path))
    assert converter.convert("香港銀行") == "hoeng2 gong1 ngan2 hong2"


def test_bad_file_lines_are_all_reported_with_line_numbers(tmp_path):
    path = write(
        tmp_path,
        b"\xef\xbb\xbf\xe9\x8a\x80\xe8\xa1\x8c\tngan4\n"  # 銀行 with one syllable
        + "香港\thoeng1 gong2\n只有一欄\n".encode()
        + b"\xff\tx\n"
        + "行\tbanana\n".encode(),
    )
    with pytest.raises(ud.UserDictError) as info:
        ud.read_file(path)
    assert info.value.problems == [
        f"{path}, line 1: the reading 'ngan4' has 1 syllable but '銀行' has 2 characters",
        f"{path}, line 3: expected 'word<TAB>reading', got '只有一欄'",
        f"{path}, line 4: not valid UTF-8 (byte 1)",
        f"{path}, line 5: the reading 'banana' of '行' is not Jyutping ('banana': no tone number 1-6 at the end)",
    ]
    assert str(info.value).startswith(f"4 bad entries in user dictionary {path}:\n")


def test_duplicate_words_warn_and_the_later_line_wins(tmp_path):
    path = write(tmp_path, "香港\thoeng1 gong2\n銀行\tngan4 hong4\n香港\thoeng2 gong1\n")
    with pytest.warns(UserWarning, match=r"line 3: '香港' is also on line 1; line 3 wins \('hoeng2 gong1'\)"):
        entries = ud.read_file(path)
    assert entries["香港"] == "hoeng2 gong1"
    with pytest.warns(UserWarning, match="line 3 wins"):
        assert merrow.load(user_dict=path).convert("香港") == "hoeng2 gong1"


def test_no_warning_without_duplicates(tmp_path):
    path = write(tmp_path, "香港\thoeng1 gong2\n")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ud.read_file(path)


def test_missing_file_is_an_os_error(tmp_path):
    with pytest.raises(FileNotFoundError):
        merrow.load(user_dict=tmp_path / "absent.tsv")
