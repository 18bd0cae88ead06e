"""Whole-corpus conversion: text files in, converted files out.

Each input file (UTF-8, one utterance per line) is cut into partitions of at
most `partition_lines` lines. A partition is one task: it reads its byte range
of the input, converts the lines with the batch method and writes its own
part file through a temporary file and an atomic rename, so a part file that
exists is complete. When every part of an input is done, the parts are
joined, in order, into the output file of the same name (again through a
temporary file and a rename) and removed.

Reuse is by fingerprint only. A part file's name carries a digest of its
input bytes and of the configuration key (converter settings, dictionary and
engine contents, decoding error handler), so a rerun after a failure or an
interruption finds exactly the parts that still hold, and converts the rest
again; an input that was edited, or a converter that changed, matches none of
the old parts. A finished output is skipped only while the record of its
fingerprint in `<output_dir>/.merrow` matches (see `_jobdir`).

One run at a time uses an output directory: a second run waits for the
first, then finds the outputs it finished current. On a cluster, `output_dir`
and the inputs must be on a file system that every worker sees under the
same paths.
"""

from __future__ import annotations

import codecs
import os
from dataclasses import dataclass
from typing import Iterator, List, Sequence

from ._atomic import write_atomically
from ._fingerprint import configuration_key, digest_of, new_hash
from ._jobdir import WORK_DIR, JobDir
from .converter import Converter

__all__ = ["Partition", "plan_partitions", "convert_partition", "convert_files"]

DEFAULT_PARTITION_LINES = 50_000
# Lines handed to one batch call. Between calls the interpreter lock is free
# for a worker's other threads (a Dask worker's heartbeat, for one).
BATCH_LINES = 2_000


@dataclass(frozen=True)
class Partition:
    """Lines [first_line, first_line + line_count) of `source`, which occupy
    bytes [start, stop) of it with the digest `digest`; their conversion goes
    to `part_path`."""

    source: str
    first_line: int
    line_count: int
    start: int
    stop: int
    digest: str
    part_path: str


def plan_partitions(
    source: str,
    output_dir: str,
    partition_lines: int = DEFAULT_PARTITION_LINES,
    config_key: str = "",
) -> List[Partition]:
    """Cuts `source` into partitions of `partition_lines` lines (the last may
    be shorter), in file order. An empty file has no partitions.

    `config_key` (see `_fingerprint.configuration_key`) goes into the part
    file names with each partition's input digest, so that parts written
    under another configuration or for other bytes are never taken for these.
    """
    if partition_lines < 1:
        raise ValueError("partition_lines must be at least 1")
    source = os.fspath(source)
    parts_dir = JobDir(os.fspath(output_dir)).parts_dir(os.path.basename(source))
    partitions: List[Partition] = []

    def close(first: int, end: int, start: int, stop: int, digest: str) -> None:
        key = digest_of(config_key, digest)
        path = os.path.join(parts_dir, f"{first:012d}-{end:012d}.{key}.txt")
        partitions.append(Partition(source, first, end - first, start, stop, digest, path))

    first = start = count = position = 0
    h = new_hash()
    with open(source, "rb") as f:
        for line in f:
            h.update(line)
            count += 1
            position += len(line)
            if count - first == partition_lines:
                close(first, count, start, position, h.hexdigest())
                first, start, h = count, position, new_hash()
    if count > first:
        close(first, count, start, position, h.hexdigest())
    return partitions


def _read_lines(partition: Partition, errors: str) -> List[str]:
    with open(partition.source, "rb") as f:
        f.seek(partition.start)
        data = f.read(partition.stop - partition.start)
    h = new_hash()
    h.update(data)
    if h.hexdigest() != partition.digest:
        raise RuntimeError(f"{partition.source} changed since its partitions were planned")
    text = data.decode("utf-8", errors)
    if text.endswith("\n"):
        text = text[:-1]
    # Files with Windows line ends: the "\r" belongs to the line end.
    return [line[:-1] if line.endswith("\r") else line for line in text.split("\n")]


def _as_lines(results: List[str], count: int) -> str:
    """The results as `count` lines of text. A reading may hold a line break
    (dictionary values are used verbatim); it becomes a space, so that the
    output keeps one line per input line for every reader of text files."""
    if len(results) != count:
        raise RuntimeError(f"the converter returned {len(results)} results for {count} lines")
    text = "\n".join(results)
    if "\r" in text or text.count("\n") != count - 1:
        text = "\n".join(r.replace("\r\n", " ").replace("\r", " ").replace("\n", " ") for r in results)
    return text + "\n"


def convert_partition(partition: Partition, converter: Converter, errors: str = "strict") -> int:
    """Converts one partition into its part file, unless that file exists.

    Returns the number of lines converted (0 when the part was already done).
    Safe to run twice, also at the same time: the rename is atomic and both
    runs write the same bytes, since the part's name fixes its input bytes.
    """
    if os.path.exists(partition.part_path):
        return 0
    lines = _read_lines(partition, errors)

    def converted() -> Iterator[bytes]:
        for i in range(0, len(lines), BATCH_LINES):
            batch = lines[i : i + BATCH_LINES]
            yield _as_lines(converter.convert_batch(batch), len(batch)).encode("utf-8")

    os.makedirs(os.path.dirname(partition.part_path), exist_ok=True)
    write_atomically(partition.part_path, converted())
    return len(lines)


def _part_blocks(partitions: Sequence[Partition]) -> Iterator[bytes]:
    for partition in partitions:
        with open(partition.part_path, "rb") as f:
            while True:
                block = f.read(1 << 20)
                if not block:
                    break
                yield block


def _output_fingerprint(config_key: str, plan: Sequence[Partition]) -> str:
    return digest_of(config_key, [(p.line_count, p.digest) for p in plan])


def convert_files(
    inputs: Sequence[str],
    output_dir: str,
    converter: Converter,
    partition_lines: int = DEFAULT_PARTITION_LINES,
    client=None,
    retries: int = 2,
    errors: str = "strict",
) -> List[str]:
    """Converts each input file into `output_dir`/<its base name>, line for
    line, and returns the output paths in input order.

    `client` runs the partitions: None converts them here, one after the other
    (the batch method already uses every core of this machine); a Dask
    `distributed.Client` spreads them over its workers, retrying a failed
    partition up to `retries` times; any `concurrent.futures.Executor` works
    too (without retries). An output is written anew unless this directory
    holds the record that it was converted from the same input bytes with the
    same configuration; part files of an interrupted run are reused the same
    way. `errors` is the UTF-8 decoding error handler for the inputs.
    """
    output_dir = os.fspath(output_dir)
    inputs = [os.fspath(path) for path in inputs]
    names = [os.path.basename(path) for path in inputs]
    if len(set(names)) != len(names):
        raise ValueError("input files must have distinct base names")
    if WORK_DIR in names:
        raise ValueError(f"an input may not be named {WORK_DIR}: that is the working directory's name")
    outputs = [os.path.join(output_dir, name) for name in names]
    for source, output in zip(inputs, outputs):
        if os.path.abspath(source) == os.path.abspath(output):
            raise ValueError(f"output would overwrite its input: {source}")
    codecs.lookup_error(errors)  # an unknown handler fails here, not in every task
    os.makedirs(output_dir, exist_ok=True)
    config_key = configuration_key(converter, errors)

    job = JobDir(output_dir)
    with job.locked():
        job.remove_leftovers()
        pending = []
        for name, source, output in zip(names, inputs, outputs):
            plan = plan_partitions(source, output_dir, partition_lines, config_key)
            fingerprint = _output_fingerprint(config_key, plan)
            if job.is_current(name, output, fingerprint):
                job.discard_parts(name)
            else:
                job.keep_parts(name, [p.part_path for p in plan])
                pending.append((name, output, plan, fingerprint))

        todo = [p for _, _, plan, _ in pending for p in plan if not os.path.exists(p.part_path)]
        _run(todo, converter, client, retries, errors)

        for name, output, plan, fingerprint in pending:
            job.forget(name)
            write_atomically(output, _part_blocks(plan), tmp_dir=job.tmp)
            job.record(name, output, fingerprint)
            job.discard_parts(name)
    return outputs


def _run(partitions: List[Partition], converter: Converter, client, retries: int, errors: str) -> None:
    if not partitions:
        return
    if client is None:
        for partition in partitions:
            convert_partition(partition, converter, errors)
    elif hasattr(client, "gather"):
        # Dask. The tasks write files, so they are not pure: Dask must not
        # reuse a result it holds for equal arguments instead of running one.
        futures = client.map(
            convert_partition,
            partitions,
            converter=converter,
            errors=errors,
            retries=retries,
            pure=False,
        )
        try:
            client.gather(futures)
        except BaseException:
            # Tasks still running would go on writing parts after this run
            # has given the directory up.
            client.cancel(futures)
            raise
    else:
        futures = [client.submit(convert_partition, p, converter, errors) for p in partitions]
        try:
            for future in futures:
                future.result()
        except BaseException:
            import concurrent.futures

            for future in futures:
                future.cancel()
            concurrent.futures.wait(futures)  # tasks already running cannot be stopped
            raise
