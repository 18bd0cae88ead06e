"""Writer and reader for CJYP dictionary files.

A CJYP file maps UTF-8 keys to UTF-8 values: a 16-byte header ("CJYP",
version 1, entry count, pool size, all little-endian u32), a table of 12-byte
entries (key offset u32, key length u16, value offset u32, value length u16)
sorted bytewise by key, then the string pool.
"""

from __future__ import annotations

import os
import struct
from typing import Iterable, Mapping, Union

from ._atomic import write_atomically
from .contracts import TABLE_NAMES, is_han  # noqa: F401  (re-exported)

MAGIC = b"CJYP"
VERSION = 1
HEADER = struct.Struct("<4sIII")
ENTRY = struct.Struct("<IHIH")
MAX_FIELD_BYTES = 0xFFFF

Text = Union[str, bytes]


def _as_bytes(value: Text) -> bytes:
    return value.encode("utf-8") if isinstance(value, str) else bytes(value)


def encode(entries: Union[Mapping[Text, Text], Iterable[tuple]], index: bool = False) -> bytes:
    """Returns the bytes of a CJYP file holding `entries` (key -> value).

    Keys are sorted bytewise; a repeated key keeps its last value. Equal
    values share their bytes in the pool. With `index`, the trie index of
    `merrow.cjyp_index` follows the pool (every key must then be UTF-8).
    """
    items = entries.items() if isinstance(entries, Mapping) else entries
    table: dict[bytes, bytes] = {}
    for key, value in items:
        k, v = _as_bytes(key), _as_bytes(value)
        if len(k) > MAX_FIELD_BYTES or len(v) > MAX_FIELD_BYTES:
            raise ValueError(f"key or value longer than {MAX_FIELD_BYTES} bytes: {k[:40]!r}")
        table[k] = v

    pool = bytearray()
    offsets: dict[bytes, int] = {}

    def place(data: bytes) -> int:
        offset = offsets.get(data)
        if offset is None:
            offset = len(pool)
            pool.extend(data)
            offsets[data] = offset
        return offset

    rows = []
    for key in sorted(table):
        value = table[key]
        rows.append(ENTRY.pack(place(key), len(key), place(value), len(value)))
    if len(pool) > 0xFFFFFFFF:
        raise ValueError("string pool exceeds 4 GiB")
    data = HEADER.pack(MAGIC, VERSION, len(rows), len(pool)) + b"".join(rows) + bytes(pool)
    if index:
        from .cjyp_index import build_trailer

        data += build_trailer(sorted(table), len(pool), len(data))
    return data


def write(path: Union[str, os.PathLike], entries, index: bool = False) -> None:
    """Writes a CJYP file atomically: a temporary file beside `path`, then a
    rename, so a reader that has the old file mapped never sees it change.
    With `index`, the table's trie index is written in the same file."""
    write_atomically(path, [encode(entries, index=index)])


def read(path: Union[str, os.PathLike]) -> dict[str, str]:
    """Reads a well-formed CJYP file back into a dict (for tools and tests)."""
    with open(path, "rb") as f:
        data = f.read()
    magic, version, count, pool_size = HEADER.unpack_from(data, 0)
    if magic != MAGIC or version != VERSION:
        raise ValueError(f"not a CJYP v1 file: {path}")
    pool_start = HEADER.size + ENTRY.size * count
    pool = data[pool_start : pool_start + pool_size]
    out = {}
    for i in range(count):
        ko, kl, vo, vl = ENTRY.unpack_from(data, HEADER.size + ENTRY.size * i)
        out[pool[ko : ko + kl].decode("utf-8")] = pool[vo : vo + vl].decode("utf-8")
    return out
