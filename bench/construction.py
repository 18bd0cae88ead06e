"""Construction cost of PyPipeline on a word.bin of a million entries.

Prints the median construction time and the resident-memory growth after
construction; both should be independent of the dictionary's size.
"""

import gc
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import synthetic  # noqa: E402

import _merrow  # noqa: E402


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    entries = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
    with tempfile.TemporaryDirectory() as d:
        t0 = time.perf_counter()
        synthetic.write_data_dir(d, entries)
        size = os.path.getsize(os.path.join(d, "word.bin"))
        print(f"word.bin: {entries:,} entries, {size / 2**20:.1f} MiB (written in {time.perf_counter() - t0:.1f} s)")

        times = []
        for _ in range(200):
            t = time.perf_counter()
            p = _merrow.PyPipeline.from_dir(d)
            times.append(time.perf_counter() - t)
            del p
        print(f"construction: median {statistics.median(times) * 1e6:.1f} us, "
              f"min {min(times) * 1e6:.1f} us over {len(times)} runs")

        gc.collect()
        before = rss_kib()
        keep = [_merrow.PyPipeline.from_dir(d) for _ in range(10)]
        after = rss_kib()
        print(f"resident memory growth: {(after - before) / 10:.1f} KiB per pipeline (10 kept alive)")
        del keep


if __name__ == "__main__":
    main()
