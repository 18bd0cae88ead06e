"""A picklable converter for multi-process and cluster jobs.

`PyPipeline` holds memory mappings and cannot be pickled. `Converter` holds
only its configuration and builds its pipeline lazily, once per process, so
it can be shipped to `multiprocessing` workers, a `ProcessPoolExecutor`, Dask,
Spark or Ray tasks, or `datasets.map(num_proc=N)`. Building a pipeline maps
the dictionary files, which is constant-time, and every process on a machine
shares the mapped pages through the page cache.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Dict, Iterable, List, Optional, Tuple, Union

from ._pipeline_cache import PipelineCache
from .user_dict import UserDictSource, resolve

if TYPE_CHECKING:
    from _merrow import PyPipeline

    from .alignment import Alignment

__all__ = ["Converter", "DetailedToken", "CandidateToken"]

PathLike = Union[str, "os.PathLike[str]"]
# (token, jyutping, lang, confidence, source)
DetailedToken = Tuple[str, str, str, str, str]
# (token, candidate readings most likely first, lang, confidence, source)
CandidateToken = Tuple[str, List[str], str, str, str]

# Pipelines built in this process, keyed by the configuration and the files
# of the data directory. Unpickled copies of one converter, and converters
# built alike, share one pipeline, so a worker that receives the converter
# with every task builds it once.
_pipelines: "PipelineCache[PyPipeline]" = PipelineCache()


def _default_data_dir() -> Optional[str]:
    # Looked up when a pipeline is built, not at import: the bundled data may
    # live at a different path on every machine of a cluster.
    import merrow

    return getattr(merrow, "DATA_DIR", None)


class Converter:
    """Cantonese text to Jyutping, safe to pickle and send to other processes.

    `data_dir` is a directory of dictionary files; None means the data bundled
    with the package. `user_dict` is a mapping of words to readings or the
    path of a user dictionary file, checked here as `merrow.load` checks it.
    Pickling sends this configuration only; the receiving process builds its
    own pipeline on first use.
    """

    __slots__ = ("_data_dir", "_punc_norm", "_user_dict", "_key", "_pipeline")

    def __init__(
        self,
        data_dir: Optional[PathLike] = None,
        *,
        punc_norm: bool = True,
        user_dict: Optional[UserDictSource] = None,
    ) -> None:
        # Checked here, on the driver, so that a bad argument fails at once
        # instead of inside every remote task.
        if data_dir is not None:
            data_dir = os.fspath(data_dir)
            if not isinstance(data_dir, str):
                raise TypeError(f"data_dir must be a str path, not {type(data_dir).__name__}")
        if not isinstance(punc_norm, bool):
            raise TypeError(f"punc_norm must be a bool, not {type(punc_norm).__name__}")
        # Sorted, so that equal dictionaries pickle to equal bytes.
        entries = dict(sorted((resolve(user_dict) or {}).items())) or None
        self._data_dir: Optional[str] = data_dir
        self._punc_norm = punc_norm
        self._user_dict = entries
        # Computed once here and pickled along, so that workers need not hash
        # a large user dictionary again. Deterministic, so pickles of equal
        # converters are equal (Dask and datasets fingerprint their tasks).
        self._key = _digest(data_dir, punc_norm, entries)
        self._pipeline: Optional[PyPipeline] = None

    # Configuration, read-only: it must keep matching the digest.

    @property
    def data_dir(self) -> Optional[str]:
        return self._data_dir

    @property
    def punc_norm(self) -> bool:
        return self._punc_norm

    @property
    def user_dict(self) -> Optional[Dict[str, str]]:
        return None if self._user_dict is None else dict(self._user_dict)

    # Pickling: the configuration and its digest, nothing else.

    def __getstate__(self) -> Tuple[Any, ...]:
        return (self._data_dir, self._punc_norm, self._user_dict, self._key)

    def __setstate__(self, state: Tuple[Any, ...]) -> None:
        self._data_dir, self._punc_norm, self._user_dict, self._key = state
        self._pipeline = None

    def __repr__(self) -> str:
        words = 0 if self._user_dict is None else len(self._user_dict)
        return (
            f"Converter(data_dir={self._data_dir!r}, punc_norm={self._punc_norm}, "
            f"user_dict=<{words} entries>)"
        )

    @property
    def pipeline(self) -> PyPipeline:
        """This process's `PyPipeline` for the configuration, built on first use.
        RuntimeError names the data directory and the file when loading fails."""
        pipeline = self._pipeline
        if pipeline is None:
            pipeline = self._pipeline = self._shared_pipeline()
        return pipeline

    def _shared_pipeline(self) -> PyPipeline:
        data_dir = self._data_dir if self._data_dir is not None else _default_data_dir()
        files = _listing(data_dir)
        if files is None:
            # Not shared: the engine applies its own default directory rule,
            # or reports the missing directory.
            return self._build(data_dir)
        # The files' inode numbers are part of the key: a dictionary file
        # replaced (written beside and renamed over) gets a new one, and a
        # new converter must then not get the old mappings.
        key = (self._key, data_dir, files)
        return _pipelines.get(key, lambda: self._build(data_dir))

    def _build(self, data_dir: Optional[str]) -> PyPipeline:
        if data_dir is None:
            # The engine's own default directory rule.
            from _merrow import PyPipeline

            return PyPipeline(punc_norm=self._punc_norm, data_dir=None, user_dict=self._user_dict)
        from ._loading import build_pipeline

        return build_pipeline(data_dir, self._punc_norm, self._user_dict)

    # One text.

    def convert(self, text: str) -> str:
        return self.pipeline.convert(text)

    def convert_detailed(self, text: str) -> List[DetailedToken]:
        return self.pipeline.convert_detailed(text)

    def convert_candidates(self, text: str) -> List[CandidateToken]:
        return self.pipeline.convert_candidates(text)

    # Many texts: any iterable of str (a Dask bag partition, a pandas Series,
    # a column of a datasets batch); always returns a list in input order.

    def convert_batch(self, texts: Iterable[str]) -> List[str]:
        return self.pipeline.convert_batch(_as_list(texts))

    def convert_detailed_batch(self, texts: Iterable[str]) -> List[List[DetailedToken]]:
        return self.pipeline.convert_detailed_batch(_as_list(texts))

    def convert_candidates_batch(self, texts: Iterable[str]) -> List[List[CandidateToken]]:
        return self.pipeline.convert_candidates_batch(_as_list(texts))

    # Readings aligned to the input (see merrow.alignment).

    def align(self, text: str) -> "List[Alignment]":
        from .alignment import converter_align

        return converter_align(self, text)

    def align_batch(self, texts: Iterable[str]) -> "List[List[Alignment]]":
        from .alignment import converter_align_batch

        return converter_align_batch(self, texts)


def _listing(data_dir: Optional[str]) -> Optional[Tuple[Tuple[str, int], ...]]:
    """(name, inode number) of every entry of `data_dir`, from one directory
    read; None when there is no directory to read."""
    if data_dir is None:
        return None
    try:
        with os.scandir(data_dir) as entries:
            return tuple(sorted((entry.name, entry.inode()) for entry in entries))
    except OSError:
        return None


def _digest(data_dir: Optional[str], punc_norm: bool, user_dict: Optional[Dict[str, str]]) -> str:
    import hashlib
    import json

    config = [data_dir, punc_norm, list(user_dict.items()) if user_dict else None]
    return hashlib.sha256(json.dumps(config, ensure_ascii=False).encode("utf-8", "surrogatepass")).hexdigest()


def _as_list(texts: Iterable[str]) -> List[str]:
    return texts if isinstance(texts, list) else list(texts)
