"""Progress of the command line on standard error, drawn by tqdm.

Shown only where it cannot mix with anything else: standard error is a
terminal, and neither the output nor an interactive input is that same
terminal. Redrawn at most ten times a second.
"""

from __future__ import annotations

import os
from typing import Any, Optional


def _same_terminal(fd: int, other: int) -> bool:
    try:
        if not os.isatty(fd):
            return False
        a, b = os.fstat(fd), os.fstat(other)
    except OSError:
        return False
    return (a.st_rdev, a.st_ino, a.st_dev) == (b.st_rdev, b.st_ino, b.st_dev)


def wanted(choice: Optional[bool], output_is_stdout: bool, input_is_stdin: bool) -> bool:
    """`choice` from --progress / --no-progress; None decides by the terminals."""
    if choice is not None:
        return choice
    try:
        if not os.isatty(2):
            return False
    except OSError:
        return False
    if output_is_stdout and _same_terminal(1, 2):
        return False
    return not (input_is_stdin and _same_terminal(0, 2))


class Progress:
    """Bytes read (a bar when the input size is known), lines, characters."""

    def __init__(self, enabled: bool, total_bytes: Optional[int]) -> None:
        self._bar: Any = None
        self.lines = 0
        self.chars = 0
        if not enabled:
            return
        import sys

        import tqdm  # type: ignore[import-untyped]

        # No monitor thread: nothing but the main thread may touch Python
        # objects while the interpreter shuts down after Ctrl-C.
        tqdm.tqdm.monitor_interval = 0
        self._bar = tqdm.tqdm(
            total=total_bytes or None,
            unit="B",
            unit_scale=True,
            unit_divisor=1024,
            mininterval=0.1,
            file=sys.stderr,
            desc="merrow",
            postfix="0 lines, 0 chars",
        )

    @property
    def shown(self) -> bool:
        return self._bar is not None

    def update(self, read_bytes: int, lines: int, chars: int) -> None:
        if self._bar is None:
            return
        self.lines += lines
        self.chars += chars
        self._bar.set_postfix_str(f"{self.lines:,} lines, {self.chars:,} chars", refresh=False)
        self._bar.update(read_bytes - self._bar.n)

    def close(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
