"""Readings aligned to the text they came from.

    >>> from merrow import align
    >>> [(e.original, e.reading) for e in align("$1,000")]
    [('$1,000', 'jat1'), ('$1,000', 'cin1'), ('$1,000', 'jyun4')]

`align` returns one `Alignment` per syllable of a Han word and one per
passed-through token (a Latin word, a punctuation mark). `start` and `end`
are code point offsets into the text, so ``text[start:end]`` is `original`,
the part of the input that the entry's characters were made from: a
spelled-out number or amount points at the whole of it, and a mapped mark
(、 read as ，) at its own character. Deleted marks (quotes, brackets) and
whitespace have no entry.

A word whose reading does not have one syllable per character (a user
entry such as 'ok' for 好, say) keeps its whole reading in one entry with
`whole_word` set, rather than being split at the wrong places.

The conversions run in the extension module `merrow._align`, a flavour of
the engine that records where each character came from; the ordinary
conversions of `PyPipeline` do not pay for it.
"""

from __future__ import annotations

import functools
import json
import os
from typing import TYPE_CHECKING, Callable, Dict, Iterable, List, Mapping, NamedTuple, Optional, Union

from ._pipeline_cache import PipelineCache

if TYPE_CHECKING:
    from ._align import AlignPipeline
    from .converter import Converter

__all__ = [
    "Alignment", "ROMANISATIONS", "align", "align_batch", "align_lines", "aligned_pipeline", "converter_align",
    "converter_align_batch", "converter_pipeline", "plain_lines", "romanise_alignment", "romanise_reading",
]

ROMANISATIONS = ("jyutping", "ipa", "yale")


class Alignment(NamedTuple):
    """One syllable, or one passed-through token, and where it came from."""

    start: int  # code point offsets of the source in the text
    end: int
    original: str  # text[start:end]
    normalised: str  # the character (or word, or token) after normalisation
    reading: str  # its syllable; the word's whole reading when whole_word
    lang: str  # "yue", "en" or "punct"
    confidence: str  # the labels of the word the character belongs to
    source: str
    whole_word: bool  # the reading could not be split one syllable per character


_pipelines: "PipelineCache[AlignPipeline]" = PipelineCache()


def _cached(key: tuple, build: Callable[[], "AlignPipeline"]) -> "AlignPipeline":
    return _pipelines.get(key, build)


@functools.lru_cache(maxsize=None)
def _extension():
    from . import _align

    # Entries are made as Alignment instances by the extension itself.
    _align.set_entry_type(Alignment)
    return _align


def aligned_pipeline(
    data_dir: Optional[str] = None, punc_norm: bool = True, user_dict: Optional[Mapping[str, str]] = None
) -> "AlignPipeline":
    """The aligning pipeline for a configuration (None: the bundled data),
    built once per process and configuration. Mapping the files is cheap.
    The user dictionary is checked as `merrow.load` checks it."""
    AlignPipeline = _extension().AlignPipeline

    if data_dir is None:
        import merrow

        data_dir = merrow.DATA_DIR
    from .user_dict import resolve

    words = resolve(user_dict)
    key = (os.fspath(data_dir), bool(punc_norm), None if words is None else tuple(sorted(words.items())))
    return _cached(key, lambda: AlignPipeline(key[0], punc_norm=key[1], user_dict=words))


def align(
    text: str,
    *,
    punc_norm: bool = True,
    user_dict: Optional[Mapping[str, str]] = None,
    data_dir: Optional[str] = None,
) -> List[Alignment]:
    """The entries of `text`, in order, on the bundled data (or `data_dir`)."""
    return aligned_pipeline(data_dir, punc_norm, user_dict).align(text)


def align_batch(
    texts: Iterable[str],
    *,
    punc_norm: bool = True,
    user_dict: Optional[Mapping[str, str]] = None,
    data_dir: Optional[str] = None,
) -> List[List[Alignment]]:
    """`align` of every text, converted in parallel on the engine's pool."""
    texts = texts if isinstance(texts, list) else list(texts)
    return aligned_pipeline(data_dir, punc_norm, user_dict).align_batch(texts)


# Converter.align and Converter.align_batch: the converter's configuration,
# and its digest as the cache key.


def converter_pipeline(converter: "Converter") -> "AlignPipeline":
    """The aligning pipeline with the converter's configuration, built once
    per process and configuration."""
    AlignPipeline = _extension().AlignPipeline

    data_dir = converter.data_dir
    if data_dir is None:
        import merrow

        data_dir = merrow.DATA_DIR
    key = ("converter", converter._key, data_dir)
    return _cached(key, lambda: AlignPipeline(data_dir, punc_norm=converter.punc_norm,
                                               user_dict=converter.user_dict))


def converter_align(converter: "Converter", text: str) -> List[Alignment]:
    return converter_pipeline(converter).align(text)


def converter_align_batch(converter: "Converter", texts: Iterable[str]) -> List[List[Alignment]]:
    texts = texts if isinstance(texts, list) else list(texts)
    return converter_pipeline(converter).align_batch(texts)


# Romanisations of readings: syllables that are not Jyutping (a passed-through
# token, an odd user reading) stay as they are.


def _converter_for(romanisation: str) -> Optional[Callable[[str], str]]:
    if romanisation not in ROMANISATIONS:
        raise ValueError(f"romanisation must be one of {', '.join(ROMANISATIONS)}, not {romanisation!r}")
    if romanisation == "jyutping":
        return None
    from . import romanisation as r

    one = r.jyutping_to_ipa if romanisation == "ipa" else r.jyutping_to_yale

    def convert(syllable: str) -> str:
        try:
            return one(syllable)
        except ValueError:
            return syllable

    return convert


def romanise_reading(reading: str, romanisation: str) -> str:
    """`reading` (Jyutping syllables separated by spaces, as `convert`
    returns) in `romanisation`: "jyutping", "ipa" or "yale"."""
    convert = _converter_for(romanisation)
    if convert is None:
        return reading
    return " ".join([convert(s) for s in reading.split(" ")])


def romanise_alignment(entries: List[Alignment], romanisation: str) -> List[Alignment]:
    """The entries with their readings in `romanisation`."""
    convert = _converter_for(romanisation)
    if convert is None:
        return entries
    return [e._replace(reading=" ".join([convert(s) for s in e.reading.split(" ")])) for e in entries]


def _record(e: Alignment) -> Dict[str, object]:
    return dict(zip(Alignment._fields, e))


def align_lines(
    pipeline: "Union[AlignPipeline, Converter]", lines: List[str], romanisation: str = "jyutping"
) -> List[str]:
    """The `-f align` output of the command line: one JSON object per line,
    {"text": line, "alignment": [entry objects]}. `pipeline` is an aligning
    pipeline or a `Converter`."""
    from .converter import Converter

    if isinstance(pipeline, Converter):
        pipeline = converter_pipeline(pipeline)
    out = []
    for line, raw in zip(lines, pipeline.align_batch(lines)):
        entries = romanise_alignment(raw, romanisation)
        out.append(json.dumps({"text": line, "alignment": [_record(e) for e in entries]}, ensure_ascii=False))
    return out


def plain_lines(converted: List[str], romanisation: str) -> List[str]:
    """Lines of `convert_batch` output in `romanisation`."""
    return [romanise_reading(line, romanisation) for line in converted]

