"""HKCanCor as a gold standard for character readings.

HKCanCor (bundled with PyCantonese) is spoken Hong Kong Cantonese, segmented
into words with Jyutping on each word. Its files are split by name: the files
that sort in the first half are the development set, used to measure and tune
the bundled data. The second half is reserved for independent evaluation
outside this repository: nothing here reads it.

Romanisation is normalised on both sides in the same way (``normalise``):
- lower case;
- the ng-/null initial merger: "ng" before a vowel is dropped, so the lazy
  spellings aam1 and o5 match ngaam1 and ngo5 (the corpus writes 啱 both ways);
- the older spelling "yu" for "jyu" at the start of a syllable (魚 yu2).
"""

from __future__ import annotations

import os
import re
from dataclasses import dataclass
from typing import List, Optional, Sequence, Tuple

from merrow.cjyp import is_han

_SYLLABLE = re.compile(r"[a-z]+[1-6]")
_DIGIT = re.compile(r"[0-9\uff10-\uff19]")
_VOWELS = "aeiou"


def normalise(syllable: str) -> str:
    s = syllable.strip().lower()
    if s.startswith("ng") and len(s) > 2 and s[2] in _VOWELS:
        s = s[2:]
    if s.startswith("yu"):
        s = "j" + s
    return s


def normalise_reading(reading: str) -> str:
    return " ".join(normalise(s) for s in reading.split(" "))


def toneless(syllable: str) -> str:
    return syllable.rstrip("123456")


def split_syllables(jyutping: str) -> Optional[List[str]]:
    """Syllables of a run-together or spaced reading, or None if it does not parse."""
    text = jyutping.replace(" ", "")
    found = _SYLLABLE.findall(text)
    return found if "".join(found) == text else None


@dataclass(frozen=True)
class Utterance:
    text: str
    han: str  # the Han characters of the text, in order
    gold: Tuple[str, ...]  # one normalised syllable per Han character
    file: str
    pos: Tuple[str, ...] = ()  # the corpus's part-of-speech tag of each Han character's word, lower case


def corpus_dir() -> str:
    import importlib.util

    spec = importlib.util.find_spec("pycantonese")
    if spec is None or not spec.submodule_search_locations:
        raise SystemExit("pycantonese is not installed (pip install pycantonese==5.0.0)")
    return os.path.join(list(spec.submodule_search_locations)[0], "data", "hkcancor")


def dev_files() -> List[str]:
    """The development half: the files that sort first by name."""
    names = sorted(n for n in os.listdir(corpus_dir()) if n.endswith(".cha"))
    return [os.path.join(corpus_dir(), n) for n in names[: len(names) // 2]]


def _join_words(words: Sequence[str]) -> str:
    out = ""
    for w in words:
        if out and w and out[-1].isascii() and out[-1].isalnum() and w[0].isascii() and w[0].isalnum():
            out += " "
        out += w
    return out


@dataclass
class Loaded:
    utterances: List[Utterance]
    with_digits: int
    unusable: int  # utterances whose gold does not give one syllable per Han character


def load() -> Loaded:
    """Utterances of the development half that can be scored: no digits, and
    a gold syllable for every Han character."""
    from pycantonese import CHAT

    files = dev_files()
    utterances: List[Utterance] = []
    with_digits = unusable = 0
    for path in files:
        corpus = CHAT.from_files([path], parallel=False)
        for tokens in corpus.tokens(by_utterance=True):
            words = [t.word for t in tokens if t.word]
            text = _join_words(words)
            if not any(is_han(ch) for ch in text):
                continue
            if _DIGIT.search(text):
                with_digits += 1
                continue
            han: List[str] = []
            gold: List[str] = []
            pos: List[str] = []
            ok = True
            for t in tokens:
                chars = [ch for ch in (t.word or "") if is_han(ch)]
                if not chars:
                    continue
                syllables = split_syllables(t.jyutping) if t.jyutping else None
                if syllables is None or len(syllables) != len(chars):
                    ok = False
                    break
                han.extend(chars)
                gold.extend(normalise(s) for s in syllables)
                pos.extend([(t.pos or "").lower()] * len(chars))
            if not ok:
                unusable += 1
                continue
            utterances.append(Utterance(text, "".join(han), tuple(gold), os.path.basename(path), tuple(pos)))
    return Loaded(utterances, with_digits, unusable)


@dataclass
class Score:
    chars: int = 0
    correct: int = 0
    correct_toneless: int = 0
    misaligned: int = 0  # utterances counted wholly wrong

    @property
    def accuracy(self) -> float:
        return self.correct / self.chars if self.chars else 0.0

    @property
    def accuracy_toneless(self) -> float:
        return self.correct_toneless / self.chars if self.chars else 0.0


def score_one(score: Score, utterance: Utterance, predicted: Optional[Sequence[Optional[str]]]) -> None:
    """Adds one utterance: ``predicted`` holds one reading per Han character
    (None where the system gave none), or is None when its syllables did not
    align with the Han characters."""
    n = len(utterance.gold)
    score.chars += n
    if predicted is None or len(predicted) != n:
        score.misaligned += 1
        return
    for gold, got in zip(utterance.gold, predicted):
        if got is None:
            continue
        got = normalise(got)
        if got == gold:
            score.correct += 1
        if toneless(got) == toneless(gold):
            score.correct_toneless += 1


def errors(utterance: Utterance, predicted: Optional[Sequence[Optional[str]]]) -> List[Tuple[str, str, str]]:
    """(character, gold, predicted) for every wrong character of an aligned utterance."""
    if predicted is None or len(predicted) != len(utterance.gold):
        return []
    out = []
    for ch, gold, got in zip(utterance.han, utterance.gold, predicted):
        got_n = normalise(got) if got is not None else "-"
        if got_n != gold:
            out.append((ch, gold, got_n))
    return out
