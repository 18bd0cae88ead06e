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

from ._atomic import TMP_FLAGS, TMP_MODE, temporary_path


class AtomicOutput:
    def __init__(self, path: str) -> None:
        self.path = path
        self._tmp: Optional[str] = None
        self._fd = -1
        self._done = False
        directory = os.path.dirname(path) or "."
        while True:
            # Named before it is made (create_temporary would return both at
            # once, and an interrupt between would lose the name).
            self._tmp = temporary_path(directory, os.path.basename(path))
            try:
                self._fd = os.open(self._tmp, TMP_FLAGS, TMP_MODE)
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
