"""The development sets every accuracy figure and data choice is measured on.

- A raw: HKCanCor's development half (bench/hkcancor_gold.py), as transcribed.
- A modernised: the same utterances with the corpus's old particle and
  demonstrative characters respelled as text is written today
  (bench/modern_spelling.tsv); gold readings are unchanged.
- B: the words.hk example sentences with gold Jyutping. Their licence is
  non-commercial, so the file is never part of this repository: it is read at
  run time from ``$MERROW_DEV_DATA`` (a directory) or from ``shared/data``
  beside the checkout's parent directory (``../shared/data`` seen from the
  checkout). Set B is for measurement and selection only; nothing shipped is
  built or trained from it.
"""

from __future__ import annotations

import os
from typing import Dict, FrozenSet, List, Optional, Tuple

import hkcancor_gold as gold
from merrow.cjyp import is_han

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RESPELLING = os.path.join(HERE, "modern_spelling.tsv")
SET_B_NAME = "wordshk_sentences_dev.txt"
SET_B_ENV = "MERROW_DEV_DATA"

ANY = frozenset({"*"})
Respelling = Dict[str, Tuple[FrozenSet[str], str]]


def read_respelling(path: str = RESPELLING) -> Respelling:
    """corpus character -> (gold readings it applies to, or ANY; modern character)."""
    out: Respelling = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 3 or len(fields[0]) != 1 or len(fields[2]) != 1:
                raise ValueError(f"{path}:{number}: expected char<TAB>readings<TAB>char, got {line!r}")
            readings = frozenset(gold.normalise(r) for r in fields[1].split()) if fields[1] != "*" else ANY
            out[fields[0]] = (readings, fields[2])
    return out


def modernise(u: gold.Utterance, respelling: Respelling) -> gold.Utterance:
    """The utterance with its listed characters respelled; gold unchanged."""
    chars = list(u.text)
    k = 0  # index of the next Han character, which is also its gold index
    for i, ch in enumerate(chars):
        if not is_han(ch):
            continue
        rule = respelling.get(ch)
        if rule is not None and (rule[0] is ANY or u.gold[k] in rule[0]):
            chars[i] = rule[1]
        k += 1
    text = "".join(chars)
    return gold.Utterance(text, "".join(ch for ch in text if is_han(ch)), u.gold, u.file, u.pos)


def set_a(modern: bool = False) -> gold.Loaded:
    loaded = gold.load()
    if not modern:
        return loaded
    respelling = read_respelling()
    return gold.Loaded([modernise(u, respelling) for u in loaded.utterances], loaded.with_digits, loaded.unusable)


def set_b_path() -> Optional[str]:
    """Where set B is, or None when it is not on this machine."""
    dirs = []
    if os.environ.get(SET_B_ENV):
        dirs.append(os.environ[SET_B_ENV])
    # The checkout's sibling "shared", seen from the checkout, from one level
    # up, and from the working directory.
    dirs += [os.path.join(ROOT, "..", "shared", "data"), os.path.join(ROOT, "..", "..", "shared", "data"),
             os.path.join(os.getcwd(), "..", "shared", "data")]
    for d in dirs:
        path = os.path.normpath(os.path.join(d, SET_B_NAME))
        if os.path.isfile(path):
            return path
    return None


def set_b_missing_message() -> str:
    return (f"development set B ({SET_B_NAME}) not found: set {SET_B_ENV} to its directory, "
            f"or place it in shared/data beside the checkout's parent ({os.path.join(ROOT, '..', 'shared', 'data')})")


def parse_set_b(text: str, source: str = "B") -> gold.Loaded:
    """Blocks of a text line, a line of syllables (one per Han character) and
    a blank line. Blocks whose syllables do not match the Han characters are
    counted as unusable, like unaligned HKCanCor utterances."""
    utterances: List[gold.Utterance] = []
    unusable = 0
    lines = [line.rstrip("\r") for line in text.split("\n")]
    i = 0
    while i < len(lines):
        if not lines[i].strip():
            i += 1
            continue
        sentence = lines[i]
        syllables = lines[i + 1].lower().split() if i + 1 < len(lines) else []
        i += 2
        han = "".join(ch for ch in sentence if is_han(ch))
        if not han or len(syllables) != len(han) or any(gold.split_syllables(s) != [s] for s in syllables):
            unusable += 1
            continue
        utterances.append(gold.Utterance(sentence, han, tuple(gold.normalise(s) for s in syllables), source))
    return gold.Loaded(utterances, 0, unusable)


def set_b(path: Optional[str] = None) -> Optional[gold.Loaded]:
    """Set B, or None when it is not on this machine."""
    path = path or set_b_path()
    if path is None:
        return None
    with open(path, encoding="utf-8") as f:
        return parse_set_b(f.read())


def describe(name: str, loaded: gold.Loaded) -> str:
    chars = sum(len(u.gold) for u in loaded.utterances)
    return (f"{name}: {len(loaded.utterances)} utterances, {chars} Han characters "
            f"({loaded.with_digits} with digits and {loaded.unusable} with unaligned gold left out)")
