"""Fingerprints that decide whether converted text may be reused: the
converter's configuration, the dictionary files and the engine it runs on.

Two runs get the same configuration key only when they would convert every
line alike; anything that can change a reading changes the key.
"""

from __future__ import annotations

import hashlib
import json
import os
from typing import Dict, Optional, Tuple

# Changed whenever the corpus code would write other bytes for the same
# input and configuration, so that parts of older versions are not reused.
FORMAT = "merrow-corpus/1"

_file_digests: Dict[Tuple[object, ...], str] = {}


def new_hash() -> "hashlib._Hash":
    return hashlib.blake2b(digest_size=16)


def digest_of(*fields: object) -> str:
    """A stable digest of JSON-serialisable fields."""
    return hashlib.blake2b(json.dumps(fields, sort_keys=True).encode("ascii"), digest_size=16).hexdigest()


def file_digest(path: str) -> Optional[str]:
    """Digest of a file's contents, None when it cannot be read. Cached for
    as long as the file's identity and times stay the same."""
    try:
        st = os.stat(path)
        key = (os.path.abspath(path), st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        digest = _file_digests.get(key)
        if digest is None:
            h = new_hash()
            with open(path, "rb") as f:
                for block in iter(lambda: f.read(1 << 20), b""):
                    h.update(block)
            digest = _file_digests[key] = h.hexdigest()
        return digest
    except OSError:
        return None


def _engine_digest() -> Optional[str]:
    from importlib.util import find_spec

    spec = find_spec("_merrow")
    return file_digest(spec.origin) if spec is not None and spec.origin else None


def configuration_key(converter: object, errors: str) -> str:
    """The key of everything besides the input bytes that decides the output
    of `converter` under the decoding error handler `errors`.

    A `merrow.Converter` (or subclass) is described by its punctuation switch,
    its user dictionary, the contents of its dictionary files and of the
    engine. Any other object cannot be described: it gets a key of its own on
    every call, so nothing converted earlier is ever reused for it.
    """
    from .cjyp import TABLE_NAMES
    from .converter import Converter

    kind = f"{type(converter).__module__}.{type(converter).__qualname__}"
    if isinstance(converter, Converter):
        data_dir = converter.data_dir
        if data_dir is None:
            import merrow

            data_dir = getattr(merrow, "DATA_DIR", None)
        if data_dir is not None:
            user_dict = converter.user_dict or {}
            return digest_of(
                FORMAT,
                kind,
                errors,
                converter.punc_norm,
                sorted(user_dict.items()),
                [file_digest(os.path.join(data_dir, name + ".bin")) for name in TABLE_NAMES],
                _engine_digest(),
            )
    return digest_of(FORMAT, kind, "unique", os.urandom(16).hex())
