"""User dictionaries: reading them from files and checking their entries.

`_merrow.PyPipeline` takes any str-to-str dict and uses it verbatim, so an
entry that can never match, or a reading that is not Jyutping, would go
unnoticed. Everything the package builds a pipeline from (`merrow.load`,
`Converter`, the command line) passes through `check_entries` first, which
reports every bad entry at once.

File format: UTF-8 (a byte-order mark is allowed), one entry per line,
``word<TAB>reading``; blank lines and lines starting with ``#`` are skipped;
a line may end in CR LF. When a word is listed twice, the later line wins.
"""

from __future__ import annotations

import os
import re
import warnings
from typing import Dict, List, Mapping, Optional, Tuple, Union

from .contracts import MAX_WORD_CHARS, is_han
from .romanisation import parse_jyutping

__all__ = ["UserDictError", "UserDictSource", "check_entries", "parse_file", "read_file", "resolve"]

UserDictSource = Union[Mapping[str, str], str, "os.PathLike[str]"]

_LINE_BREAKS = re.compile("[\n\r\v\f\x1c\x1d\x1e\x85\u2028\u2029]")


class UserDictError(ValueError):
    """Bad user dictionary entries; `problems` lists one text per entry."""

    def __init__(self, source: str, problems: List[str]) -> None:
        self.source = source
        self.problems = problems
        count = f"{len(problems)} bad entr{'y' if len(problems) == 1 else 'ies'}"
        super().__init__("\n".join([f"{count} in user dictionary {source}:"] + problems))


def _check_word(word: str) -> Optional[str]:
    if not word:
        return "the word is empty"
    if word != word.strip():
        return f"the word {word!r} has spaces around it"
    if not any(is_han(ch) for ch in word):
        return f"the word {word!r} has no Han character, so it never matches"
    odd = next((ch for ch in word if not is_han(ch)), None)
    if odd is not None:
        return f"the word {word!r} holds {odd!r} (U+{ord(odd):04X}), not a Han character, so it never matches"
    if len(word) > MAX_WORD_CHARS:
        return f"the word {word!r} has {len(word)} characters; words over {MAX_WORD_CHARS} never match"
    return None


def _check_reading(word: str, reading: str) -> Tuple[Optional[str], str]:
    """(problem or None, the reading in lower case with single spaces)."""
    if _LINE_BREAKS.search(reading):
        return f"the reading of {word!r} contains a line break", reading
    syllables = reading.lower().split()
    if not syllables:
        return f"the reading of {word!r} is empty", reading
    for syllable in syllables:
        try:
            parse_jyutping(syllable)
        except ValueError as e:
            reason = str(e).split(": ", 1)[-1]
            return f"the reading {reading!r} of {word!r} is not Jyutping ({syllable!r}: {reason})", reading
    if len(syllables) != len(word):
        return (
            f"the reading {reading!r} has {len(syllables)} syllable{'s' if len(syllables) != 1 else ''} "
            f"but {word!r} has {len(word)} character{'s' if len(word) != 1 else ''}",
            reading,
        )
    return None, " ".join(syllables)


def _check_entry(word: str, reading: str) -> Tuple[Optional[str], str]:
    problem = _check_word(word)
    if problem is not None:
        return problem, reading
    return _check_reading(word, reading)


def check_entries(entries: Mapping[str, str], source: str = "user_dict") -> Dict[str, str]:
    """A checked copy of `entries`, readings in lower case with single spaces.

    Raises TypeError for a key or value that is not str, UserDictError naming
    every bad entry otherwise.
    """
    checked: Dict[str, str] = {}
    problems: List[str] = []
    for word, reading in entries.items():
        if not isinstance(word, str) or not isinstance(reading, str):
            raise TypeError(f"user_dict entries must map str to str: {word!r}: {reading!r}")
        problem, normal = _check_entry(word, reading)
        if problem is None:
            checked[word] = normal
        else:
            problems.append(f"{source}[{word!r}]: {problem}")
    if problems:
        raise UserDictError(source, problems)
    return checked


def parse_file(path: Union[str, "os.PathLike[str]"]) -> Tuple[Dict[str, str], List[str]]:
    """(entries, duplicate notes) of a user dictionary file.

    Raises OSError when the file cannot be read, UserDictError naming every
    bad line otherwise. Each note tells which line of a repeated word wins.
    """
    name = os.fspath(path)
    with open(name, "rb") as f:
        data = f.read()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    entries: Dict[str, str] = {}
    first_line: Dict[str, int] = {}
    problems: List[str] = []
    duplicates: List[str] = []
    for number, raw in enumerate(data.split(b"\n"), 1):
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        where = f"{name}, line {number}"
        try:
            line = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            problems.append(f"{where}: not valid UTF-8 (byte {e.start + 1})")
            continue
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 2:
            problems.append(f"{where}: expected 'word<TAB>reading', got {line!r}")
            continue
        word, reading = fields
        problem, normal = _check_entry(word, reading)
        if problem is not None:
            problems.append(f"{where}: {problem}")
            continue
        if word in first_line:
            duplicates.append(
                f"{where}: {word!r} is also on line {first_line[word]}; line {number} wins ({normal!r})"
            )
        first_line[word] = number
        entries[word] = normal
    if problems:
        raise UserDictError(name, problems)
    return entries, duplicates


def read_file(path: Union[str, "os.PathLike[str]"]) -> Dict[str, str]:
    """The entries of a user dictionary file; a repeated word gives a
    UserWarning naming the line that wins."""
    entries, duplicates = parse_file(path)
    for note in duplicates:
        warnings.warn(f"user dictionary {note}", UserWarning, stacklevel=4)
    return entries


def resolve(user_dict: Optional[UserDictSource]) -> Optional[Dict[str, str]]:
    """The checked entries of a mapping or of the file at a path; None stays None."""
    if user_dict is None:
        return None
    if isinstance(user_dict, (str, os.PathLike)):
        return read_file(user_dict)
    if not isinstance(user_dict, Mapping):
        raise TypeError(f"user_dict must be a mapping or a file path, not {type(user_dict).__name__}")
    return check_entries(user_dict)
