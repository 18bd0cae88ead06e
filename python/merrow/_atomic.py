"""Atomic file replacement: write a temporary file beside the target, then
rename it over the target, so readers see the old file or the new one whole
(a dictionary that a pipeline has mapped never changes under it)."""

from __future__ import annotations

import os
import tempfile
from typing import Iterable, Union


def write_atomically(path: Union[str, os.PathLike], chunks: Iterable[bytes]) -> None:
    path = os.fspath(path)
    directory = os.path.dirname(path) or "."
    fd, tmp = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".tmp", dir=directory)
    try:
        with os.fdopen(fd, "wb") as f:
            for chunk in chunks:
                f.write(chunk)
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except FileNotFoundError:
            pass
        raise
