"""Jyutping syllables: parsing, and conversion to IPA and to Yale.

A Jyutping syllable is an onset (possibly empty), a final and a tone number
1-6, written in lower case: ``hoeng1``, ``gwong2``, ``jyut6``, ``m4``. The
final is a nucleus and a coda (``oeng`` = ``oe`` + ``ng``); the syllabic
nasals ``m`` and ``ng`` are finals on their own, with no onset or ``h``
(``hm1``, ``hng6``).

`parse_jyutping` is the single definition of a valid syllable. It accepts the
19 onsets and the finals of the LSHK scheme plus the colloquial rimes
-a, -em, -en, -ep, -et, -eu and -oet (``ga3``, ``deu6``, ``coet1``), which
occur in everyday speech and in the bundled dictionaries. Entering syllables
(codas -p, -t, -k) are accepted with every tone: besides 1, 3 and 6 they
carry changed tones and colloquial readings on 2, 4 and 5 (``aak2``,
``bat4``). A bare ``yu`` final needs its onset (``jyu``, not ``yu``).

IPA: broad phonemic transcription of Hong Kong Cantonese, after Matthews &
Yip, *Cantonese: A Comprehensive Grammar* (2nd ed., Routledge 2011, ch. 1)
and the LSHK Jyutping scheme's table of initials and finals:

- long vowels carry ``ː`` (aa [aː], e [ɛː], i [iː], o [ɔː], u [uː],
  yu [yː], oe [œː]); the short vowels are a [ɐ] and eo [ɵ], and the short
  allophones in ei [ei], ou [ou], eoi [ɵy], ing [ɪŋ], ik [ɪk], ung [ʊŋ],
  uk [ʊk];
- aspiration is ``ʰ`` (p [pʰ], c [tsʰ], kw [kʷʰ]); z, c are [ts], [tsʰ];
- final stops are written plain (no unreleased mark): [p t k];
- syllabic nasals are [m̩] and [ŋ̍];
- j and w are kept as glides before every final ([jyː], [wuː]);
- tones are Chao tone letters after the syllable: 1 ˥ (55), 2 ˧˥ (35),
  3 ˧ (33), 4 ˨˩ (21), 5 ˩˧ (13), 6 ˨ (22); entering syllables use the
  same letters, i.e. ˥ ˧ ˨ for tones 1, 3, 6 (the short stopped tones 5, 3,
  2). Tone 1 is written high level, Jyutping not marking high falling.

Yale: z c j are written j ch y, and j is dropped before yu (``jyu4`` ->
``yùh``); oe and eo are both written eu (``hoeng1`` -> ``hēung``,
``seoi4`` -> ``sèuih``); the final aa alone is a (``baa1`` -> ``bā``). With
tone marks, tone 1 is a macron, 2 an acute, 3 unmarked, 4 a grave, 5 an
acute and 6 unmarked, on the first vowel letter (on m or n for syllabic
nasals); the low tones 4-6 add h after the vowels, before any final
consonant (``hong4`` -> ``hòhng``, ``sik6`` -> ``sihk``). With tone numbers
the digit replaces both the mark and the h (``hong4`` -> ``hong4``). Yale has
no spelling of its own for the colloquial rimes: -eu is written ew so that it
stays apart from eu (``deu6`` -> ``dewh``), -oet falls together with -eot
as -eut, and the rare ``ju`` with ``jyu`` as yu.

Both conversions take a str of whitespace-separated syllables and return a
str of the converted syllables joined by single spaces, or take a sequence of
such strs (one syllable, or one word's reading, each) and return a list of the
same length. Anything that is not a valid syllable raises ValueError.
"""

from __future__ import annotations

import unicodedata
from functools import lru_cache
from typing import Callable, List, NamedTuple, Sequence, Union, overload

__all__ = ["Syllable", "jyutping_to_ipa", "jyutping_to_yale", "parse_jyutping"]


class Syllable(NamedTuple):
    """One parsed Jyutping syllable; ``onset + nucleus + coda + str(tone)``
    spells it again."""

    onset: str
    nucleus: str
    coda: str
    tone: int


# The onsets and finals a syllable is made of; finals are listed by nucleus,
# and a final is its nucleus and a coda.
ONSETS = ("", "b", "p", "m", "f", "d", "t", "n", "l", "g", "k", "ng", "h", "gw", "kw", "w", "z", "c", "s", "j")
_FINALS_BY_NUCLEUS = {
    "aa": "aa aai aau aam aan aang aap aat aak",
    "a": "a ai au am an ang ap at ak",
    "e": "e ei eu em en eng ep et ek",
    "i": "i iu im in ing ip it ik",
    "o": "o oi ou on ong ot ok",
    "oe": "oe oeng oet oek",
    "eo": "eoi eon eot",
    "u": "u ui un ung ut uk",
    "yu": "yu yun yut",
    "m": "m",
    "ng": "ng",
}
FINALS = {
    final: (nucleus, final[len(nucleus):])
    for nucleus, finals in _FINALS_BY_NUCLEUS.items()
    for final in finals.split()
}

ONSETS_IPA = {
    "": "", "b": "p", "p": "pʰ", "m": "m", "f": "f", "d": "t", "t": "tʰ", "n": "n", "l": "l", "g": "k",
    "k": "kʰ", "ng": "ŋ", "h": "h", "gw": "kʷ", "kw": "kʷʰ", "w": "w", "z": "ts", "c": "tsʰ", "s": "s",
    "j": "j",
}
FINALS_IPA = {
    "aa": "aː", "aai": "aːi", "aau": "aːu", "aam": "aːm", "aan": "aːn", "aang": "aːŋ",
    "aap": "aːp", "aat": "aːt", "aak": "aːk",
    "a": "ɐ", "ai": "ɐi", "au": "ɐu", "am": "ɐm", "an": "ɐn", "ang": "ɐŋ", "ap": "ɐp", "at": "ɐt", "ak": "ɐk",
    "e": "ɛː", "ei": "ei", "eu": "ɛːu", "em": "ɛːm", "en": "ɛːn", "eng": "ɛːŋ",
    "ep": "ɛːp", "et": "ɛːt", "ek": "ɛːk",
    "i": "iː", "iu": "iːu", "im": "iːm", "in": "iːn", "ing": "ɪŋ", "ip": "iːp", "it": "iːt", "ik": "ɪk",
    "o": "ɔː", "oi": "ɔːi", "ou": "ou", "on": "ɔːn", "ong": "ɔːŋ", "ot": "ɔːt", "ok": "ɔːk",
    "oe": "œː", "oeng": "œːŋ", "oet": "œːt", "oek": "œːk",
    "eoi": "ɵy", "eon": "ɵn", "eot": "ɵt",
    "u": "uː", "ui": "uːi", "un": "uːn", "ung": "ʊŋ", "ut": "uːt", "uk": "ʊk",
    "yu": "yː", "yun": "yːn", "yut": "yːt",
    "m": "m̩", "ng": "ŋ̍",
}

ONSETS_YALE = {
    "": "", "b": "b", "p": "p", "m": "m", "f": "f", "d": "d", "t": "t", "n": "n", "l": "l", "g": "g",
    "k": "k", "ng": "ng", "h": "h", "gw": "gw", "kw": "kw", "w": "w", "z": "j", "c": "ch", "s": "s",
    "j": "y",
}
# Final -> Yale vowel letters and final consonant, apart so that the low-tone
# h can go between them.
FINALS_YALE = {
    "aa": ("a", ""), "aai": ("aai", ""), "aau": ("aau", ""), "aam": ("aa", "m"), "aan": ("aa", "n"),
    "aang": ("aa", "ng"), "aap": ("aa", "p"), "aat": ("aa", "t"), "aak": ("aa", "k"),
    "a": ("a", ""), "ai": ("ai", ""), "au": ("au", ""), "am": ("a", "m"), "an": ("a", "n"),
    "ang": ("a", "ng"), "ap": ("a", "p"), "at": ("a", "t"), "ak": ("a", "k"),
    "e": ("e", ""), "ei": ("ei", ""), "eu": ("ew", ""), "em": ("e", "m"), "en": ("e", "n"),
    "eng": ("e", "ng"), "ep": ("e", "p"), "et": ("e", "t"), "ek": ("e", "k"),
    "i": ("i", ""), "iu": ("iu", ""), "im": ("i", "m"), "in": ("i", "n"),
    "ing": ("i", "ng"), "ip": ("i", "p"), "it": ("i", "t"), "ik": ("i", "k"),
    "o": ("o", ""), "oi": ("oi", ""), "ou": ("ou", ""), "on": ("o", "n"),
    "ong": ("o", "ng"), "ot": ("o", "t"), "ok": ("o", "k"),
    "oe": ("eu", ""), "oeng": ("eu", "ng"), "oet": ("eu", "t"), "oek": ("eu", "k"),
    "eoi": ("eui", ""), "eon": ("eu", "n"), "eot": ("eu", "t"),
    "u": ("u", ""), "ui": ("ui", ""), "un": ("u", "n"), "ung": ("u", "ng"), "ut": ("u", "t"), "uk": ("u", "k"),
    "yu": ("yu", ""), "yun": ("yu", "n"), "yut": ("yu", "t"),
    "m": ("m", ""), "ng": ("ng", ""),
}

SYLLABIC = ("m", "ng")

# Tone -> Chao tone letters.
TONES_IPA = {1: "˥", 2: "˧˥", 3: "˧", 4: "˨˩", 5: "˩˧", 6: "˨"}

# Tone -> (combining mark or "", whether the low-tone h is written).
TONES_YALE = {
    1: ("\u0304", False),
    2: ("\u0301", False),
    3: ("", False),
    4: ("\u0300", True),
    5: ("\u0301", True),
    6: ("", True),
}

_LONG_ONSETS = ("ng", "gw", "kw")


def _invalid(syllable: str, reason: str) -> ValueError:
    return ValueError(f"invalid Jyutping syllable {syllable!r}: {reason}")


@lru_cache(maxsize=4096)
def _parse(syllable: str) -> Syllable:
    if not syllable:
        raise _invalid(syllable, "empty string")
    if any(ch.isspace() for ch in syllable):
        raise _invalid(syllable, "contains whitespace (one syllable expected)")
    if syllable != syllable.lower():
        raise _invalid(syllable, "upper-case letters (Jyutping is written in lower case)")
    digit = syllable[-1]
    if digit not in "0123456789":
        raise _invalid(syllable, "no tone number 1-6 at the end")
    if digit not in "123456":
        raise _invalid(syllable, f"tone {digit} is not one of 1-6")
    letters = syllable[:-1]
    if not letters:
        raise _invalid(syllable, "no letters before the tone number")
    for ch in letters:
        if ch in "0123456789":
            raise _invalid(syllable, f"tone number {ch} before the end of the syllable")
        if not "a" <= ch <= "z":
            raise _invalid(syllable, f"unexpected character {ch!r}")

    if letters in SYLLABIC:
        onset = ""
    else:
        onset = letters[:2] if letters[:2] in _LONG_ONSETS else letters[:1]
        if onset not in ONSETS:
            onset = ""
    final = letters[len(onset):]
    if not final:
        raise _invalid(syllable, f"no final after the onset {onset!r}")
    if final not in FINALS:
        if not onset and letters[0] not in "aeiouy":
            raise _invalid(syllable, f"{letters[0]!r} is not a Jyutping onset")
        after = f" after the onset {onset!r}" if onset else ""
        raise _invalid(syllable, f"unknown final {final!r}{after}")
    if final in SYLLABIC and onset not in ("", "h"):
        raise _invalid(syllable, f"the syllabic nasal {final!r} takes no onset other than 'h'")
    if final.startswith("yu") and not onset:
        raise _invalid(syllable, f"the final {final!r} needs an onset (write 'j{final}')")
    nucleus, coda = FINALS[final]
    return Syllable(onset, nucleus, coda, int(digit))


def parse_jyutping(syllable: str) -> Syllable:
    """Splits one Jyutping syllable into onset, nucleus, coda and tone.

    >>> parse_jyutping("hoeng1")
    Syllable(onset='h', nucleus='oe', coda='ng', tone=1)

    Raises ValueError naming the syllable and the reason when it is not a
    valid lower-case Jyutping syllable, TypeError when it is not a str.
    """
    if not isinstance(syllable, str):
        raise TypeError(f"a Jyutping syllable must be a str, not {type(syllable).__name__}")
    return _parse(syllable)


@lru_cache(maxsize=4096)
def _ipa(syllable: str) -> str:
    s = _parse(syllable)
    return ONSETS_IPA[s.onset] + FINALS_IPA[s.nucleus + s.coda] + TONES_IPA[s.tone]


def _with_mark(vowels: str, mark: str) -> str:
    if not mark:
        return vowels
    # The first of a e i o u carries the mark; a syllabic nasal has none.
    at = next((i for i, ch in enumerate(vowels) if ch in "aeiou"), 0)
    return unicodedata.normalize("NFC", vowels[: at + 1] + mark + vowels[at + 1 :])


@lru_cache(maxsize=8192)
def _yale(syllable: str, tone_marks: bool) -> str:
    s = _parse(syllable)
    final = s.nucleus + s.coda
    onset = ONSETS_YALE[s.onset]
    if s.onset == "j" and final.startswith("yu"):
        onset = ""
    vowels, consonant = FINALS_YALE[final]
    if not tone_marks:
        return f"{onset}{vowels}{consonant}{s.tone}"
    mark, low = TONES_YALE[s.tone]
    return onset + _with_mark(vowels, mark) + ("h" if low else "") + consonant


Syllables = Union[str, Sequence[str]]


def _map(syllables: Syllables, convert: Callable[[str], str]) -> Union[str, List[str]]:
    def reading(text: str) -> str:
        if not isinstance(text, str):
            raise TypeError(f"Jyutping must be given as str, not {type(text).__name__}")
        return " ".join([convert(s) for s in text.split()])

    if isinstance(syllables, str):
        return reading(syllables)
    if isinstance(syllables, (bytes, bytearray)):
        raise TypeError("Jyutping must be given as str or a sequence of str, not bytes")
    return [reading(text) for text in syllables]


# A str is a Sequence[str] too; the str overloads come first and win.
@overload
def jyutping_to_ipa(syllables: str) -> str: ...  # type: ignore[overload-overlap]


@overload
def jyutping_to_ipa(syllables: Sequence[str]) -> List[str]: ...


def jyutping_to_ipa(syllables: Syllables) -> Union[str, List[str]]:
    """Broad phonemic IPA with Chao tone letters.

    >>> jyutping_to_ipa("hoeng1 gong2")
    'hœːŋ˥ kɔːŋ˧˥'
    >>> jyutping_to_ipa(["m4", "goi1"])
    ['m̩˨˩', 'kɔːi˥']
    """
    return _map(syllables, _ipa)


@overload
def jyutping_to_yale(syllables: str, tone_marks: bool = True) -> str: ...  # type: ignore[overload-overlap]


@overload
def jyutping_to_yale(syllables: Sequence[str], tone_marks: bool = True) -> List[str]: ...


def jyutping_to_yale(syllables: Syllables, tone_marks: bool = True) -> Union[str, List[str]]:
    """Yale romanisation, with tone marks and the low-tone h, or with tone
    numbers when `tone_marks` is false.

    >>> jyutping_to_yale("jyut6 jyu5")
    'yuht yúh'
    >>> jyutping_to_yale(["hoeng1 gong2"], tone_marks=False)
    ['heung1 gong2']
    """
    marks = bool(tone_marks)
    return _map(syllables, lambda s: _yale(s, marks))
