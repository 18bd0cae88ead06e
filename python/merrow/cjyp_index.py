"""Builder of the trie index that a CJYP file may carry after its string pool.

The engine ignores bytes after the pool, so the index rides in the same file
and is replaced together with its table by the same atomic write. It is a
double-array trie over dense character ids whose terminal states hold the
table's entry index, so a lookup walks the characters once instead of
bisecting the entry table for every prefix.

Layout, all integers little-endian, offsets counted from the trailer's first
byte (which is the first byte after the pool):

    0   4s  magic "CJYX"
    4   u32 version (2)
    8   u32 entry_count of the table it was built for
    12  u32 pool_size of the table it was built for
    16  u32 id_bytes: width of a character id, 2 or 4
    20  u32 block_index_offset: u16 block numbers, one per 256 code points
    24  u32 block_index_count: up to the last block holding a key's character
    28  u32 blocks_offset: block_count blocks of 256 ids (id 0: in no key)
    32  u32 block_count
    36  u32 units_offset: unit_count units of 12 bytes
    40  u32 unit_count
    44  u32 check_bytes_offset: unit_count bytes
    48  u32 check_bytes_count: unit_count again

A unit is {base i32, check u32, entry u32}. State 0 is the root. The
transition from state s on character id c leads to t = base[s] + c when
0 <= t < unit_count and check[t] == s. entry[t] is the index of the table
entry whose key ends at t, or 0xFFFFFFFF. The root's check and that of every
unused unit is 0xFFFFFFFF, which no state number reaches. Check byte u is
the low byte of check[u]: a reader compares it first, so that a transition
that does not exist is mostly told from a small array that stays in cache,
without reading the unit. Version 1 trailers are the same without the last
two header fields and the check bytes; the engine still reads them.
"""

from __future__ import annotations

import re
import struct
import sys
from array import array
from typing import Dict, List, Sequence, Tuple

from . import cjyp

MAGIC = b"CJYX"
VERSION = 2
HEADER = struct.Struct("<4s12I")
BLOCK_BITS = 8
BLOCK_SIZE = 1 << BLOCK_BITS
NONE = 0xFFFFFFFF


def _character_ids(keys: Sequence[str]) -> Dict[str, int]:
    """Ids from 1, the character that labels the most trie edges first.

    Frequent characters get small ids, which keeps the nodes with many
    children (the root above all) packed at the front of the array."""
    counts: Dict[str, int] = {}
    previous = ""
    for key in keys:
        shared = 0
        limit = min(len(key), len(previous))
        while shared < limit and key[shared] == previous[shared]:
            shared += 1
        for ch in key[shared:]:
            counts[ch] = counts.get(ch, 0) + 1
        previous = key
    ranked = sorted(counts, key=lambda ch: (-counts[ch], ord(ch)))
    return {ch: i + 1 for i, ch in enumerate(ranked)}


class _DoubleArray:
    """The units while they are placed: parallel lists grown on demand,
    always with room for the widest node after the last unit in use, so that
    a free place for any node exists inside the arrays."""

    def __init__(self, max_label: int) -> None:
        self.max_label = max_label
        self.used = bytearray(1)
        self.used[0] = 1  # the root
        self.base: List[int] = [0]
        self.check: List[int] = [NONE]
        self.entry: List[int] = [NONE]
        self.first_free = 1
        self._grow(2 + max_label)

    def _grow(self, size: int) -> None:
        if size > len(self.used):
            extra = max(size - len(self.used), len(self.used) // 2)
            self.used.extend(bytes(extra))
            self.base.extend([0] * extra)
            self.check.extend([NONE] * extra)
            self.entry.extend([NONE] * extra)

    def _free_place(self, labels: List[int]) -> int:
        """The first free unit (from first_free on) at which the labels'
        pattern of units is all free, found by the regex engine: a node
        with many children would otherwise test every hole one by one."""
        if len(labels) == 1:
            return self.first_free
        parts = [b"(?s)\x00"]
        for previous, label in zip(labels, labels[1:]):
            gap = label - previous - 1
            parts.append(b".{%d}\x00" % gap if gap else b"\x00")
        found = re.compile(b"".join(parts)).search(self.used, self.first_free)
        assert found is not None  # the free tail holds any node
        return found.start()

    def place(self, parent: int, labels: List[int]) -> int:
        """Claims a free unit for each label (sorted ascending) as children
        of `parent` and returns the base that leads to them."""
        base = self._free_place(labels) - labels[0]
        used, check = self.used, self.check
        for label in labels:
            used[base + label] = 1
            check[base + label] = parent
        self.base[parent] = base
        if used[self.first_free]:
            free = used.find(0, self.first_free)
            self.first_free = free if free >= 0 else len(used)
        self._grow(base + labels[-1] + 2 + self.max_label)
        return base

    def size(self) -> int:
        """Units up to the last one in use."""
        return len(self.used.rstrip(b"\x00"))


def _build_units(sequences: Sequence[Tuple[int, ...]]) -> _DoubleArray:
    """The double array of the trie of `sequences` (sorted, unique), breadth
    first so that the shallow states, which every walk visits, lie together."""
    array_ = _DoubleArray(max((max(seq) for seq in sequences if seq), default=0))
    queue: List[Tuple[int, int, int, int]] = [(0, 0, len(sequences), 0)]
    head = 0
    while head < len(queue):
        state, lo, hi, depth = queue[head]
        head += 1
        if lo < hi and len(sequences[lo]) == depth:
            array_.entry[state] = lo  # sorted, so a key ending here comes first
            lo += 1
        if lo == hi:
            continue
        groups: List[Tuple[int, int, int]] = []
        start = lo
        label = sequences[lo][depth]
        for i in range(lo + 1, hi):
            next_label = sequences[i][depth]
            if next_label != label:
                groups.append((label, start, i))
                start, label = i, next_label
        groups.append((label, start, hi))
        groups.sort()
        base = array_.place(state, [g[0] for g in groups])
        for label, g_lo, g_hi in groups:
            queue.append((base + label, g_lo, g_hi, depth + 1))
    return array_


def _u32_bytes(values: array) -> bytes:
    if sys.byteorder != "little":
        values.byteswap()
    return values.tobytes()


def build_trailer(keys: Sequence[bytes], pool_size: int, start: int) -> bytes:
    """The index of a table whose entry i has the key keys[i] (sorted bytewise,
    unique), for a pool of `pool_size` bytes; `start` is the file offset at
    which the trailer will lie, so that its arrays can be 4-byte aligned.

    Deterministic: the same keys always give the same bytes. Raises
    ValueError when a key is not UTF-8 or the keys are not sorted and unique.
    """
    texts: List[str] = []
    for i, key in enumerate(keys):
        if i > 0 and not keys[i - 1] < key:
            raise ValueError(f"keys are not sorted and unique at entry {i}")
        try:
            texts.append(key.decode("utf-8"))
        except UnicodeDecodeError:
            raise ValueError(f"key of entry {i} is not UTF-8: {key[:40]!r}") from None
    if len(keys) >= NONE:
        raise ValueError("too many entries for an index")

    ids = _character_ids(texts)
    sequences = [tuple(ids[ch] for ch in text) for text in texts]
    units = _build_units(sequences)
    unit_count = units.size()

    id_bytes = 2 if len(ids) <= 0xFFFF else 4
    block_numbers: Dict[int, int] = {}
    for cp in sorted(ord(ch) for ch in ids):
        block_numbers.setdefault(cp >> BLOCK_BITS, len(block_numbers) + 1)
    block_index = array("H", [0]) * (max(block_numbers, default=-1) + 1)
    for block, number in block_numbers.items():
        block_index[block] = number
    blocks = array("H" if id_bytes == 2 else "I", [0]) * (BLOCK_SIZE * (len(block_numbers) + 1))
    for ch, char_id in ids.items():
        cp = ord(ch)
        blocks[block_numbers[cp >> BLOCK_BITS] * BLOCK_SIZE + (cp & (BLOCK_SIZE - 1))] = char_id

    packed = array("I", [0]) * (3 * unit_count)
    packed[0::3] = array("I", (b & 0xFFFFFFFF for b in units.base[:unit_count]))
    packed[1::3] = array("I", units.check[:unit_count])
    packed[2::3] = array("I", units.entry[:unit_count])

    padding = (-(start + HEADER.size)) % 4
    block_index_offset = HEADER.size + padding
    blocks_offset = block_index_offset + 2 * len(block_index) + 2 * (len(block_index) % 2)
    units_offset = blocks_offset + id_bytes * len(blocks)
    check_bytes_offset = units_offset + 12 * unit_count
    check_bytes = bytes(check & 0xFF for check in units.check[:unit_count])
    header = HEADER.pack(
        MAGIC, VERSION, len(keys), pool_size, id_bytes, block_index_offset, len(block_index),
        blocks_offset, len(block_numbers) + 1, units_offset, unit_count, check_bytes_offset, unit_count,
    )
    pieces = [header, bytes(padding), _u32_bytes(block_index), bytes(2 * (len(block_index) % 2))]
    return b"".join(pieces + [_u32_bytes(blocks), _u32_bytes(packed), check_bytes])


def with_index(table: bytes) -> bytes:
    """The CJYP file `table` with its index: the table's bytes up to the end of
    its pool, unchanged, then the trailer (anything after the pool is
    dropped). Raises ValueError for a file that is not a well-formed CJYP
    table or whose keys cannot be indexed."""
    if len(table) < cjyp.HEADER.size:
        raise ValueError("not a CJYP file: too short")
    magic, version, count, pool_size = cjyp.HEADER.unpack_from(table, 0)
    if magic != cjyp.MAGIC or version != cjyp.VERSION:
        raise ValueError("not a CJYP v1 file")
    pool_start = cjyp.HEADER.size + cjyp.ENTRY.size * count
    end = pool_start + pool_size
    if len(table) < end:
        raise ValueError("not a CJYP file: shorter than its header says")
    keys = []
    for i in range(count):
        offset, length, _, _ = cjyp.ENTRY.unpack_from(table, cjyp.HEADER.size + cjyp.ENTRY.size * i)
        if offset + length > pool_size:
            raise ValueError(f"key of entry {i} lies outside the pool")
        keys.append(bytes(table[pool_start + offset : pool_start + offset + length]))
    return bytes(table[:end]) + build_trailer(keys, pool_size, end)
