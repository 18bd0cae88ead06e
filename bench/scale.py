"""Lines per second for one corpus: one process, multiprocessing, and a
two-worker local Dask cluster.

Usage: python bench/scale.py [--lines N] [--data-dir DIR | --bundled]
                             [--worker-threads N] [--rounds N]

The dictionary is synthetic (150,000 words) unless --data-dir names one or
--bundled picks the package's own; the lines are always synthetic. Each scale-out
row runs two worker processes; --worker-threads sets RAYON_NUM_THREADS in the
workers (the batch method's thread pool, by default one thread per core).
The convert_files rows read, convert and write files through
merrow.corpus.convert_files; the "memory" rows convert a list already in
memory; the last row is the plain Dask bag pattern over the same file.
The machine may be shared: every row runs once per round, rounds one after
the other, and each row reports its fastest round.
"""

import argparse
import contextlib
import multiprocessing
import os
import random
import shutil
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor

sys.path.insert(0, os.path.dirname(__file__))
import synthetic  # noqa: E402

from merrow.converter import Converter  # noqa: E402
from merrow.corpus import convert_files  # noqa: E402

PARTITION_LINES = 20_000


def make_lines(words, count, seed=5):
    """Utterance-sized lines (4 to 60 characters) cut from a mixed text."""
    rng = random.Random(seed)
    text = synthetic.mixed_text(words, count * 33, seed=seed, digits=True)
    lines, at = [], 0
    while len(lines) < count:
        n = rng.randint(4, 60)
        lines.append(text[at : at + n].replace("\n", " "))
        at = (at + n) % (len(text) - 60)
    return lines


def set_worker_threads(threads):
    if threads:
        os.environ["RAYON_NUM_THREADS"] = str(threads)


def chunks(lines, size):
    return [lines[i : i + size] for i in range(0, len(lines), size)]


def read_output(out):
    """Lines written to `out`: convert_files' corpus.txt, or Dask's numbered files."""
    names = [os.path.join(out, "corpus.txt")]
    if not os.path.exists(names[0]):
        names = [os.path.join(out, n) for n in sorted(os.listdir(out), key=lambda n: int(n.split(".")[0]))]
    lines = []
    for name in names:
        with open(name, encoding="utf-8") as f:
            text = f.read()
        lines.extend(text[:-1].split("\n") if text.endswith("\n") else text.split("\n"))
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lines", type=int, default=200_000)
    parser.add_argument("--data-dir")
    parser.add_argument("--bundled", action="store_true")
    parser.add_argument("--worker-threads", type=int, default=0)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    if args.bundled:
        import merrow

        args.data_dir = merrow.DATA_DIR

    with contextlib.ExitStack() as stack:
        tmp = stack.enter_context(tempfile.TemporaryDirectory())
        data_dir = args.data_dir
        if data_dir is None:
            data_dir = os.path.join(tmp, "data")
            words = synthetic.write_data_dir(data_dir, 150_000)
        else:
            words = synthetic.make_words(20_000)
        converter = Converter(data_dir)
        lines = make_lines(words, args.lines)
        source = os.path.join(tmp, "corpus.txt")
        with open(source, "w", encoding="utf-8") as f:
            f.write("".join(line + "\n" for line in lines))
        print(f"corpus: {len(lines):,} lines, {sum(map(len, lines)):,} characters; "
              f"data: {'synthetic' if args.data_dir is None else data_dir}")
        print(f"cores: {os.cpu_count()}; worker RAYON_NUM_THREADS: {args.worker_threads or 'default'}")
        expected = converter.convert_batch(lines)

        # Row name -> (function of an output directory, note). "(memory)" rows
        # return the converted lines; the others write them into the directory.
        rows = {}
        init = (set_worker_threads, (args.worker_threads,))

        rows["one process, convert_batch (memory)"] = (
            lambda out: [x for c in chunks(lines, 2_000) for x in converter.convert_batch(c)], "")
        rows["one process, convert_files (files)"] = (
            lambda out: convert_files([source], out, converter, PARTITION_LINES), "")

        for method in ("fork", "spawn"):
            started = time.perf_counter()
            pool = stack.enter_context(multiprocessing.get_context(method).Pool(2, *init))
            pool.map(converter.convert_batch, [lines[:100]] * 2)  # start and warm the workers
            start_up = time.perf_counter() - started
            rows[f"multiprocessing {method} Pool(2), convert_batch (memory)"] = (
                lambda out, pool=pool: [x for c in pool.map(converter.convert_batch, chunks(lines, 2_000)) for x in c],
                f"start-up {start_up:.1f} s")

        executor = stack.enter_context(ProcessPoolExecutor(2, multiprocessing.get_context("fork"), *init))
        rows["ProcessPoolExecutor(2) fork, convert_files (files)"] = (
            lambda out: convert_files([source], out, converter, PARTITION_LINES, client=executor), "")

        try:
            import dask.bag
            import distributed
        except ImportError:
            print("dask[distributed] not installed: cluster rows skipped")
        else:
            env = {"RAYON_NUM_THREADS": str(args.worker_threads)} if args.worker_threads else {}
            started = time.perf_counter()
            cluster = stack.enter_context(distributed.LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, env=env))
            client = stack.enter_context(distributed.Client(cluster))
            client.run(lambda: converter.convert_batch(lines[:100]))  # import and warm
            start_up = time.perf_counter() - started
            rows["Dask LocalCluster(2), convert_files (files)"] = (
                lambda out: convert_files([source], out, converter, PARTITION_LINES, client=client),
                f"start-up {start_up:.1f} s")
            blocksize = max(1, os.path.getsize(source) * PARTITION_LINES // len(lines))
            bag = dask.bag.read_text(source, blocksize=blocksize).map(lambda line: line.rstrip("\n"))
            rows["Dask LocalCluster(2), read_text/map_partitions/to_textfiles"] = (
                lambda out: bag.map_partitions(converter.convert_batch).to_textfiles(os.path.join(out, "*.txt")), "")

        times = {name: [] for name in rows}
        for _ in range(args.rounds):
            for i, (name, (run, _note)) in enumerate(rows.items()):
                out = os.path.join(tmp, f"out{i}")
                shutil.rmtree(out, ignore_errors=True)
                started = time.perf_counter()
                result = run(out)
                times[name].append(time.perf_counter() - started)
                assert (result if "(memory)" in name else read_output(out)) == expected, name

        width = max(map(len, rows))
        print(f"{'fastest of ' + str(args.rounds) + ' rounds':{width}}  {'lines/s':>10}  {'seconds':>8}")
        for name, (_run, note) in rows.items():
            seconds = min(times[name])
            print(f"{name:{width}}  {len(lines) / seconds:>10,.0f}  {seconds:>8.2f}  {note}")


if __name__ == "__main__":
    main()
