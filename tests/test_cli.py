"""The merrow command line, end to end in a subprocess."""

import json
import subprocess
import sys
import time

import pytest

from merrow import cjyp


def run(args, stdin=b"", **kw):
    return subprocess.run(
        [sys.executable, "-m", "merrow", *args],
        input=stdin, capture_output=True, timeout=60, **kw,
    )


def lines(out):
    return out.decode("utf-8").splitlines()


def test_converts_arguments():
    r = run(["佢哋去銀行", "行路"])
    assert r.returncode == 0, r.stderr
    assert lines(r.stdout) == ["keoi5 dei6 heoi3 ngan4 hong4 haang4 lou6"]
    assert r.stderr == b""


def test_converts_standard_input_line_by_line():
    r = run([], stdin="香港\n\n廣東話\r\nHello 香港\n".encode("utf-8"))
    assert r.returncode == 0, r.stderr
    assert lines(r.stdout) == ["hoeng1 gong2", "", "gwong2 dung1 waa2", "Hello hoeng1 gong2"]


def test_detailed_format_is_json_lines():
    r = run(["--format", "detailed"], stdin="香港,OK\n\n".encode("utf-8"))
    assert r.returncode == 0, r.stderr
    first, second = [json.loads(line) for line in lines(r.stdout)]
    assert first["text"] == "香港,OK"
    assert first["tokens"][0] == {
        "token": "香港", "jyutping": "hoeng1 gong2", "lang": "yue",
        "confidence": "certain", "source": first["tokens"][0]["source"],
    }
    assert [t["lang"] for t in first["tokens"]] == ["yue", "punct", "en"]
    assert second == {"text": "", "tokens": []}


def test_candidates_format():
    r = run(["-f", "candidates", "行"])
    assert r.returncode == 0, r.stderr
    (record,) = [json.loads(line) for line in lines(r.stdout)]
    (token,) = record["tokens"]
    assert token["token"] == "行"
    assert token["candidates"][0] == "haang4" and "hong4" in token["candidates"]
    assert set(token) == {"token", "candidates", "lang", "confidence", "source"}


def test_punctuation_normalisation_switch():
    normal = run(["-f", "detailed", "「香港」"])
    kept = run(["-f", "detailed", "--no-punc-norm", "「香港」"])
    assert normal.returncode == kept.returncode == 0
    normal_tokens = [t["token"] for t in json.loads(normal.stdout)["tokens"]]
    kept_tokens = [t["token"] for t in json.loads(kept.stdout)["tokens"]]
    assert kept_tokens == ["「", "香港", "」"] and normal_tokens == ["香港"]


def test_user_dictionary_wins(tmp_path):
    user = tmp_path / "user.tsv"
    user.write_text("# mine\n香港\thoeng2 gong1\n\n", encoding="utf-8")
    r = run(["--user-dict", str(user), "香港", "銀行"])
    assert r.returncode == 0, r.stderr
    assert lines(r.stdout) == ["hoeng2 gong1 ngan4 hong4"]


def test_input_and_output_files_in_chunks(tmp_path):
    texts = ["香港", "佢哋", "銀行", "行路", "Hello"] * 40
    src = tmp_path / "in.txt"
    src.write_text("\n".join(texts) + "\n", encoding="utf-8")
    dst = tmp_path / "out.txt"
    r = run(["-i", str(src), "-o", str(dst), "--chunk-size", "7", "--no-progress"])
    assert r.returncode == 0, r.stderr
    assert r.stdout == b""
    expected = ["hoeng1 gong2", "keoi5 dei6", "ngan4 hong4", "haang4 lou6", "Hello"] * 40
    assert dst.read_text(encoding="utf-8").splitlines() == expected


def test_forced_progress_goes_to_standard_error_only(tmp_path):
    src = tmp_path / "in.txt"
    src.write_text("香港\n" * 10, encoding="utf-8")
    r = run(["-i", str(src), "--progress", "--chunk-size", "3"])
    assert r.returncode == 0
    assert lines(r.stdout) == ["hoeng1 gong2"] * 10
    assert b"10 lines, 20 chars" in r.stderr and b"100%" in r.stderr


def test_custom_data_directory(tmp_path):
    d = tmp_path / "data"
    d.mkdir()
    cjyp.write(str(d / "word.bin"), {"香港": "HK"})
    cjyp.write(str(d / "char.bin"), {"人": "jan4"})
    r = run(["--data-dir", str(d), "香港人"])
    assert r.returncode == 0, r.stderr
    assert lines(r.stdout) == ["HK jan4"]


def test_streams_each_line_before_input_ends():
    proc = subprocess.Popen(
        [sys.executable, "-m", "merrow"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
    )
    try:
        proc.stdin.write("香港\n".encode("utf-8"))
        proc.stdin.flush()
        deadline = time.time() + 30
        first = proc.stdout.readline()  # must arrive while stdin is still open
        assert time.time() < deadline
        assert first.decode("utf-8") == "hoeng1 gong2\n"
        proc.stdin.write("銀行\n".encode("utf-8"))
        proc.stdin.close()
        assert proc.stdout.read().decode("utf-8") == "ngan4 hong4\n"
        assert proc.wait(timeout=30) == 0
    finally:
        if proc.poll() is None:
            proc.kill()


@pytest.mark.parametrize(
    "args, stdin, message",
    [
        ([], b"\xff\xfe bad\n", b"standard input, line 1: not valid UTF-8"),
        ([], "香港\n".encode() + b"\xc3\n", b"standard input, line 2: not valid UTF-8"),
        (["-i", "/nonexistent/in.txt"], b"", b"cannot read /nonexistent/in.txt"),
        (["--data-dir", "/nonexistent-dir", "香港"], b"", b"cannot load dictionaries from /nonexistent-dir: no such"),
        (["--user-dict", "/nonexistent.tsv", "香港"], b"", b"cannot read user dictionary"),
        (["--chunk-size", "0"], b"", b"--chunk-size must be at least 1"),
        (["-i", "x.txt", "香港"], b"", b"either TEXT or --input"),
    ],
)
def test_bad_input_gives_one_line_error(args, stdin, message):
    r = run(args, stdin=stdin)
    assert r.returncode == 1
    err = r.stderr.decode("utf-8", "replace")
    assert message.decode() in err
    assert err.startswith("merrow: error: ") and err.count("\n") == 1
    assert "Traceback" not in err


def test_unknown_option_is_a_usage_error():
    r = run(["--format", "xml", "香港"])
    assert r.returncode == 2
    assert b"Traceback" not in r.stderr


def test_console_script_is_installed():
    import shutil

    exe = shutil.which("merrow")
    if exe is None:
        pytest.skip("the merrow script is not on PATH (package not installed with pip)")
    r = subprocess.run([exe, "香港"], capture_output=True, timeout=60)
    assert r.returncode == 0 and r.stdout.decode() == "hoeng1 gong2\n"


def test_closed_pipe_is_not_an_error(tmp_path):
    src = tmp_path / "in.txt"
    src.write_text("香港\n" * 20000, encoding="utf-8")
    cmd = f'"{sys.executable}" -m merrow -i "{src}" | head -n 1'
    r = subprocess.run(cmd, shell=True, capture_output=True, timeout=60)
    assert r.stdout == b"hoeng1 gong2\n"
    assert b"Traceback" not in r.stderr


@pytest.mark.parametrize(
    "romanisation, expected",
    [("jyutping", "hoeng1 gong2 ， ok"), ("ipa", "hœːŋ˥ kɔːŋ˧˥ ， ok"), ("yale", "hēung góng ， ok")],
)
def test_romanisation_of_plain_output(romanisation, expected):
    r = run(["--romanisation", romanisation], stdin="香港、ok\n\n".encode("utf-8"))
    assert r.returncode == 0, r.stderr
    assert lines(r.stdout) == [expected, ""]


@pytest.mark.parametrize("romanisation, first", [("jyutping", "jat1"), ("yale", "yāt")])
def test_align_format_gives_spans_of_each_line(romanisation, first):
    r = run(["-f", "align", "--romanisation", romanisation], stdin="$1,000、米\n\n".encode("utf-8"))
    assert r.returncode == 0, r.stderr
    one, empty = [json.loads(line) for line in lines(r.stdout)]
    assert empty == {"text": "", "alignment": []}
    assert one["text"] == "$1,000、米"
    spans = [(e["start"], e["end"], e["normalised"], e["reading"]) for e in one["alignment"]]
    assert spans[0] == (0, 6, "一", first)
    assert [s[:3] for s in spans] == [(0, 6, "一"), (0, 6, "千"), (0, 6, "元"), (6, 7, "，"), (7, 8, "米")]
    assert all(one["text"][e["start"]:e["end"]] == e["original"] for e in one["alignment"])
