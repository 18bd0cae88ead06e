"""Layering of lexical sources into the eight dictionary tables.

Every source is reduced to plain dicts before it reaches this module, so the
choice of readings, candidates and labels can be tested on small fixtures:

- ``oral_hk``: key -> reading (the curated colloquial layer);
- ``tojyutping_chars``: character -> readings in ToJyutping's ranked order;
- ``tojyutping_words``: word -> (reading, contextual), where ``contextual`` is
  False when ToJyutping had no entry for the word and read at least one
  polyphonic character of it by taking that character's first reading;
- ``rime``: key -> the one default reading of rime-cantonese;
- ``unihan``: character -> kCantonese readings in Unihan's order.

A layer supplies the first reading of a key, in ``layer_order``; all known
readings become the key's candidates, most likely first.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Dict, Iterable, List, Mapping, Optional, Sequence, Tuple

from merrow.cjyp import TABLE_NAMES, is_han
from merrow.contracts import MAX_WORD_CHARS

DEFAULT_LAYER_ORDER = ("oral_hk", "tojyutping", "rime", "unihan")

# ToJyutping's readings of words it has no entry for (see Sources) form a
# layer of their own; an order that does not place it keeps it together
# with "tojyutping".
LAYER_NAMES = ("oral_hk", "tojyutping", "tojyutping_tiebreak", "rime", "unihan")


def expand_order(layer_order: Sequence[str]) -> Tuple[str, ...]:
    unknown = [name for name in layer_order if name not in LAYER_NAMES]
    if unknown:
        raise ValueError(f"unknown layers: {unknown}")
    order = list(layer_order)
    if "tojyutping_tiebreak" not in order and "tojyutping" in order:
        order.insert(order.index("tojyutping") + 1, "tojyutping_tiebreak")
    return tuple(order)



def is_usable_key(key: str) -> bool:
    """A key the segmenter can produce: all Han, 1 to MAX_WORD_CHARS characters."""
    return 0 < len(key) <= MAX_WORD_CHARS and all(is_han(ch) for ch in key)


@dataclass
class Sources:
    oral_hk: Dict[str, str] = field(default_factory=dict)
    tojyutping_chars: Dict[str, List[str]] = field(default_factory=dict)
    tojyutping_words: Dict[str, Tuple[str, bool]] = field(default_factory=dict)
    rime: Dict[str, str] = field(default_factory=dict)
    unihan: Dict[str, List[str]] = field(default_factory=dict)


@dataclass(frozen=True)
class Entry:
    """What the tables say about one key."""

    candidates: Tuple[str, ...]
    confidence: str
    source: str

    @property
    def reading(self) -> str:
        return self.candidates[0]


# A layer's offer for one key: readings most likely first, the source label
# of its first reading, and whether its order is a real preference.
Offer = Tuple[Tuple[str, ...], str, bool]


def _offers(key: str, src: Sources) -> Dict[str, Offer]:
    offers: Dict[str, Offer] = {}
    if key in src.oral_hk:
        offers["oral_hk"] = ((src.oral_hk[key],), "oral_hk", True)
    if len(key) == 1:
        ranked = src.tojyutping_chars.get(key)
        if ranked:
            offers["tojyutping"] = (tuple(ranked), "tojyutping", True)
    else:
        found = src.tojyutping_words.get(key)
        if found is not None:
            reading, contextual = found
            label = "tojyutping" if contextual else "tojyutping_tiebreak"
            offers[label] = ((reading,), label, contextual)
    if key in src.rime:
        offers["rime"] = ((src.rime[key],), "rime", False)
    if len(key) == 1 and src.unihan.get(key):
        offers["unihan"] = (tuple(src.unihan[key]), "unihan", False)
    return offers


def _dedupe(readings: Iterable[str]) -> Tuple[str, ...]:
    seen = set()
    out = []
    for r in readings:
        if r and r not in seen:
            seen.add(r)
            out.append(r)
    return tuple(out)


def resolve_entry(key: str, src: Sources, layer_order: Sequence[str] = DEFAULT_LAYER_ORDER) -> Optional[Entry]:
    """The entry of one key, or None when no layer knows it."""
    offers = _offers(key, src)
    order = [name for name in expand_order(layer_order) if name in offers]
    if not order:
        return None
    first_readings, source, preferred = offers[order[0]]
    # The first layer's own order comes first (ToJyutping's ranking stays
    # intact), then every other layer's readings in layer order.
    candidates = _dedupe(
        list(first_readings) + [r for name in order[1:] for r in offers[name][0]]
    )
    if len(candidates) == 1:
        confidence = "certain"
    elif preferred:
        confidence = "ranked"
    else:
        confidence = "tied"
    return Entry(candidates, confidence, source)


def build_entries(
    src: Sources,
    layer_order: Sequence[str] = DEFAULT_LAYER_ORDER,
    word_keys: Optional[Iterable[str]] = None,
    char_order: Optional[Sequence[str]] = None,
) -> Dict[str, Entry]:
    """Entries for every character and every word of ``word_keys`` (by
    default the words of rime-cantonese and oral_hk). ``char_order``, when
    given, replaces ``layer_order`` for single characters.

    Words are only the keys the word table should segment on; a ToJyutping
    reading alone never makes a key a word, since ToJyutping is asked about
    words that other layers supply.
    """
    if word_keys is None:
        word_keys = [k for k in list(src.rime) + list(src.oral_hk) if len(k) > 1]
    keys = {k for k in word_keys if is_usable_key(k) and len(k) > 1}
    for table in (src.oral_hk, src.tojyutping_chars, src.rime, src.unihan):
        keys.update(k for k in table if len(k) == 1 and is_han(k))
    entries: Dict[str, Entry] = {}
    for key in sorted(keys):
        order = char_order if (char_order is not None and len(key) == 1) else layer_order
        entry = resolve_entry(key, src, order)
        if entry is not None:
            entries[key] = entry
    return entries


def tables_from_entries(entries: Mapping[str, Entry]) -> Dict[str, Dict[str, str]]:
    """The eight key -> value tables, split into word and character files.

    Single characters go to the character files only: the segmenter falls
    back to one character anyway, so a one-character word key adds nothing.
    """
    tables: Dict[str, Dict[str, str]] = {name: {} for name in TABLE_NAMES}
    for key, entry in entries.items():
        level = "char" if len(key) == 1 else "word"
        tables[level][key] = entry.reading
        tables[f"{level}_source"][key] = entry.source
        if len(entry.candidates) > 1:
            tables[f"{level}_candidates"][key] = "|".join(entry.candidates)
            tables[f"{level}_candidates_confidence"][key] = entry.confidence
    return tables
