"""Throughput of convert_batch against a loop of single convert calls.

Builds a synthetic word table of a few tens of thousands of Han words and
10,000 texts of 100-300 characters (Han with some Latin words, digits and
punctuation), then times both ways of converting them: in this process on the
default pool, and in a subprocess with RAYON_NUM_THREADS=1.

    python bench/batch_throughput.py [--words N] [--texts N] [--repeat N]
"""

import argparse
import json
import os
import random
import subprocess
import sys
import tempfile
import time

import _merrow
from merrow import cjyp

SYLLABLES = [
    onset + rime + tone
    for onset in ("", "b", "g", "gw", "h", "j", "m", "s", "z", "d", "l", "n")
    for rime in ("aa", "ai", "au", "am", "an", "ang", "ei", "eoi", "ing", "ung", "yu", "ou")
    for tone in "123456"
]


def build_data(directory, word_count, rng):
    chars = [chr(c) for c in range(0x4E00, 0x4E00 + 4000)]
    char_table = {c: rng.choice(SYLLABLES) for c in chars}
    words = {}
    while len(words) < word_count:
        word = "".join(rng.choice(chars) for _ in range(rng.choice((2, 2, 2, 3, 3, 4))))
        words[word] = " ".join(char_table[c] for c in word)
    cjyp.write(os.path.join(directory, "word.bin"), words)
    cjyp.write(os.path.join(directory, "char.bin"), char_table)
    return list(words), chars


def build_texts(words, chars, count, rng):
    latin = ["MTR", "Octopus", "app", "email", "OK", "WiFi", "iPhone"]
    marks = ["，", "。", "！", "？", "、", "「", "」", " ", ","]
    texts = []
    for _ in range(count):
        target = rng.randint(100, 300)
        pieces, length = [], 0
        while length < target:
            roll = rng.random()
            if roll < 0.70:
                piece = rng.choice(words)
            elif roll < 0.85:
                piece = rng.choice(chars)
            elif roll < 0.92:
                piece = rng.choice(marks)
            elif roll < 0.97:
                piece = rng.choice(latin)
            else:
                piece = str(rng.randint(1, 99999))
            pieces.append(piece)
            length += len(piece)
        texts.append("".join(pieces))
    return texts


def best_of(repeat, action):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def thread_cpu_ticks():
    """CPU ticks (user + system) of each thread of this process, by thread id."""
    ticks = {}
    for tid in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{tid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            ticks[tid] = int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return ticks


def measure(data_dir, texts_path, repeat):
    with open(texts_path, encoding="utf-8") as f:
        texts = json.load(f)
    pipeline = _merrow.PyPipeline.from_dir(data_dir)
    before = len(os.listdir("/proc/self/task"))
    pipeline.convert_batch(texts[:2])  # starts the pool
    pool_threads = len(os.listdir("/proc/self/task")) - before

    cpu_start = time.process_time()
    single = best_of(repeat, lambda: [pipeline.convert(t) for t in texts])
    cpu_single = time.process_time() - cpu_start

    ticks_before = thread_cpu_ticks()
    cpu_start = time.process_time()
    batch = best_of(repeat, lambda: pipeline.convert_batch(texts))
    cpu_batch = time.process_time() - cpu_start
    ticks_after = thread_cpu_ticks()
    main_tid = str(os.getpid())
    worker_ticks = sorted(
        (ticks_after[t] - ticks_before.get(t, 0) for t in ticks_after if t != main_tid), reverse=True
    )

    assert pipeline.convert_batch(texts) == [pipeline.convert(t) for t in texts]
    return {
        "pool_threads": pool_threads,
        "single_s": single,
        "batch_s": batch,
        "cpu_ratio": cpu_batch / cpu_single,
        "worker_ticks": worker_ticks,
    }


def report(label, figures, text_count):
    ratio = figures["single_s"] / figures["batch_s"]
    total = sum(figures["worker_ticks"]) or 1
    shares = " / ".join(f"{100 * t / total:.0f}%" for t in figures["worker_ticks"])
    print(
        f"{label}: pool of {figures['pool_threads']} threads\n"
        f"  single loop {figures['single_s'] * 1000:.1f} ms ({text_count / figures['single_s']:,.0f} texts/s), "
        f"batch {figures['batch_s'] * 1000:.1f} ms ({text_count / figures['batch_s']:,.0f} texts/s)\n"
        f"  throughput ratio batch/single {ratio:.2f}; CPU time batch/single {figures['cpu_ratio']:.2f}; "
        f"batch work per worker {shares}"
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--words", type=int, default=30000)
    parser.add_argument("--texts", type=int, default=10000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--measure", nargs=2, metavar=("DATA_DIR", "TEXTS_JSON"), help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.measure:
        print(json.dumps(measure(*args.measure, args.repeat)))
        return

    rng = random.Random(20240611)
    with tempfile.TemporaryDirectory() as tmp:
        words, chars = build_data(tmp, args.words, rng)
        texts = build_texts(words, chars, args.texts, rng)
        texts_path = os.path.join(tmp, "texts.json")
        with open(texts_path, "w", encoding="utf-8") as f:
            json.dump(texts, f, ensure_ascii=False)
        chars_total = sum(len(t) for t in texts)
        print(f"{len(words)} words, {len(texts)} texts, {chars_total:,} characters; best of {args.repeat}")
        # Other processes on the machine take CPU away from the pool's threads.
        print("load average %.2f %.2f %.2f on %d CPUs" % (*os.getloadavg(), os.cpu_count()))

        report("default pool", measure(tmp, texts_path, args.repeat), len(texts))

        env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
        env["RAYON_NUM_THREADS"] = "1"
        done = subprocess.run(
            [sys.executable, __file__, "--repeat", str(args.repeat), "--measure", tmp, texts_path],
            env=env,
            capture_output=True,
            text=True,
            check=True,
        )
        report("RAYON_NUM_THREADS=1", json.loads(done.stdout), len(texts))


if __name__ == "__main__":
    main()
