"""The hidden working directory `.merrow` that `convert_files` keeps in an
output directory:

    .merrow/lock            held (flock) by the run that uses the directory
    .merrow/done/<name>     fingerprint of the finished output <name>
    .merrow/parts/<name>/   part files of <name> not joined yet
    .merrow/tmp/            temporary files of outputs being joined

Only the run holding the lock reads or changes anything here (workers only
add part files), so whatever it finds that is not of its own plan was left by
a run that died and can be removed. A finished output counts as current only
when its record names the same fingerprint and the very file (inode, size,
modification time); the record is removed before an output is replaced and
written after, so it never vouches for other bytes.
"""

from __future__ import annotations

import contextlib
import json
import os
import shutil
from typing import Iterable, Iterator

from ._atomic import TMP_SUFFIX, write_atomically

WORK_DIR = ".merrow"


class JobDir:
    def __init__(self, output_dir: str) -> None:
        self.root = os.path.join(output_dir, WORK_DIR)
        self.tmp = os.path.join(self.root, "tmp")
        self.done = os.path.join(self.root, "done")
        self.parts = os.path.join(self.root, "parts")

    def parts_dir(self, name: str) -> str:
        return os.path.join(self.parts, name)

    @contextlib.contextmanager
    def locked(self) -> Iterator["JobDir"]:
        """Holds the directory's lock; another run waits here until the
        holder is done. The kernel releases the lock of a run that dies."""
        import fcntl

        os.makedirs(self.root, exist_ok=True)
        path = os.path.join(self.root, "lock")
        fd = os.open(path, os.O_RDWR | os.O_CREAT | getattr(os, "O_CLOEXEC", 0), 0o666)
        try:
            try:
                fcntl.flock(fd, fcntl.LOCK_EX)
            except OSError as e:
                raise OSError(e.errno, f"cannot lock {path} ({e.strerror}); convert_files needs an "
                              "output directory on storage that supports file locks") from None
            for directory in (self.tmp, self.done, self.parts):
                os.makedirs(directory, exist_ok=True)
            yield self
        finally:
            os.close(fd)

    def remove_leftovers(self) -> None:
        """Removes the temporary files of runs that died: half-joined outputs
        and half-written parts. Finished parts are kept for a rerun."""
        for directory in [self.tmp] + [e.path for e in os.scandir(self.parts) if e.is_dir()]:
            for entry in os.scandir(directory):
                if entry.name.endswith(TMP_SUFFIX) or directory == self.tmp:
                    _remove(entry.path)

    def keep_parts(self, name: str, wanted: Iterable[str]) -> None:
        """Removes the part files of `name` that are not in `wanted` (parts of
        an older input or configuration)."""
        directory = self.parts_dir(name)
        keep = {os.path.basename(path) for path in wanted}
        if os.path.isdir(directory):
            for entry in os.scandir(directory):
                if entry.name not in keep:
                    _remove(entry.path)

    def discard_parts(self, name: str) -> None:
        shutil.rmtree(self.parts_dir(name), ignore_errors=True)

    def is_current(self, name: str, output: str, fingerprint: str) -> bool:
        try:
            with open(os.path.join(self.done, name), encoding="utf-8") as f:
                record = json.load(f)
            return bool(record == _record(output, fingerprint))
        except (OSError, ValueError):
            return False

    def forget(self, name: str) -> None:
        _remove(os.path.join(self.done, name))

    def record(self, name: str, output: str, fingerprint: str) -> None:
        text = json.dumps(_record(output, fingerprint))
        write_atomically(os.path.join(self.done, name), [text.encode("ascii")], tmp_dir=self.tmp)


def _record(output: str, fingerprint: str) -> dict:
    st = os.stat(output)
    return {"fingerprint": fingerprint, "output": [st.st_ino, st.st_size, st.st_mtime_ns]}


def _remove(path: str) -> None:
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path, ignore_errors=True)
    else:
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
