"""An output file written beside its target and renamed over it at the end,
so that a failed or interrupted run leaves the old file as it was.

Ctrl-C raises KeyboardInterrupt between any two steps of Python code, so
every step here leaves something that cleans up: the temporary's name is
known before the file is made, the descriptor is closed by this object alone
(never by a file object that an interrupted assignment dropped), and an
object dropped before commit() or discard() removes its temporary."""

from __future__ import annotations

import io
import os
import stat
from typing import BinaryIO, Optional

from ._atomic import TMP_SUFFIX

_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)


class AtomicOutput:
    def __init__(self, path: str) -> None:
        self.path = path
        self._tmp: Optional[str] = None
        self._fd = -1
        self._done = False
        directory = os.path.dirname(path) or "."
        while True:
            self._tmp = os.path.join(directory, f".{os.path.basename(path)}.{os.urandom(6).hex()}{TMP_SUFFIX}")
            try:
                # 0666 less the umask, as a plain `open` would give.
                self._fd = os.open(self._tmp, _FLAGS, 0o666)
                break
            except FileExistsError:
                self._tmp = None  # another writer's: never ours to remove
            except OSError:
                self._tmp = None  # not made
                raise
        try:
            # A file that exists keeps its mode.
            os.fchmod(self._fd, stat.S_IMODE(os.stat(path).st_mode))
        except FileNotFoundError:
            pass
        self.file: BinaryIO = io.open(self._fd, "wb", buffering=1 << 20, closefd=False)

    def commit(self) -> None:
        self.file.flush()
        os.fsync(self._fd)
        self.file.close()
        fd, self._fd = self._fd, -1
        os.close(fd)
        assert self._tmp is not None
        os.replace(self._tmp, self.path)
        self._done = True

    def discard(self) -> None:
        """Removes the temporary; nothing after commit() or a first discard()."""
        if self._done:
            return
        self._done = True
        try:
            file: Optional[BinaryIO] = getattr(self, "file", None)
            if file is not None:
                file.close()
        except OSError:
            pass  # a failed flush of an output being thrown away
        finally:
            fd, self._fd = self._fd, -1
            if fd >= 0:
                os.close(fd)
            if self._tmp is not None:
                try:
                    os.unlink(self._tmp)
                except FileNotFoundError:
                    pass

    def __del__(self) -> None:
        if hasattr(self, "_done"):
            self.discard()
