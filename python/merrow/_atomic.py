"""Atomic file replacement: write a temporary file, then rename it over the
target, so readers see the old file or the new one whole (a dictionary that
a pipeline has mapped never changes under it)."""

from __future__ import annotations

import os
from typing import Iterable, Optional, Union

TMP_SUFFIX = ".tmp"


# Opening a temporary: a new file only (O_EXCL keeps another writer's file
# safe), created with mode 0666 so that the umask applies, as for any file a
# user writes (0644 under umask 022).
TMP_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0) | getattr(os, "O_BINARY", 0)
TMP_MODE = 0o666


def temporary_path(directory: str, name: str) -> str:
    """A fresh name for a hidden temporary beside `name`: `.<name>.<random>.tmp` in `directory`."""
    return os.path.join(directory, f".{name}.{os.urandom(6).hex()}{TMP_SUFFIX}")


def create_temporary(directory: str, name: str) -> "tuple[int, str]":
    """Creates a new, empty temporary (temporary_path, TMP_FLAGS, TMP_MODE)
    and returns its descriptor and path."""
    while True:
        path = temporary_path(directory, name)
        try:
            return os.open(path, TMP_FLAGS, TMP_MODE), path
        except FileExistsError:
            continue


def write_atomically(
    path: Union[str, "os.PathLike[str]"], chunks: Iterable[bytes], tmp_dir: Optional[str] = None
) -> None:
    """Writes `chunks` to a temporary file in `tmp_dir` (by default beside
    `path`; it must be on the same file system), syncs it and renames it to
    `path`. On any failure the temporary file is removed and `path` is left
    as it was."""
    path = os.fspath(path)
    directory = tmp_dir if tmp_dir is not None else os.path.dirname(path) or "."
    fd, tmp = create_temporary(directory, os.path.basename(path))
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
