"""Writes the CJYP files with trie indexes that trie_index_differential_test
reads: random tables (seeded, so every run writes the same files), one table
with more characters than 2-byte ids hold, and the bundled tables, each
rebuilt with its index.

    python tests/cpp/make_trie_index_fixtures.py OUT_DIR

Imports merrow.cjyp from the source tree beside this file, so the builder
under test is the one in the working copy, built module or not.
"""

import os
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

from merrow import cjyp, cjyp_index  # noqa: E402

# Characters of 1 to 4 UTF-8 bytes, in several 256-code-point blocks, so that
# byte order and id order differ and prefixes collide often.
ALPHABET = ["a", "b", "Z", "é", "ß", "中", "國", "人", "一", "丁", "𠀀", "𪚥", "\U0010FFFF", "\uFFFD", "ー"]


def random_tables(rng):
    for n in range(60):
        keys = rng.randint(0, 300)
        longest = rng.randint(1, 12)
        alphabet = rng.sample(ALPHABET, rng.randint(1, len(ALPHABET)))
        table = {}
        for _ in range(keys):
            key = "".join(rng.choice(alphabet) for _ in range(rng.randint(1, longest)))
            table[key] = rng.choice(["v", "", "jat1|ji6"])
        if n % 7 == 0:
            table[""] = "empty key"
        yield f"random-{n:02d}.bin", table


def wide_table():
    """70,000 one-character keys: more characters than fit 2-byte ids."""
    chars = [chr(cp) for cp in range(0x4E00, 0xA000)] + [chr(cp) for cp in range(0x20000, 0x2E000)]
    table = {ch: "x" for ch in chars[:70000]}
    table.update({"中國": "y", "𠀀中": "z"})
    return table


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "bundled"), exist_ok=True)
    rng = random.Random(19)
    for name, table in random_tables(rng):
        with open(os.path.join(out, name), "wb") as f:
            f.write(cjyp.encode(table, index=True))
    with open(os.path.join(out, "wide.bin"), "wb") as f:
        f.write(cjyp.encode(wide_table(), index=True))
    bundled = os.path.join(HERE, "..", "..", "python", "merrow", "data")
    for name in cjyp.TABLE_NAMES:
        with open(os.path.join(bundled, name + ".bin"), "rb") as f:
            data = f.read()
        with open(os.path.join(out, "bundled", name + ".bin"), "wb") as f:
            f.write(cjyp_index.with_index(data))


if __name__ == "__main__":
    main()
