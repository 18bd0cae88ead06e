"""Building a pipeline, with load errors that name the directory and file.

The engine's own message for a bad data directory is the operating system's
text alone ("No such file or directory (os error 2)"), the same whether the
directory, word.bin or char.bin is missing. When construction fails, the
directory is examined here to say which.
"""

from __future__ import annotations

import os
import tempfile
from typing import TYPE_CHECKING, Dict, Optional

if TYPE_CHECKING:
    from _merrow import PyPipeline

REQUIRED = ("word.bin", "char.bin")


def build_pipeline(data_dir: str, punc_norm: bool, user_dict: Optional[Dict[str, str]]) -> "PyPipeline":
    from _merrow import PyPipeline

    try:
        return PyPipeline(punc_norm=punc_norm, data_dir=data_dir, user_dict=user_dict)
    except RuntimeError as e:
        raise RuntimeError(f"cannot load dictionaries from {data_dir}: {_culprit(data_dir, str(e))}") from e


def _culprit(data_dir: str, message: str) -> str:
    """What in `data_dir` made loading fail with `message`."""
    if not os.path.exists(data_dir):
        return f"no such directory ({message})"
    if not os.path.isdir(data_dir):
        return f"not a directory ({message})"
    for name in REQUIRED:
        try:
            with open(os.path.join(data_dir, name), "rb"):
                pass
        except OSError as e:
            return f"{name}: {e.strerror or message}"
    # Both open, so one is malformed: word.bin is loaded first, so try it
    # beside a well-formed empty char.bin.
    return f"{'word.bin' if _word_is_broken(data_dir) else 'char.bin'}: {message}"


def _word_is_broken(data_dir: str) -> bool:
    from _merrow import PyPipeline

    from . import cjyp

    with tempfile.TemporaryDirectory(prefix="merrow-check-") as probe:
        try:
            os.symlink(os.path.abspath(os.path.join(data_dir, "word.bin")), os.path.join(probe, "word.bin"))
        except OSError:
            return True
        cjyp.write(os.path.join(probe, "char.bin"), {})
        try:
            PyPipeline.from_dir(probe)
        except RuntimeError:
            return True
    return False
