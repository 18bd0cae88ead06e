"""Readers that turn the installed lexical sources into plain dicts.

Only installed data files and public functions of the source packages are
read. From PyCantonese that is the rime-cantonese data file it bundles, never
its conversion functions or its corpora.
"""

from __future__ import annotations

import bz2
import importlib.metadata
import importlib.util
import json
import os
import re
import subprocess
from typing import Callable, Dict, Iterable, List, Optional, Tuple

from dictionary_layers import is_han

# Exact versions the bundled tables are built from; a rebuild with other
# versions would not be byte-identical, so the builder refuses it.
PINNED = {
    "pycantonese": "5.0.0",
    "tojyutping": "3.2.0",
    "unicode-data": "15.0.0-1",
}

UNIHAN_READINGS = "/usr/share/unicode/Unihan_Readings.txt.bz2"
DEBIAN_RIME_DIR = "/usr/share/rime-data"

_SYLLABLE = re.compile(r"[a-z]+[1-6]")


def is_reading(text: str) -> bool:
    """A reading is one or more lower-case Jyutping syllables separated by spaces."""
    parts = text.split(" ")
    return bool(parts) and all(_SYLLABLE.fullmatch(p) for p in parts)


def installed_version(package: str) -> Optional[str]:
    if package == "unicode-data":
        try:
            out = subprocess.run(
                ["dpkg-query", "-W", "-f=${Version}", "unicode-data"],
                capture_output=True, text=True, check=False,
            )
        except FileNotFoundError:
            return None
        return out.stdout.strip() or None
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return None


def version_problems() -> List[str]:
    problems = []
    for package, wanted in PINNED.items():
        found = installed_version(package)
        if found != wanted:
            problems.append(f"{package}: need {wanted}, found {found or 'nothing'}")
    return problems


# --- rime-cantonese --------------------------------------------------------

def pycantonese_rime_file() -> Optional[str]:
    """Path of the rime-cantonese lexicon that PyCantonese ships as data."""
    spec = importlib.util.find_spec("pycantonese")
    if spec is None or not spec.submodule_search_locations:
        return None
    path = os.path.join(
        list(spec.submodule_search_locations)[0], "data", "rime_cantonese", "chars_to_jyutping.json"
    )
    return path if os.path.isfile(path) else None


def read_rime_json(path: str) -> Dict[str, str]:
    """key -> default reading, from the JSON lexicon (one reading per key)."""
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    return {k: v for k, v in data.items() if isinstance(v, str) and is_reading(v)}


def read_rime_yaml(paths: Iterable[str]) -> Dict[str, str]:
    """key -> reading from Rime dictionary files (Debian's librime-data-jyutping).

    Lines after the "..." header are "text<TAB>code[<TAB>weight]". A key's
    reading is its highest-weighted code; a missing weight counts as full
    weight and equal weights keep the first line, as Rime lists them.
    """
    best: Dict[str, Tuple[float, str]] = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            in_body = False
            for line in f:
                line = line.rstrip("\n")
                if not in_body:
                    in_body = line.strip() == "..."
                    continue
                if not line or line.startswith("#"):
                    continue
                fields = line.split("\t")
                if len(fields) < 2 or not is_reading(fields[1]):
                    continue
                weight = _rime_weight(fields[2] if len(fields) > 2 else "")
                key = fields[0]
                if key not in best or weight > best[key][0]:
                    best[key] = (weight, fields[1])
    return {k: v for k, (_, v) in best.items()}


def _rime_weight(text: str) -> float:
    text = text.strip()
    if not text:
        return 100.0
    try:
        return float(text[:-1]) if text.endswith("%") else float(text)
    except ValueError:
        return 0.0


def read_rime() -> Tuple[Dict[str, str], str]:
    """The rime-cantonese layer and a description of where it came from."""
    path = pycantonese_rime_file()
    if path is not None:
        return read_rime_json(path), f"pycantonese {installed_version('pycantonese')}: {path}"
    files = [
        os.path.join(DEBIAN_RIME_DIR, name)
        for name in ("jyutping.dict.yaml", "jyutping.phrase.dict.yaml")
    ]
    files = [p for p in files if os.path.isfile(p)]
    if not files:
        raise SystemExit("no rime-cantonese lexicon: install pycantonese or librime-data-jyutping")
    return read_rime_yaml(files), "librime-data-jyutping: " + ", ".join(files)


# --- ToJyutping ------------------------------------------------------------

class ToJyutpingSource:
    """ToJyutping's readings through its public functions.

    The lexicon it loads (a character trie whose nodes carry ranked readings)
    is walked only to learn which keys it holds; readings themselves come from
    ``get_jyutping_candidates`` and ``get_jyutping_list``.
    """

    def __init__(self) -> None:
        import ToJyutping
        from ToJyutping import Trie as trie_module

        self._api = ToJyutping
        self._root = trie_module.root
        self._keys = self._collect_keys()

    def _collect_keys(self) -> Dict[str, int]:
        """key -> number of readings, for every key of the loaded lexicon."""
        keys: Dict[str, int] = {}
        stack: List[Tuple[str, dict]] = [("", self._root)]
        while stack:
            prefix, node = stack.pop()
            for ch, child in node.items():
                key = prefix + ch
                values = getattr(child, "v", None)
                if values:
                    keys[key] = len(values)
                stack.append((key, child))
        return keys

    def word_keys(self) -> List[str]:
        return sorted(k for k in self._keys if len(k) > 1)

    def char_readings(self) -> Dict[str, List[str]]:
        """character -> readings, ToJyutping's most likely first."""
        out: Dict[str, List[str]] = {}
        for key in sorted(k for k in self._keys if len(k) == 1):
            pairs = self._api.get_jyutping_candidates(key)
            if len(pairs) == 1:
                ranked = [r for r in pairs[0][1] if is_reading(r)]
                if ranked:
                    out[key] = ranked
        return out

    def _is_contextual(self, word: str) -> bool:
        """False when ToJyutping reads some polyphonic character of ``word``
        alone, taking its first reading with no word around it to decide."""
        if self._keys.get(word):
            return True
        i = 0
        while i < len(word):
            node = self._root
            end = i
            j = i
            while j < len(word):
                node = node.get(word[j])
                if node is None:
                    break
                if getattr(node, "v", None):
                    end = j
                j += 1
            if end == i and self._keys.get(word[i], 0) > 1:
                return False
            i = end + 1
        return True

    def word_reading(self, word: str) -> Optional[Tuple[str, bool]]:
        pairs = self._api.get_jyutping_list(word)
        if len(pairs) != len(word) or any(r is None for _, r in pairs):
            return None
        reading = " ".join(r for _, r in pairs)
        if not is_reading(reading):
            return None
        return reading, self._is_contextual(word)

    def word_readings(self, words: Iterable[str]) -> Dict[str, Tuple[str, bool]]:
        out = {}
        for word in words:
            found = self.word_reading(word)
            if found is not None:
                out[word] = found
        return out


# --- Unihan ----------------------------------------------------------------

def read_unihan(path: str = UNIHAN_READINGS) -> Dict[str, List[str]]:
    """character -> kCantonese readings, in Unihan's order."""
    opener: Callable = bz2.open if path.endswith(".bz2") else open
    out: Dict[str, List[str]] = {}
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if not line.startswith("U+"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 3 or fields[1] != "kCantonese":
                continue
            ch = chr(int(fields[0][2:], 16))
            readings = [r for r in fields[2].split() if is_reading(r)]
            if readings and is_han(ch):
                out[ch] = readings
    return out


# --- oral_hk ---------------------------------------------------------------

def read_oral_hk(path: str) -> Dict[str, str]:
    """key -> reading from the curated layer: "key<TAB>reading[<TAB>note]" lines,
    "#" starting a comment line."""
    out: Dict[str, str] = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) < 2 or not is_reading(fields[1]):
                raise ValueError(f"{path}:{number}: expected key<TAB>reading, got {line!r}")
            key = fields[0]
            if not all(is_han(ch) for ch in key):
                raise ValueError(f"{path}:{number}: key {key!r} is not all Han")
            if len(fields[1].split(" ")) != len(key):
                raise ValueError(f"{path}:{number}: {key!r} needs one syllable per character")
            if key in out:
                raise ValueError(f"{path}:{number}: duplicate key {key!r}")
            out[key] = fields[1]
    return out
