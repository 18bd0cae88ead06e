"""Stress and edge inputs, too heavy for CI: prints one line of figures per case.

Usage: python bench/stress.py [case ...]     (no case: all of them)

Each case runs in a child interpreter of its own, so that its peak resident
memory (ru_maxrss) is its own. Figures: wall time of the conversion, the
resident memory before it (text already built), the peak, and the peak's
growth relative to the input's UTF-8 size. Every case also checks its
output, so a wrong answer fails the run.
"""

import os
import random
import resource
import subprocess
import sys
import tempfile
import threading
import time

MB = 1 << 20
PARAGRAPH = "我哋今日去銀行攞錢，然後買咗3.5kg米同埋$100嘅生果。Hello world! 香港人講廣東話，1997年回歸。\n"


def peak_rss():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def current_rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def bundled():
    import merrow

    return merrow.load()


def text_of(megabytes):
    unit = len(PARAGRAPH.encode())
    return PARAGRAPH * (megabytes * 1_000_000 // unit + 1)


def report(name, size, seconds, before, extra=""):
    peak = peak_rss()
    print(
        f"{name:24s} input {size / MB:8.1f} MiB  {seconds:7.2f} s  rss before {before / MB:7.1f} MiB  "
        f"peak {peak / MB:7.1f} MiB  peak-before = {(peak - before) / max(size, 1):5.2f} x input  {extra}",
        flush=True,
    )


def timed(fn, *args):
    t = time.perf_counter()
    result = fn(*args)
    return result, time.perf_counter() - t


# ------------------------------------------------------------------ cases


def case_convert_100mb():
    p = bundled()
    text = text_of(100)
    size, before = len(PARAGRAPH.encode()) * (len(text) // len(PARAGRAPH)), current_rss()
    out, seconds = timed(p.convert, text)
    assert out.startswith(p.convert(PARAGRAPH)) and "$" not in out and "kg" not in out
    report("convert 100MB", size, seconds, before, f"output {len(out) / MB:.0f} MiB")


def case_batch_100mb_one():
    p = bundled()
    texts = [text_of(100)]
    size, before = len(PARAGRAPH.encode()) * (len(texts[0]) // len(PARAGRAPH)), current_rss()
    out, seconds = timed(p.convert_batch, texts)
    assert len(out) == 1 and out[0].startswith(p.convert(PARAGRAPH))
    report("convert_batch 100MB x1", size, seconds, before)


def case_batch_100mb_lines():
    p = bundled()
    texts = text_of(100).splitlines()
    size, before = len(PARAGRAPH.encode()) * len(texts), current_rss()
    out, seconds = timed(p.convert_batch, texts)
    want = p.convert(PARAGRAPH)
    assert len(out) == len(texts) and out[0] == want and out[-1] == want
    report("convert_batch 100MB lines", size, seconds, before, f"{len(texts)} texts")


def three_flavours(name, text, check):
    p = bundled()
    size, before = len(text.encode("utf-8", "surrogatepass")), current_rss()
    plain, s1 = timed(p.convert, text)
    detailed, s2 = timed(p.convert_detailed, text)
    candidates, s3 = timed(p.convert_candidates, text)
    check(plain, detailed, candidates)
    report(name, size, s1 + s2 + s3, before, f"convert {s1:.2f} s, detailed {s2:.2f} s, candidates {s3:.2f} s")


def case_million_digits():
    def check(plain, detailed, candidates):
        # Readings carry tone digits; the tokens themselves must have none left.
        assert len(detailed) == len(candidates) > 0
        assert not any(ch.isdigit() for record in detailed for ch in record[0])

    three_flavours("1M digits", "1" * 1_000_000, check)
    three_flavours("1M digits, grouped", "1" + ",234" * 250_000, check)
    three_flavours("1M full-width digits", "\uff11" * 1_000_000, check)


def case_million_combining_marks():
    def check(plain, detailed, candidates):
        # Every mark is a token of its own, after the Han character.
        assert len(detailed) == len(candidates) == 1_000_001
        assert detailed[1] == ("\u0301", "\u0301", "punct", "certain", "passthrough")

    three_flavours("1M combining marks", "中" + "\u0301" * 1_000_000, check)


def case_four_byte_characters():
    def han(plain, detailed, candidates):
        assert len(detailed) == len(candidates) and detailed[0][0].startswith("\U00020000")

    def emoji(plain, detailed, candidates):
        assert len(detailed) == 1_000_000 and plain == " ".join(["\U0001F600"] * 1_000_000)

    three_flavours("1M x U+20000 (Han)", "\U00020000" * 1_000_000, han)
    three_flavours("1M x U+1F600 (emoji)", "\U0001F600" * 1_000_000, emoji)


def write_big_dictionary(directory, chars=185):
    """word.bin of chars**3 three-character words (over 200 MB for 185),
    written in key order without holding the table in memory."""
    import struct

    han = [chr(0x4E00 + i) for i in range(chars)]  # same UTF-8 length: code point order is byte order
    count = chars**3
    entry = struct.Struct("<IHIH")
    path = os.path.join(directory, "word.bin")
    with open(path + ".pool", "wb") as pool_file, open(path, "wb") as out:
        out.write(struct.pack("<4sIII", b"CJYP", 1, count, 0))  # pool size patched below
        offset = 0
        for a in han:
            rows, pool = [], []
            for b in han:
                for c in han:
                    key = (a + b + c).encode()
                    value = f"w{ord(a):x} {ord(b):x} {ord(c):x}".encode()
                    rows.append(entry.pack(offset, len(key), offset + len(key), len(value)))
                    pool.append(key + value)
                    offset += len(key) + len(value)
            out.write(b"".join(rows))
            pool_file.write(b"".join(pool))
        out.seek(12)
        out.write(struct.pack("<I", offset))
        out.seek(0, os.SEEK_END)
    with open(path + ".pool", "rb") as pool_file, open(path, "ab") as out:
        while chunk := pool_file.read(4 * MB):
            out.write(chunk)
    os.unlink(path + ".pool")
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
    from merrow import cjyp

    cjyp.write(os.path.join(directory, "char.bin"), {h: f"c{ord(h):x}" for h in han})
    return han, os.path.getsize(path)


def case_big_dictionary():
    import _merrow

    with tempfile.TemporaryDirectory() as directory:
        t = time.perf_counter()
        han, size = write_big_dictionary(directory)
        written = time.perf_counter() - t
        before = current_rss()
        p, opened = timed(_merrow.PyPipeline.from_dir, directory)
        after_open = current_rss()
        rng = random.Random(7)
        words = ["".join(rng.choice(han) for _ in range(3)) for _ in range(100_000)]
        text = "".join(words)
        out, seconds = timed(p.convert, text)
        assert out.startswith("w%x %x %x " % tuple(map(ord, words[0])))
        after_convert = current_rss()
        batch, batch_seconds = timed(p.convert_batch, words)
        assert batch[-1] == "w%x %x %x" % tuple(ord(c) for c in words[-1])
        report(
            f"word.bin {size / MB:.0f} MiB",
            len(text.encode()),
            seconds,
            before,
            f"written in {written:.0f} s, opened in {opened * 1000:.2f} ms (+{(after_open - before) / MB:.1f} MiB), "
            f"{len(words)} words: convert {seconds:.2f} s (rss +{(after_convert - before) / MB:.1f} MiB), "
            f"batch {batch_seconds:.2f} s",
        )


def case_threads_build_and_batch():
    import _merrow
    import merrow

    data = merrow.DATA_DIR
    texts = [PARAGRAPH * (i % 7 + 1) for i in range(2000)]
    want = [_merrow.PyPipeline.from_dir(data).convert(t) for t in texts]
    stop = time.monotonic() + 20
    counts = {"built": 0, "batches": 0}
    errors = []

    def builder(seed):
        rng = random.Random(seed)
        while time.monotonic() < stop:
            p = _merrow.PyPipeline(punc_norm=True, data_dir=data, user_dict={"銀行": str(rng.random())})
            p.convert("銀行")
            del p
            counts["built"] += 1

    def batcher():
        p = _merrow.PyPipeline.from_dir(data)
        while time.monotonic() < stop:
            if p.convert_batch(texts) != want:
                errors.append("batch result differs")
            counts["batches"] += 1

    before = current_rss()
    threads = [threading.Thread(target=builder, args=(i,)) for i in range(4)]
    threads += [threading.Thread(target=batcher) for _ in range(2)]
    t = time.perf_counter()
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    seconds = time.perf_counter() - t
    with open("/proc/self/maps") as f:
        left = sum(1 for line in f if data in line)
    assert not errors and left == 0, (errors, left)
    report(
        "threads: build + batch",
        sum(len(x.encode()) for x in texts),
        seconds,
        before,
        f"{counts['built']} pipelines built and dropped, {counts['batches']} batches of {len(texts)}, "
        f"{left} mappings left",
    )


CASES = {
    "convert-100mb": case_convert_100mb,
    "batch-100mb-one": case_batch_100mb_one,
    "batch-100mb-lines": case_batch_100mb_lines,
    "digits": case_million_digits,
    "combining": case_million_combining_marks,
    "four-byte": case_four_byte_characters,
    "big-dictionary": case_big_dictionary,
    "threads": case_threads_build_and_batch,
}


def main(argv):
    if len(argv) == 3 and argv[1] == "--case":
        CASES[argv[2]]()
        return 0
    failed = 0
    for name in argv[1:] or CASES:
        done = subprocess.run([sys.executable, __file__, "--case", name])
        if done.returncode != 0:
            print(f"{name}: FAILED (exit {done.returncode})", flush=True)
            failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
