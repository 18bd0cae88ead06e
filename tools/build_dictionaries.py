#!/usr/bin/env python3
"""Builds the eight bundled dictionary files from the pinned lexical sources.

    python tools/build_dictionaries.py            # writes python/merrow/data/
    python tools/build_dictionaries.py --out DIR

The sources (see NOTICE) must be installed at their pinned versions:
    pip install pycantonese==5.0.0 tojyutping==3.2.0
    apt-get install unicode-data          # 15.0.0-1, for Unihan
The same sources always give byte-identical files.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from typing import Dict, Sequence

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "python"))

from dictionary_layers import (  # noqa: E402
    DEFAULT_LAYER_ORDER,
    TABLE_NAMES,
    Sources,
    build_entries,
    is_usable_key,
    tables_from_entries,
)
import dictionary_sources as sources  # noqa: E402
from merrow import cjyp  # noqa: E402

DEFAULT_OUT = os.path.join(ROOT, "python", "merrow", "data")
ORAL_HK = os.path.join(HERE, "data", "oral_hk.tsv")

# The order the development measurements chose (tools/dev_measure.py orders):
# oral_hk, ToJyutping, rime-cantonese, Unihan. Ranking ToJyutping's readings
# of words it has no entry for below rime-cantonese ("context-first") loses
# on both development sets (with tones: A modernised 96.22% -> 95.94%,
# B 97.35% -> 97.15%).
LAYER_ORDER = DEFAULT_LAYER_ORDER


def load_sources(oral_hk_path: str = ORAL_HK, log=print) -> Sources:
    started = time.time()
    rime, rime_origin = sources.read_rime()
    log(f"rime-cantonese: {len(rime)} keys ({rime_origin})")
    oral_hk = sources.read_oral_hk(oral_hk_path)
    log(f"oral_hk: {len(oral_hk)} keys ({oral_hk_path})")
    unihan = sources.read_unihan()
    log(f"unihan: {len(unihan)} characters with kCantonese")
    tj = sources.ToJyutpingSource()
    tj_chars = tj.char_readings()
    # ToJyutping's own word entries are words too: they are the contexts its
    # ranking depends on, and the segmenter must find them to use them.
    words = sorted(
        k for k in set(rime) | set(oral_hk) | set(tj.word_keys()) if len(k) > 1 and is_usable_key(k)
    )
    tj_words = tj.word_readings(words)
    log(f"tojyutping: {len(tj_chars)} characters, {len(tj_words)} of {len(words)} words read")
    log(f"sources loaded in {time.time() - started:.1f} s")
    return Sources(
        oral_hk=oral_hk,
        tojyutping_chars=tj_chars,
        tojyutping_words=tj_words,
        rime=rime,
        unihan=unihan,
    )


def word_keys(src: Sources):
    return [k for k in set(src.rime) | set(src.oral_hk) | set(src.tojyutping_words) if len(k) > 1]


def build_tables(src: Sources, layer_order: Sequence[str] = LAYER_ORDER, char_order=None) -> Dict[str, Dict[str, str]]:
    return tables_from_entries(build_entries(src, layer_order, word_keys(src), char_order))


def write_tables(tables: Dict[str, Dict[str, str]], out_dir: str, log=print) -> None:
    os.makedirs(out_dir, exist_ok=True)
    total = 0
    for name in TABLE_NAMES:
        path = os.path.join(out_dir, name + ".bin")
        # Every table carries its trie index: the engine then walks it
        # instead of bisecting the entries (opening stays one mapping).
        cjyp.write(path, tables[name], index=True)
        os.chmod(path, 0o644)  # package data is world-readable, whatever the builder's umask
        size = os.path.getsize(path)
        total += size
        log(f"  {name + '.bin':32} {len(tables[name]):>8} entries {size:>11,} bytes")
    log(f"  {'total':32} {'':>8}         {total:>11,} bytes")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=DEFAULT_OUT, help="output directory (default: %(default)s)")
    parser.add_argument("--oral-hk", default=ORAL_HK, help="curated oral_hk layer (default: %(default)s)")
    parser.add_argument(
        "--any-version", action="store_true",
        help="build even when a source is not at its pinned version (output will differ)",
    )
    args = parser.parse_args(argv)

    problems = sources.version_problems()
    if problems and not args.any_version:
        for p in problems:
            print(f"error: {p}", file=sys.stderr)
        print("install the pinned sources (see NOTICE) or pass --any-version", file=sys.stderr)
        return 2
    src = load_sources(args.oral_hk)
    tables = build_tables(src)
    print(f"writing {args.out} (layer order: {', '.join(LAYER_ORDER)})")
    write_tables(tables, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
