"""Ctrl-C and SIGTERM for the command line.

The handlers raise KeyboardInterrupt (SIGINT) or `Terminated` (SIGTERM) in
the main thread, and record the signal: Python code can swallow the
exception a handler raises (one raised inside a weakref callback during an
import is only printed), so the run also looks at `received` between blocks
and before it commits its output.

Python runs a handler only between two steps of Python code. A signal that
lands after the last such step and before a blocking read starts (or whose
low-level handler runs on another thread) leaves the read waiting for input
that may never come. So the signal also writes a byte to a wake-up pipe,
and `wait_readable` waits on the input and that pipe together: the byte
stays there until read, whenever the signal came.
"""

from __future__ import annotations

import os
import select
import signal
from contextlib import contextmanager
from typing import Any, Dict, Iterator, List, Optional


class Terminated(Exception):
    """SIGTERM arrived: the run ends as after Ctrl-C, cleaning up first."""


received: List[int] = []
_wakeup: List[int] = []  # the read end of the wake-up pipe while handling


def on_signal(signum: int, frame: Any) -> None:
    received.append(signum)
    raise Terminated if signum == signal.SIGTERM else KeyboardInterrupt


def raise_received() -> None:
    if received:
        raise Terminated if received[0] == signal.SIGTERM else KeyboardInterrupt


@contextmanager
def handling() -> Iterator[None]:
    """SIGINT and SIGTERM handled as above inside the block. Outside the
    main thread signals are left alone; a signal the process was started
    ignoring (a background job's Ctrl-C) stays ignored."""
    del received[:]
    previous: Dict[int, Any] = {}
    pipe: Optional[tuple] = None
    old_wakeup = -1
    try:
        try:
            for signum in (signal.SIGINT, signal.SIGTERM):
                if signal.getsignal(signum) != signal.SIG_IGN:
                    previous[signum] = signal.signal(signum, on_signal)
            if previous:
                pipe = os.pipe()
                for fd in pipe:
                    os.set_blocking(fd, False)
                old_wakeup = signal.set_wakeup_fd(pipe[1], warn_on_full_buffer=False)
                _wakeup.append(pipe[0])
        except ValueError:  # not the main thread
            pass
        yield
    finally:
        if pipe is not None:
            del _wakeup[:]
            try:
                signal.set_wakeup_fd(old_wakeup)
            finally:
                for fd in pipe:
                    os.close(fd)
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def wait_readable(fd: int) -> None:
    """Returns once `fd` has something to read (or its end), raising at
    once for a handled signal, whether it came before or during the wait."""
    watched = [fd, *_wakeup]
    while True:
        try:
            ready = select.select(watched, [], [])[0]
        except ValueError:  # a descriptor past select's limit: read as is
            return
        if fd in ready:
            return
        try:
            while os.read(_wakeup[0], 512):
                pass
        except BlockingIOError:
            pass
        # The signal's handler runs by the next step of Python code at the
        # latest; a signal handled by another handler only wakes the wait.
        raise_received()
