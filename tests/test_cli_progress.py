"""Progress display: on a terminal of its own only, and redrawn sparingly."""

import os
import pty
import select
import subprocess
import sys
import time

import pytest

MERROW = [sys.executable, "-m", "merrow"]


def _run_on_terminal(args, stdout_on_terminal=False, stdin_on_terminal=False):
    """Runs merrow with standard error (and optionally output and input) on a
    pseudo-terminal; returns (what the terminal showed, stdout bytes, seconds)."""
    import tempfile

    import fcntl
    import struct
    import termios

    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 120, 0, 0))
    started = time.monotonic()
    captured = tempfile.TemporaryFile()
    proc = subprocess.Popen(
        [*MERROW, *args],
        stdin=terminal if stdin_on_terminal else subprocess.DEVNULL,
        stdout=terminal if stdout_on_terminal else captured,
        stderr=terminal,
    )
    os.close(terminal)
    if stdin_on_terminal:
        os.write(controller, "香港\n\x04".encode())
    shown = b""
    stdout = b"" if stdout_on_terminal else None
    while True:
        ready, _, _ = select.select([controller], [], [], 0.05)
        if ready:
            try:
                chunk = os.read(controller, 65536)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            shown += chunk
        elif proc.poll() is not None:
            break
    proc.wait(timeout=60)
    if stdout is None:
        captured.seek(0)
        stdout = captured.read()
    captured.close()
    elapsed = time.monotonic() - started
    os.close(controller)
    assert proc.returncode == 0, shown
    return shown.decode("utf-8", "replace"), stdout, elapsed


@pytest.fixture(scope="module")
def source(tmp_path_factory):
    path = tmp_path_factory.mktemp("progress") / "in.txt"
    path.write_text("香港銀行\n" * 30_000, encoding="utf-8")
    return path


def test_shown_when_output_goes_elsewhere(source, tmp_path):
    shown, _, elapsed = _run_on_terminal(["-i", str(source), "-o", str(tmp_path / "out.txt"), "--chunk-size", "5"])
    assert "30,000 lines, 120,000 chars" in shown
    assert "100%" in shown
    # 6,000 batches, but redrawn at most about ten times a second.
    redraws = shown.count("\r")
    assert 1 <= redraws <= 10 * elapsed + 5


def test_bytes_and_lines_without_a_bar_when_the_size_is_unknown(source):
    shown, stdout, _ = _run_on_terminal(["--chunk-size", "5"], stdin_on_terminal=False)
    # Standard input is empty here: the count is shown, no percentage.
    assert "0 lines" in shown and "%" not in shown
    assert stdout == b""


@pytest.mark.parametrize(
    "args, stdout_on_terminal, stdin_on_terminal",
    [
        ([], True, False),  # output on the same terminal
        (["--no-progress"], False, False),
        ([], False, True),  # interactive input on the same terminal
    ],
)
def test_not_shown_where_it_would_mix(source, args, stdout_on_terminal, stdin_on_terminal):
    file_args = [] if stdin_on_terminal else ["-i", str(source)]
    shown, stdout, _ = _run_on_terminal([*file_args, *args], stdout_on_terminal, stdin_on_terminal)
    assert "lines" not in shown and "merrow:" not in shown
    if stdin_on_terminal:
        assert stdout == b"hoeng1 gong2\n"
    elif not stdout_on_terminal:
        assert stdout == "hoeng1 gong2 ngan4 hong4\n".encode() * 30_000
