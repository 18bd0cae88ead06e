"""Cantonese text to Jyutping, on the dictionaries bundled with the package.

    >>> import merrow
    >>> merrow.load().convert("香港")
    'hoeng1 gong2'

`load` builds a `PyPipeline` (the `_merrow` extension) on the data in
`DATA_DIR`; `PyPipeline` itself is re-exported for other data directories.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Mapping, Optional

if TYPE_CHECKING:
    from _merrow import PyPipeline

    from .romanisation import jyutping_to_ipa, jyutping_to_yale, parse_jyutping

from .converter import Converter
from .corpus import convert_files

__all__ = [
    "DATA_DIR", "Converter", "PyPipeline", "convert_files", "jyutping_to_ipa", "jyutping_to_yale", "load",
    "parse_jyutping",
]

DATA_DIR: str = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def load(punc_norm: bool = True, user_dict: Optional[Mapping[str, str]] = None) -> "PyPipeline":
    """A pipeline on the bundled dictionaries.

    `user_dict` maps words to readings that take precedence over the bundled
    data; it is copied, so later changes to it have no effect.
    """
    from _merrow import PyPipeline

    if user_dict is not None and not isinstance(user_dict, dict):
        user_dict = dict(user_dict)
    return PyPipeline(punc_norm=punc_norm, data_dir=DATA_DIR, user_dict=user_dict)


def __getattr__(name: str):
    # The extension is imported on first use, so tools that only need the
    # pure-Python parts of the package (the CJYP writer) work without it.
    if name == "PyPipeline":
        from _merrow import PyPipeline

        return PyPipeline
    # The romanisation tables, too, are built only when first asked for.
    if name in ("jyutping_to_ipa", "jyutping_to_yale", "parse_jyutping"):
        from . import romanisation

        globals()[name] = value = getattr(romanisation, name)
        return value
    raise AttributeError(f"module 'merrow' has no attribute {name!r}")
