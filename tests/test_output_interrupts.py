"""Ctrl-C can land between any two steps of Python code. The command line's
output file stays whole whatever the step: the old file or the new one, and
never a temporary file left behind or a Ctrl-C reported as a write error."""

import gc
import io
import os
import signal

import pytest

from merrow import _signals, cli
from merrow._atomic_output import AtomicOutput


def interrupted_after(real):
    """`real`, which then raises KeyboardInterrupt as if Ctrl-C came just as it returned."""

    def call(*args, **kwargs):
        real(*args, **kwargs)
        raise KeyboardInterrupt

    return call


def interrupted_before(real):
    def call(*args, **kwargs):
        raise KeyboardInterrupt

    return call


@pytest.mark.parametrize("module, name, when", [
    (os, "open", interrupted_after),
    (os, "fchmod", interrupted_before),
    (os, "fchmod", interrupted_after),
    (io, "open", interrupted_after),
])
def test_interrupt_while_making_the_output_leaves_no_temporary(tmp_path, monkeypatch, module, name, when):
    target = tmp_path / "out.txt"
    target.write_text("old\n")
    monkeypatch.setattr(module, name, when(getattr(module, name)))
    with pytest.raises(KeyboardInterrupt):
        AtomicOutput(str(target))
    monkeypatch.undo()
    gc.collect()  # the half-made object goes, and its temporary with it
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]
    assert target.read_text() == "old\n"


@pytest.mark.parametrize("when, expected", [(interrupted_before, "old\n"), (interrupted_after, "new\n")])
def test_interrupt_at_the_rename_then_discard(tmp_path, monkeypatch, when, expected):
    target = tmp_path / "out.txt"
    target.write_text("old\n")
    out = AtomicOutput(str(target))
    out.file.write(b"new\n")
    monkeypatch.setattr(os, "replace", when(os.replace))
    with pytest.raises(KeyboardInterrupt):
        out.commit()
    monkeypatch.undo()
    out.discard()  # what the command line's cleanup does next: no error
    out.discard()
    assert target.read_text() == expected
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]


def test_a_dropped_output_removes_its_temporary(tmp_path):
    out = AtomicOutput(str(tmp_path / "out.txt"))
    out.file.write(b"partial\n")
    assert len(os.listdir(tmp_path)) == 1
    del out
    gc.collect()
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("signum, status", [(signal.SIGINT, 130), (signal.SIGTERM, 128 + signal.SIGTERM)])
def test_a_swallowed_interrupt_still_stops_the_run(tmp_path, monkeypatch, signum, status):
    # Python code may swallow the exception a handler raises (an import's
    # weakref callback only prints it): the run still stops at the next block.
    source = tmp_path / "in.txt"
    source.write_text("你好\n" * 50_000, encoding="utf-8")
    out = tmp_path / "out.txt"
    out.write_text("old\n")
    blocks = []
    real_block = cli.Writer.block

    def block(self, body):
        blocks.append(len(body))
        done = real_block(self, body)
        try:
            _signals.on_signal(signum, None)
        except BaseException:
            pass
        return done

    monkeypatch.setattr(cli.Writer, "block", block)
    assert cli.main(["-i", str(source), "-o", str(out), "--chunk-size", "1000"]) == status
    assert len(blocks) == 1
    assert out.read_text() == "old\n"
    assert sorted(os.listdir(tmp_path)) == ["in.txt", "out.txt"]


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
def test_a_signal_the_process_ignores_stays_ignored(tmp_path, signum):
    # A background job of a shell starts with Ctrl-C ignored: the command
    # line keeps it so, and the run goes on to its end.
    import subprocess
    import sys
    import time

    source = tmp_path / "in.txt"
    source.write_text("我哋聽日去銀行攞錢。\n" * 400_000, encoding="utf-8")
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    out = out_dir / "out.txt"
    code = (f"import signal, sys; signal.signal({int(signum)}, signal.SIG_IGN); "
            "from merrow.cli import main; sys.exit(main())")
    proc = subprocess.Popen([sys.executable, "-c", code, "-i", str(source), "-o", str(out)], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not os.listdir(out_dir) and proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    proc.send_signal(signum)
    _, err = proc.communicate(timeout=120)
    assert proc.returncode == 0, err
    assert out.read_text(encoding="utf-8").count("\n") == 400_000
