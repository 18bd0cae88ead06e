"""Long lines converted in pieces give exactly the whole line's result, and
input split into blocks anywhere gives the same lines."""

import json
import random
import subprocess
import sys

import pytest

import merrow
from merrow import _pieces
from merrow._lines import LineReader

# Fragments chosen to sit next to every kind of cut: numbers with units and
# currencies across spaces, "..." and "--", Latin and Han runs, brackets.
FRAGMENTS = [
    "香港", "銀行", "我哋", "行", "，", "。", "！", "？", "；", "、", "!", "?", ";", ",", " ", "\u3000", "\t",
    "5", " km", "kg", "$", "HK$", "USD ", "€", "100", "3.5", "%", "/", "2", ":", "：", "年", "號",
    "...", ".", "--", "-", "—", "…", "「", "」", "(", ")", "iPhone", "abc", "·", "～", "\u00a0",
]


def random_line(rng, length):
    return "".join(rng.choice(FRAGMENTS) for _ in range(length))


@pytest.fixture(scope="module")
def pipelines():
    return {flag: merrow.load(punc_norm=flag) for flag in (True, False)}


@pytest.mark.parametrize("punc_norm", [True, False])
@pytest.mark.parametrize("size", [1, 3, 8, 40])
def test_pieces_convert_exactly_as_the_whole_line(pipelines, punc_norm, size):
    pipeline = pipelines[punc_norm]
    rng = random.Random(size * 2 + punc_norm)
    for _ in range(300):
        line = random_line(rng, rng.randint(1, 60))
        pieces = _pieces.cut(line, size)
        assert "".join(pieces) == line
        kept = _pieces.join_plain(pieces, pipeline.convert_batch(pieces), lambda p: bool(pipeline.convert_detailed(p)))
        assert " ".join(kept) == pipeline.convert(line), pieces
        for method in ("convert_detailed", "convert_candidates"):
            joined = [t for tokens in getattr(pipeline, method + "_batch")(pieces) for t in tokens]
            assert joined == getattr(pipeline, method)(line), (method, pieces)


def test_pieces_with_empty_readings(make_pipeline):
    # Tokens whose reading is empty still take their place in the plain result.
    pipeline = make_pipeline(word={"香港": ""}, char={"人": "jan4"})
    for line in ["香港，香港，人", "人，香港，香港", "香港， ，香港", " ，香港"]:
        pieces = _pieces.cut(line, 1)
        kept = _pieces.join_plain(pieces, pipeline.convert_batch(pieces), lambda p: bool(pipeline.convert_detailed(p)))
        assert " ".join(kept) == pipeline.convert(line), pieces


def test_cuts_only_at_allowed_places():
    assert _pieces.cut("香港銀行" * 10, 4) == ["香港銀行" * 10]  # no place to cut
    # Not at a space: the context model reads across it.
    assert _pieces.cut("香港 銀行 5 km，a b,c", 2) == ["香港 銀行 5 km，", "a b,c"]


@pytest.mark.parametrize("fmt", ["plain", "detailed", "candidates"])
def test_cli_long_line_matches_the_whole_line(tmp_path, fmt):
    rng = random.Random(7)
    line = random_line(rng, 150_000)
    assert len(line) > 10 * _pieces.PIECE_CHARS
    src = tmp_path / "long.txt"
    src.write_text("香港\n" + line + "\n行\n", encoding="utf-8")
    r = subprocess.run([sys.executable, "-m", "merrow", "-f", fmt, "-i", str(src)], capture_output=True, timeout=300)
    assert r.returncode == 0, r.stderr
    out = r.stdout.decode("utf-8").split("\n")
    assert len(out) == 4 and out[3] == ""
    pipeline = merrow.load()
    if fmt == "plain":
        assert out[1] == pipeline.convert(line)
    else:
        record = json.loads(out[1])
        assert record["text"] == line
        tokens = getattr(pipeline, "convert_" + fmt)(line)
        field = "jyutping" if fmt == "detailed" else "candidates"
        assert [(t["token"], t[field], t["lang"], t["confidence"], t["source"]) for t in record["tokens"]] == [
            (t[0], t[1], t[2], t[3], t[4]) for t in tokens
        ]


@pytest.mark.parametrize("block", [1, 2, 3, 5, 1 << 20])
def test_line_reader_gives_the_same_lines_for_any_blocks(block):
    data = b"\xef\xbb\xbf" + "香港\r\n銀行\r行\n\n\r\r\n最後".encode("utf-8")
    blocks = [data[i : i + block] for i in range(0, len(data), block)]
    reader = LineReader(lambda: blocks.pop(0) if blocks else b"", "test")
    lines = [line for batch in reader.batches() for line in batch]
    assert lines == ["香港", "銀行", "行", "", "", "", "最後"]
    assert reader.lines == 7
