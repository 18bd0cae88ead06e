"""Inputs of bench/trie_index_bench.cpp, and the index figures: the bundled
tables rebuilt with their trie index (build time and trailer size of each),
the bundled word keys as text, and the HKCanCor development half's
utterances (with PyCantonese installed: pip install '.[bench]').

    python bench/trie_index_inputs.py OUT_DIR

writes OUT_DIR/data/*.bin (indexed), OUT_DIR/keys.txt (the word keys in a
shuffled order, 50 to a line) and OUT_DIR/hkcancor.txt (one utterance a
line).
"""

import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))

import merrow  # noqa: E402
from merrow import cjyp, cjyp_index  # noqa: E402


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "data"), exist_ok=True)
    print(f"{'table':<32} {'entries':>8} {'table bytes':>12} {'index bytes':>12} {'build s':>8}")
    for name in cjyp.TABLE_NAMES:
        with open(os.path.join(merrow.DATA_DIR, name + ".bin"), "rb") as f:
            data = f.read()
        start = time.perf_counter()
        indexed = cjyp_index.with_index(data)
        seconds = time.perf_counter() - start
        count, pool_size = int.from_bytes(data[8:12], "little"), int.from_bytes(data[12:16], "little")
        # The bundled files already carry an index: the table ends with its pool.
        table = cjyp.HEADER.size + cjyp.ENTRY.size * count + pool_size
        print(f"{name:<32} {count:>8} {table:>12} {len(indexed) - table:>12} {seconds:>8.2f}")
        with open(os.path.join(out, "data", name + ".bin"), "wb") as f:
            f.write(indexed)

    keys = list(cjyp.read(os.path.join(merrow.DATA_DIR, "word.bin")))
    random.Random(19).shuffle(keys)
    with open(os.path.join(out, "keys.txt"), "w", encoding="utf-8") as f:
        f.writelines("".join(keys[i : i + 50]) + "\n" for i in range(0, len(keys), 50))

    try:
        import hkcancor_gold
        from pycantonese import CHAT
    except ImportError:
        print("pycantonese is not installed: no hkcancor.txt")
        return
    with open(os.path.join(out, "hkcancor.txt"), "w", encoding="utf-8") as f:
        for path in hkcancor_gold.dev_files():
            for tokens in CHAT.from_files([path], parallel=False).tokens(by_utterance=True):
                text = "".join(t.word for t in tokens if t.word)
                if text:
                    f.write(text.replace("\n", " ") + "\n")


if __name__ == "__main__":
    main()
