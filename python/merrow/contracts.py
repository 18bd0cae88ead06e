"""Facts the package shares with the engine, read from contracts.json.

The engine's build turns the same file into a C++ header, so the table
names, the labels, the word limit and the Han ranges are written once.
"""

from __future__ import annotations

import json
import os
from typing import Tuple

with open(os.path.join(os.path.dirname(__file__), "contracts.json"), encoding="utf-8") as _file:
    _DATA = json.load(_file)

# The tables of a data directory, each stored as "<name>.bin", in load order:
# the two required reading tables, then the six optional sidecars.
TABLE_NAMES: Tuple[str, ...] = tuple(_DATA["tables"])
LANG_LABELS: Tuple[str, ...] = tuple(_DATA["lang_labels"])
CONFIDENCE_LABELS: Tuple[str, ...] = tuple(_DATA["confidence_labels"])
SOURCE_LABELS: Tuple[str, ...] = tuple(_DATA["source_labels"])
# Longest word, in characters, that the segmenter matches.
MAX_WORD_CHARS: int = _DATA["max_word_chars"]
# Inclusive code point ranges of the characters read through the dictionaries.
HAN_RANGES: Tuple[Tuple[int, int], ...] = tuple((int(lo, 16), int(hi, 16)) for lo, hi in _DATA["han_ranges"])


def is_han(ch: str) -> bool:
    """The Han ranges the engine reads through its dictionaries."""
    cp = ord(ch)
    return any(lo <= cp <= hi for lo, hi in HAN_RANGES)
