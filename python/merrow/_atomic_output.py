"""An output file written beside its target and renamed over it at the end,
so that a failed or interrupted run leaves the old file as it was."""

from __future__ import annotations

import os
import stat
import tempfile
from typing import BinaryIO


class AtomicOutput:
    def __init__(self, path: str) -> None:
        self.path = path
        directory = os.path.dirname(path) or "."
        fd, self._tmp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".tmp", dir=directory)
        try:
            # The mode a plain `open` would give: the old file's, or 0666
            # less the umask (mkstemp makes 0600).
            try:
                mode = stat.S_IMODE(os.stat(path).st_mode)
            except FileNotFoundError:
                mask = os.umask(0)
                os.umask(mask)
                mode = 0o666 & ~mask
            os.fchmod(fd, mode)
            self.file: BinaryIO = os.fdopen(fd, "wb", buffering=1 << 20)
        except BaseException:
            os.close(fd)
            os.unlink(self._tmp)
            raise

    def commit(self) -> None:
        self.file.flush()
        os.fsync(self.file.fileno())
        self.file.close()
        os.replace(self._tmp, self.path)

    def discard(self) -> None:
        try:
            self.file.close()
        finally:
            try:
                os.unlink(self._tmp)
            except FileNotFoundError:
                pass
