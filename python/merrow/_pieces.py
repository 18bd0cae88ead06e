"""Cutting a long line into pieces that convert exactly as the whole line.

A cut is made only after a character that always stands as a token of its
own and that no punctuation or number rule reads together with its
neighbours: the sentence and clause marks below. Neither a Han run, nor a
Latin run, nor a number with its unit, currency or separator can span such a
place, so the tokens of the whole line are the tokens of the pieces, in
order. The context model reads no context across these marks either (they
count as the text's edge), so its choices are the same in the pieces; it
does read across whitespace, which is why a space is no place to cut.
"""

from __future__ import annotations

import re
from typing import Callable, List

PIECE_CHARS = 1 << 14

_CUT = re.compile("[。，！？；、!?;]")


def cut(line: str, size: int = PIECE_CHARS) -> List[str]:
    """`line` in pieces of about `size` characters where a cut is allowed;
    longer where there is none; the whole line when it is short."""
    if len(line) <= size:
        return [line]
    pieces = []
    start = 0
    while len(line) - start > size:
        # The first cut in the second half of the window, else the next one.
        found = _CUT.search(line, start + size // 2, start + size) or _CUT.search(line, start + size)
        if found is None:
            break
        pieces.append(line[start : found.end()])
        start = found.end()
    pieces.append(line[start:])
    return pieces


def join_plain(pieces: List[str], results: List[str], has_tokens: Callable[[str], bool]) -> List[str]:
    """The results that take part in the whole line's reading. A piece that
    gave "" takes part only if it has tokens (whose readings are empty)."""
    return [r for p, r in zip(pieces, results) if r or has_tokens(p)]
