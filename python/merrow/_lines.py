"""Input lines for the command line: bytes in blocks, lines out, decoded.

A line ends at LF, CR LF or a lone CR (files from old Mac software use CR
alone); the last line needs no line end. A UTF-8 byte-order mark at the
start is dropped. Blocks are read as they come, so a pipe that
delivers one line at a time has each line converted at once, without a
reader thread.
"""

from __future__ import annotations

from typing import Callable, Iterator, List, Optional

ERROR_MODES = ("strict", "replace", "skip")
BOM = b"\xef\xbb\xbf"


class BadLine(Exception):
    """A line that is not valid UTF-8, in strict mode."""


class LineReader:
    def __init__(self, read: Callable[[], bytes], name: str, errors: str = "strict") -> None:
        self._read = read
        self.name = name
        self.errors = errors
        self.lines = 0  # lines handed out so far
        self.bytes = 0  # bytes read so far
        self.bad = 0  # lines replaced or skipped
        self.first_bad: Optional[int] = None
        self._failure: Optional[BadLine] = None

    def batches(self) -> Iterator[List[str]]:
        """The complete lines of each block read, in order."""
        for body in self.bodies():
            yield self.decode(body)
            self.check()

    def bodies(self) -> Iterator[bytes]:
        """The complete lines of each block read, as bytes joined by LF
        (line ends made LF, the byte-order mark dropped): `decode` or
        `count` each, then `check`."""
        pending: List[bytes] = []
        at_start = True
        while True:
            block = self._read()
            self.bytes += len(block)
            eof = not block
            if not eof and b"\n" not in block and b"\r" not in block:
                pending.append(block)  # inside one line: joined once it ends
                continue
            data = b"".join(pending) + block if pending else block
            pending = []
            if at_start:
                if not eof and len(data) < len(BOM) and BOM.startswith(data):
                    pending = [data]
                    continue
                if data.startswith(BOM):
                    data = data[len(BOM):]
                at_start = False
            if not eof and data.endswith(b"\r"):
                # May be the first half of CR LF: decided by the next block.
                pending = [b"\r"]
                data = data[:-1]
            if b"\r" in data:
                data = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n")
            if eof:
                if data:
                    yield data[:-1] if data.endswith(b"\n") else data
                return
            cut = data.rfind(b"\n")
            if cut < 0:
                pending.insert(0, data)
                continue
            if cut + 1 < len(data):
                pending.insert(0, data[cut + 1 :])
            yield data[:cut]

    def check(self) -> None:
        """Raises BadLine once a strict decode has met a bad line."""
        if self._failure is not None:
            raise self._failure

    def count(self, body: bytes) -> int:
        """Counts the lines of a body used without `decode`."""
        n = body.count(b"\n") + 1
        self.lines += n
        return n

    def decode(self, body: bytes) -> List[str]:
        """The lines of a body; in strict mode the lines before a bad one,
        and `check` raises."""
        try:
            lines = body.decode("utf-8").split("\n")
        except UnicodeDecodeError:
            lines = []
            for raw in body.split(b"\n"):
                try:
                    lines.append(raw.decode("utf-8"))
                except UnicodeDecodeError as e:
                    number = self.lines + len(lines) + 1
                    if self.errors == "strict":
                        # The lines before it are still converted.
                        self.lines += len(lines)
                        self._failure = BadLine(f"{self.name}, line {number}: not valid UTF-8 (byte {e.start + 1})")
                        return lines
                    self.bad += 1
                    if self.first_bad is None:
                        self.first_bad = number
                    lines.append(raw.decode("utf-8", "replace") if self.errors == "replace" else "")
        self.lines += len(lines)
        return lines
