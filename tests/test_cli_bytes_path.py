"""Plain Jyutping on the command line goes through the extension as bytes
(AlignPipeline.convert_plain_lines): it must give exactly what the batch
method gives for the same lines, and step aside for input that is not UTF-8."""

import random
import subprocess
import sys

import pytest

import merrow
from merrow.alignment import aligned_pipeline

PIECES = [
    "我哋", "聽日", "去", "銀行", "攞錢", "重", "行", "會", "到", "Hello", "iPhone", "MTR", "3.5kg", "$8000",
    "2,100", "10%", "，", "。", "「", "」", "!", "?", " ", "\t", "\u3000", "é", "😀", "\u200b", "一百二十",
]


def random_lines(count, seed):
    rng = random.Random(seed)
    return ["".join(rng.choice(PIECES) for _ in range(rng.randrange(0, 12))) for _ in range(count)]


def run_cli(args, stdin):
    return subprocess.run([sys.executable, "-m", "merrow", *args], input=stdin, capture_output=True, timeout=120)


@pytest.mark.parametrize("punc_norm", [True, False])
@pytest.mark.parametrize("seed", [1, 2])
def test_cli_plain_equals_the_batch_method(tmp_path, punc_norm, seed):
    lines = random_lines(3000, seed)
    src = tmp_path / "in.txt"
    src.write_bytes("".join(line + "\n" for line in lines).encode("utf-8"))
    out = tmp_path / "out.txt"
    r = run_cli(["-i", str(src), "-o", str(out)] + ([] if punc_norm else ["--no-punc-norm"]), b"")
    assert r.returncode == 0, r.stderr
    expected = merrow.Converter(punc_norm=punc_norm).convert_batch(lines)
    assert out.read_text("utf-8").split("\n")[:-1] == expected


@pytest.mark.parametrize(
    "data, lines",
    [
        (b"", [""]),
        (b"\n", ["", ""]),
        ("香港\n\n銀行".encode(), ["香港", "", "銀行"]),
        ("$100 MTR\n重\n".encode(), ["$100 MTR", "重", ""]),
    ],
)
def test_one_result_line_per_input_line(data, lines):
    expected = "".join(r + "\n" for r in merrow.Converter().convert_batch(lines)).encode()
    assert aligned_pipeline().convert_plain_lines(data) == expected


@pytest.mark.parametrize(
    "data",
    [b"\xff", "香港\n".encode() + b"\xe9\xa6", b"\xed\xa0\x80", b"\xc0\xaf", b"ok\n\xf4\x90\x80\x80"],
    ids=["stray byte", "cut character", "surrogate", "overlong", "past U+10FFFF"],
)
def test_not_utf8_gives_none(data):
    assert aligned_pipeline().convert_plain_lines(data) is None


@pytest.mark.parametrize("arg", ["香港", bytearray(b"abc"), None, memoryview(b"abc")])
def test_only_bytes_are_taken(arg):
    with pytest.raises(TypeError):
        aligned_pipeline().convert_plain_lines(arg)


def test_line_breaks_inside_a_reading_become_spaces(tmp_path):
    # The package refuses such readings; the extension takes what the
    # pipeline takes, and one input line must still give one output line.
    from merrow import _align

    data_dir = merrow.DATA_DIR
    pipeline = _align.AlignPipeline(data_dir, user_dict={"香港": "hoeng1\ngong2", "銀行": "ngan4\r\nhong4"})
    assert pipeline.convert_plain_lines("香港\n銀行".encode()) == b"hoeng1 gong2\nngan4  hong4\n"


@pytest.mark.parametrize("errors, expected", [("replace", ["a \ufffd", "hoeng1 gong2"]), ("skip", ["", "hoeng1 gong2"])])
def test_a_bad_block_falls_back_to_the_line_decoder(errors, expected):
    r = run_cli(["--errors", errors], b"a\xff\n" + "香港\n".encode())
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode().split("\n")[:-1] == expected
    assert b"line 1" in r.stderr
