"""The command line under interruption, closed pipes, bad input and output
files, in a subprocess as a user runs it."""

import contextlib
import os
import pty
import signal
import subprocess
import sys
import time

import pytest

from merrow import cjyp

MERROW = [sys.executable, "-m", "merrow"]


def run(args, stdin=b"", **kw):
    return subprocess.run([*MERROW, *args], input=stdin, capture_output=True, timeout=120, **kw)


@pytest.fixture(scope="module")
def big_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("big") / "big.txt"
    line = "我哋聽日去銀行攞錢，買咗部iPhone，用咗$8000。"
    path.write_text((line + "\n") * 200_000, encoding="utf-8")
    return path


def _clean_exit(stderr):
    text = stderr.decode("utf-8", "replace")
    assert "Traceback" not in text and "Fatal Python error" not in text, text


# Ctrl-C and early exits.


@contextlib.contextmanager
def waiting_for_input(args, stdin_kind, **kw):
    """The command started on a pipe or a terminal that stays open, having
    converted one line; killed and its streams closed afterwards."""
    controller = None
    if stdin_kind == "pipe":
        proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
        proc.stdin.write("香港\n".encode())
        proc.stdin.flush()
    else:
        controller, terminal = pty.openpty()
        proc = subprocess.Popen(args, stdin=terminal, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
        os.close(terminal)
        os.write(controller, "香港\n".encode())
    try:
        assert proc.stdout.readline() == b"hoeng1 gong2\n"  # now blocked reading the next line
        yield proc
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for stream in (proc.stdin, proc.stdout, proc.stderr):
            if stream is not None:
                stream.close()
        if controller is not None:
            os.close(controller)


@pytest.mark.parametrize("stdin_kind", ["pipe", "terminal"])
def test_ctrl_c_while_waiting_for_input_exits_130(stdin_kind):
    with waiting_for_input(MERROW, stdin_kind) as proc:
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=60)
        assert proc.returncode == 130
        _clean_exit(err)


# The command run in a child whose helper thread, once told to, takes the
# signal itself: the handler's low-level half then runs on that thread and
# the main thread, waiting for input, is not woken by the signal itself.
# It stands for a signal that lands after Python last looked for one and
# before a read starts, which a quick Ctrl-C now and then does.
SIGNAL_ON_ANOTHER_THREAD = """
import os, signal, sys, threading, time
from merrow import cli

def take_signal():
    os.read({control}, 1)
    time.sleep(0.2)  # the main thread is back waiting for input by then
    signal.pthread_kill(threading.get_ident(), {sig})

threading.Thread(target=take_signal, daemon=True).start()
sys.exit(cli.main([]))
"""


@pytest.mark.parametrize("stdin_kind", ["pipe", "terminal"])
@pytest.mark.parametrize("sig, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)], ids=["SIGINT", "SIGTERM"])
def test_signal_that_misses_the_read_still_ends_the_wait(stdin_kind, sig, status):
    control_read, control_write = os.pipe()
    script = SIGNAL_ON_ANOTHER_THREAD.format(control=control_read, sig=int(sig))
    try:
        with waiting_for_input([sys.executable, "-c", script], stdin_kind, pass_fds=[control_read]) as proc:
            os.write(control_write, b"x")
            # Input stays open: only the signal can end the run.
            assert proc.wait(timeout=30) == status
            _clean_exit(proc.stderr.read())
    finally:
        os.close(control_read)
        os.close(control_write)


@pytest.mark.parametrize("sig, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)], ids=["SIGINT", "SIGTERM"])
def test_signal_while_writing_a_file_keeps_the_old_one_and_no_temporary(tmp_path, sig, status):
    # Some lines converted and written to the temporary file, then the
    # signal while the command waits for more input.
    out = tmp_path / "out.txt"
    out.write_text("old\n")
    proc = subprocess.Popen([*MERROW, "-o", str(out)], stdin=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        proc.stdin.write("香港\n".encode() * 1000)
        proc.stdin.flush()
        deadline = time.monotonic() + 60
        while len(os.listdir(tmp_path)) < 2 and time.monotonic() < deadline:
            time.sleep(0.01)
        time.sleep(0.3)
        proc.send_signal(sig)
        _, err = proc.communicate(timeout=60)
        assert proc.returncode == status
        _clean_exit(err)
        assert out.read_text() == "old\n"
        assert sorted(os.listdir(tmp_path)) == ["out.txt"]
    finally:
        if proc.poll() is None:
            proc.kill()


def test_ctrl_c_during_a_file_leaves_the_old_output(tmp_path, tmp_path_factory, big_file):
    # Input for a few seconds of work; the signal goes as soon as the
    # temporary output exists, so it lands while the file is converted (a
    # fixed sleep could let a fast run end first, and a signal during the
    # interpreter's exit is no test of the command).
    source = tmp_path_factory.mktemp("bigger") / "in.txt"
    with open(source, "wb") as f:
        chunk = big_file.read_bytes()
        for _ in range(12):
            f.write(chunk)
    out = tmp_path / "out.txt"
    out.write_text("old\n")
    proc = subprocess.Popen([*MERROW, "-i", str(source), "-o", str(out)], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while len(os.listdir(tmp_path)) < 2 and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=120)
    _clean_exit(err)
    # 130, or killed by SIGINT (which a shell also reports as 130): `python
    # -m` now and then exits by the signal after the run has returned 130.
    assert proc.returncode in (130, -signal.SIGINT)
    assert out.read_text() == "old\n"
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]


def test_non_blocking_input_waits_for_the_rest():
    # A parent may hand over a pipe left in non-blocking mode: an empty pipe
    # is then "no input yet", not the end of the input.
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    proc = subprocess.Popen(MERROW, stdin=read_end, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(read_end)
    try:
        os.write(write_end, "香港\n".encode())
        assert proc.stdout.readline() == b"hoeng1 gong2\n"
        time.sleep(0.3)
        os.write(write_end, "你好\n".encode())
        os.close(write_end)
        write_end = None
        out, err = proc.communicate(timeout=60)
        assert (out, proc.returncode) == (b"nei5 hou2\n", 0)
        _clean_exit(err)
    finally:
        if write_end is not None:
            os.close(write_end)
        if proc.poll() is None:
            proc.kill()
            proc.wait()


@pytest.mark.parametrize("source", ["stdin", "file"])
def test_closed_pipe_ends_quietly_every_time(big_file, source):
    merrow = f'"{sys.executable}" -m merrow'
    if source == "stdin":
        cmd = f'cat "{big_file}" | {merrow} | head -n 1; exit "${{PIPESTATUS[1]}}"'
    else:
        cmd = f'{merrow} -i "{big_file}" | head -n 1; exit "${{PIPESTATUS[0]}}"'
    for _ in range(8):
        r = subprocess.run(["bash", "-c", cmd], capture_output=True, timeout=120)
        assert r.stdout == b"ngo5 dei6 ting1 jat6 heoi3 ngan4 hong4 lo2 cin2 \xef\xbc\x8c maai5 zo2 bou6 iPhone " \
            b"\xef\xbc\x8c jung6 zo2 baat3 cin1 jyun4 \xe3\x80\x82\n"
        assert r.returncode in (0, 141)
        assert r.stderr == b""


# The output file.


def test_output_that_is_the_input_is_refused(tmp_path):
    src = tmp_path / "same.txt"
    src.write_text("香港\n", encoding="utf-8")
    link = tmp_path / "link.txt"
    os.link(src, link)
    for args, stdin in [(["-i", str(src), "-o", str(src)], b""), (["-i", str(src), "-o", str(link)], b"")]:
        r = run(args, stdin)
        assert r.returncode == 1
        assert r.stderr.decode() == f"merrow: error: the output {args[-1]} is the input file; write to another file\n"
    with open(src, "rb") as f:
        r = subprocess.run([*MERROW, "-o", str(src)], stdin=f, capture_output=True, timeout=60)
    assert r.returncode == 1 and b"is the input file" in r.stderr
    assert src.read_text(encoding="utf-8") == "香港\n"
    assert sorted(os.listdir(tmp_path)) == ["link.txt", "same.txt"]


def test_failed_run_leaves_the_old_output_and_no_temporary_file(tmp_path):
    src = tmp_path / "in.txt"
    src.write_bytes("香港\n".encode() * 1000 + b"\xff\n")
    out = tmp_path / "out.txt"
    out.write_text("old\n")
    r = run(["-i", str(src), "-o", str(out)])
    assert r.returncode == 1
    assert r.stderr.decode() == f"merrow: error: {src}, line 1001: not valid UTF-8 (byte 1)\n"
    assert out.read_text() == "old\n"
    assert sorted(os.listdir(tmp_path)) == ["in.txt", "out.txt"]


def test_new_output_file_gets_the_usual_mode(tmp_path):
    out = tmp_path / "new.txt"
    r = subprocess.run(
        ["bash", "-c", f'umask 022 && exec "{sys.executable}" -m merrow -o "{out}" 香港'], capture_output=True, timeout=60
    )
    assert r.returncode == 0, r.stderr
    assert out.read_text() == "hoeng1 gong2\n"
    assert oct(out.stat().st_mode & 0o777) == oct(0o644)


# Input handling.


@pytest.mark.parametrize(
    "errors, expected, warning",
    [
        ("replace", ["hoeng1 gong2", "\ufffd ngan4 hong4", "hoeng1 gong2"], "converted with U+FFFD"),
        ("skip", ["hoeng1 gong2", "", "hoeng1 gong2"], "given as empty lines"),
    ],
)
def test_errors_replace_and_skip_keep_every_line(errors, expected, warning):
    r = run(["--errors", errors], stdin="香港\n".encode() + b"\xff\xe9\x8a\x80\xe8\xa1\x8c\n" + "香港\n".encode())
    assert r.returncode == 0
    assert r.stdout.decode().split("\n") == expected + [""]
    assert r.stderr.decode() == (
        f"merrow: warning: 1 line of standard input not valid UTF-8 ({warning}); the first is line 2\n"
    )


def test_errors_strict_names_the_line_and_keeps_what_came_before():
    r = run([], stdin="香港\n銀行\n".encode() + b"\xc3(\n" + "香港\n".encode())
    assert r.returncode == 1
    assert r.stdout == b"hoeng1 gong2\nngan4 hong4\n"
    assert r.stderr == b"merrow: error: standard input, line 3: not valid UTF-8 (byte 1)\n"


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"a\rb\rc", ["a", "b", "c"]),
        (b"a\r\nb\r\n", ["a", "b"]),
        (b"a\n\rb\r\r\nc\n", ["a", "", "b", "", "c"]),
        (b"\xef\xbb\xbfa\nb", ["a", "b"]),
        (b"\n", [""]),
        (b"", []),
    ],
)
def test_line_endings_lf_crlf_and_cr(data, expected):
    r = run([], stdin=data)
    assert r.returncode == 0
    assert r.stdout.decode().split("\n")[:-1] == expected


def test_one_output_line_per_input_line_whatever_the_readings(tmp_path):
    d = tmp_path / "data"
    d.mkdir()
    cjyp.write(str(d / "word.bin"), {"香港": "hoeng1\ngong2", "九龍": "gau2\r\nlung4", "新界": "san1\rgaai3"})
    cjyp.write(str(d / "char.bin"), {"人": "jan4\r"})
    text = "香港人\n九龍\n新界\n"
    for fmt in ("plain", "detailed"):
        r = run(["--data-dir", str(d), "-f", fmt], stdin=text.encode())
        assert r.returncode == 0, r.stderr
        assert r.stdout.count(b"\n") == 3
    r = run(["--data-dir", str(d)], stdin=text.encode())
    assert r.stdout.decode() == "hoeng1 gong2 jan4 \ngau2  lung4\nsan1 gaai3\n"


# Dictionaries.


def test_user_dictionary_file_checks(tmp_path):
    user = tmp_path / "user.tsv"
    user.write_bytes("\ufeff香港\thoeng2 gong1\n銀行\tngan4\n只有一欄\n行\tbanana\n香港\tHoeng1 Gong1\n".encode())
    r = run(["--user-dict", str(user), "香港"])
    assert r.returncode == 1
    assert r.stderr.decode() == (
        f"merrow: error: 3 bad entries in user dictionary {user}:\n"
        f"{user}, line 2: the reading 'ngan4' has 1 syllable but '銀行' has 2 characters\n"
        f"{user}, line 3: expected 'word<TAB>reading', got '只有一欄'\n"
        f"{user}, line 4: the reading 'banana' of '行' is not Jyutping ('banana': no tone number 1-6 at the end)\n"
    )
    user.write_bytes("\ufeff香港\thoeng2 gong1\n香港\tHoeng1 Gong1\n".encode())
    r = run(["--user-dict", str(user), "香港"])
    assert r.returncode == 0
    assert r.stdout == b"hoeng1 gong1\n"
    assert r.stderr.decode() == (
        f"merrow: warning: user dictionary {user}, line 2: '香港' is also on line 1; line 2 wins ('hoeng1 gong1')\n"
    )


@pytest.mark.parametrize("present, missing", [([], "word.bin"), (["word.bin"], "char.bin")])
def test_data_dir_errors_name_directory_and_file(tmp_path, present, missing):
    for name in present:
        cjyp.write(str(tmp_path / name), {"香港": "hoeng1 gong2"})
    r = run(["--data-dir", str(tmp_path), "香港"])
    assert r.returncode == 1
    assert r.stderr.decode() == (
        f"merrow: error: cannot load dictionaries from {tmp_path}: {missing}: No such file or directory\n"
    )


def test_version():
    import merrow

    r = run(["--version"])
    assert r.returncode == 0
    assert r.stdout.decode() == f"merrow {merrow.__version__}\n"
