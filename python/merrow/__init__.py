"""Cantonese text to Jyutping, on the dictionaries bundled with the package.

    >>> import merrow
    >>> merrow.load().convert("香港")
    'hoeng1 gong2'

`load` builds a `PyPipeline` (the `_merrow` extension) on the data in
`DATA_DIR`; `PyPipeline` itself is re-exported for other data directories.
"""

from __future__ import annotations

import os

from ._version import __version__

# Not `typing.TYPE_CHECKING`: importing typing would double the import time.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Optional

    from _merrow import PyPipeline

    from .alignment import Alignment, align, align_batch
    from .converter import Converter
    from .corpus import convert_files
    from .romanisation import jyutping_to_ipa, jyutping_to_yale, parse_jyutping
    from .user_dict import UserDictError, UserDictSource

__all__ = [
    "DATA_DIR", "Alignment", "Converter", "PyPipeline", "UserDictError", "__version__", "align", "align_batch",
    "convert_files", "jyutping_to_ipa", "jyutping_to_yale", "load", "parse_jyutping",
]

DATA_DIR: str = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def load(punc_norm: bool = True, user_dict: Optional[UserDictSource] = None) -> PyPipeline:
    """A pipeline on the bundled dictionaries.

    `user_dict` is a mapping of words to readings, or the path of a file of
    ``word<TAB>reading`` lines; its readings take precedence over the bundled
    data. Entries are checked (Han words of at most 10 characters, one
    Jyutping syllable per character) and `UserDictError` lists every bad one;
    readings are stored in lower case. The mapping is copied, so later
    changes to it have no effect. A word repeated in a file gives a
    UserWarning; the later line wins.

    RuntimeError names the data directory and the file when the dictionaries
    cannot be loaded.
    """
    from ._loading import build_pipeline
    from .user_dict import resolve

    return build_pipeline(DATA_DIR, punc_norm, resolve(user_dict))


# Imported on first use, so that `import merrow` stays fast and tools that
# only need the pure-Python parts (the CJYP writer) work without the extension.
_LAZY = {
    "PyPipeline": ("_merrow", "PyPipeline"),
    "Converter": ("merrow.converter", "Converter"),
    "convert_files": ("merrow.corpus", "convert_files"),
    "UserDictError": ("merrow.user_dict", "UserDictError"),
    "Alignment": ("merrow.alignment", "Alignment"),
    "align": ("merrow.alignment", "align"),
    "align_batch": ("merrow.alignment", "align_batch"),
    "jyutping_to_ipa": ("merrow.romanisation", "jyutping_to_ipa"),
    "jyutping_to_yale": ("merrow.romanisation", "jyutping_to_yale"),
    "parse_jyutping": ("merrow.romanisation", "parse_jyutping"),
}


def __getattr__(name: str) -> object:
    if name in _LAZY:
        import importlib

        module, attribute = _LAZY[name]
        value = getattr(importlib.import_module(module), attribute)
        globals()[name] = value
        return value
    raise AttributeError(f"module 'merrow' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY))
