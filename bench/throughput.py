"""Single-thread throughput of convert and convert_detailed.

Usage: python bench/throughput.py [word_count] [text_chars]
Prints characters per second (median of several runs) on a long mixed text
(Han words with Latin words and punctuation) and on a number-heavy text,
against a synthetic dictionary of word_count words.
"""

import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import synthetic  # noqa: E402

import _merrow  # noqa: E402


def rate(fn, text, runs=7):
    fn(text[:1000])  # warm the mapped pages
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        fn(text)
        times.append(time.perf_counter() - t)
    return len(text) / statistics.median(times)


def main():
    word_count = int(sys.argv[1]) if len(sys.argv) > 1 else 150_000
    n_chars = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    with tempfile.TemporaryDirectory() as d:
        words = synthetic.write_data_dir(d, word_count)
        p = _merrow.PyPipeline.from_dir(d)
        texts = {
            "mixed": synthetic.mixed_text(words, n_chars),
            "number-heavy": synthetic.number_heavy_text(n_chars),
        }
        print(f"dictionary: {word_count:,} words; text: {n_chars:,} characters; single thread")
        for name, text in texts.items():
            for method in ("convert", "convert_detailed", "convert_candidates"):
                r = rate(getattr(p, method), text)
                print(f"{name:>13} {method:<19} {r / 1e6:6.2f} M chars/s")


if __name__ == "__main__":
    main()
