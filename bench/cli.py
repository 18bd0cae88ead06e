"""The command line against the batch method, and its memory on one long line.

    python bench/cli.py                 # ~50 MB of generated lines, 20 MB line
    python bench/cli.py --mb 10 --line-mb 5 --runs 1

Throughput: `merrow -i FILE -o OUT` in a subprocess (start-up, reading,
decoding and writing included) against one `convert_batch` call on the
file's lines already in memory, and against a script that reads the file,
makes that call and writes the result; best of --runs each. Memory: peak resident
size of `merrow -f FORMAT` on one line of --line-mb MB without a line end,
for each output format.
"""

from __future__ import annotations

import argparse
import os
import random
import resource
import subprocess
import sys
import tempfile
import time

SENTENCES = [
    "我哋聽日去銀行攞錢，買咗部iPhone，用咗$8000，重買咗3.5kg米",
    "佢話今日好天氣，不如一齊去行山。",
    "呢間餐廳嘅叉燒飯幾好食，一碟先至$45。",
    "香港天文台話今晚有雷暴，大家出入要小心！",
    "你識唔識講廣東話？我學咗三年都仲係唔係好流利。",
    "2024年嘅MTR車費又加咗3%。",
    "「唔該」同「多謝」有咩分別？",
]


def make_corpus(path: str, megabytes: float, seed: int = 0) -> int:
    rng = random.Random(seed)
    target = int(megabytes * 1024 * 1024)
    size = lines = 0
    with open(path, "w", encoding="utf-8") as f:
        while size < target:
            line = "".join(rng.choice(SENTENCES) for _ in range(rng.randint(1, 3)))
            data = line + "\n"
            f.write(data)
            size += len(data.encode("utf-8"))
            lines += 1
    return lines


def make_long_line(path: str, megabytes: float) -> None:
    unit = "".join(SENTENCES)
    count = int(megabytes * 1024 * 1024 / len(unit.encode("utf-8"))) + 1
    with open(path, "w", encoding="utf-8") as f:
        f.write(unit * count)  # no line end


def cpu_seconds() -> float:
    """CPU time of this process and its finished children so far."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def best_of(runs: int, action) -> tuple:
    """(best wall-clock seconds, CPU seconds of that run): on a shared
    machine the CPU time varies less than the wall-clock time."""
    best = (float("inf"), 0.0)
    for _ in range(runs):
        started, cpu = time.perf_counter(), cpu_seconds()
        action()
        best = min(best, (time.perf_counter() - started, cpu_seconds() - cpu))
    return best


def peak_rss_mb(command: list) -> float:
    """Peak resident size of `command`, measured in a fresh process so that
    no earlier child counts."""
    probe = (
        "import resource, subprocess, sys\n"
        "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)\n"
        "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n"
    )
    out = subprocess.run([sys.executable, "-c", probe, *command], capture_output=True, text=True, check=True)
    return int(out.stdout) / 1024


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=50.0, help="size of the generated file (default 50)")
    parser.add_argument("--line-mb", type=float, default=20.0, help="size of the long line (default 20)")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    import merrow

    merrow_cmd = [sys.executable, "-m", "merrow"]
    with tempfile.TemporaryDirectory(prefix="merrow-bench-") as work:
        corpus = os.path.join(work, "corpus.txt")
        count = make_corpus(corpus, args.mb)
        size_mb = os.path.getsize(corpus) / (1024 * 1024)
        with open(corpus, encoding="utf-8") as f:
            lines = f.read().split("\n")[:-1]
        converter = merrow.Converter()
        converter.convert_batch(lines[:1000])  # pool and pipeline ready
        batch = best_of(args.runs, lambda: converter.convert_batch(lines))  # noqa: F821 (deleted below)
        out = os.path.join(work, "out.txt")

        def script() -> None:
            with open(corpus, encoding="utf-8") as f:
                texts = f.read().split("\n")[:-1]
            with open(out, "w", encoding="utf-8") as f:
                f.write("\n".join(converter.convert_batch(texts)) + "\n")

        whole = best_of(args.runs, script)
        cli = best_of(args.runs, lambda: subprocess.run([*merrow_cmd, "-i", corpus, "-o", out], check=True))
        with open(out, encoding="utf-8") as f:
            assert f.read().split("\n")[:-1] == converter.convert_batch(lines), "CLI output differs"
        print(f"throughput on {size_mb:.1f} MB, {count:,} lines (best of {args.runs}):")
        for name, (wall, cpu) in [
            ("convert_batch (one call, lines in memory)", batch),
            ("read, convert_batch, write (in process)", whole),
            ("merrow -i FILE -o OUT (whole process)", cli),
        ]:
            print(f"  {name:<42} {wall:6.2f} s  {size_mb / wall:6.1f} MB/s  (CPU {cpu:5.2f} s)")
        print(
            f"  CLI / convert_batch call: {100 * batch[0] / cli[0]:.0f}%;  "
            f"CLI / read-convert-write: {100 * whole[0] / cli[0]:.0f}%  (wall-clock throughput)"
        )

        del lines
        long_line = os.path.join(work, "long.txt")
        make_long_line(long_line, args.line_mb)
        line_mb = os.path.getsize(long_line) / (1024 * 1024)
        print(f"peak memory on one line of {line_mb:.1f} MB without a line end:")
        plain = None
        for fmt in ("plain", "detailed", "candidates"):
            peak = peak_rss_mb([*merrow_cmd, "-f", fmt, "-i", long_line])
            plain = plain or peak
            print(f"  -f {fmt:<10} {peak:8.0f} MB  ({peak / plain:.1f}x plain)")


if __name__ == "__main__":
    main()
