"""Whole-corpus conversion: text files in, converted files out.

Each input file (UTF-8, one utterance per line) is cut into partitions of at
most `partition_lines` lines. A partition is one task: it reads its byte range
of the input, converts the lines with the batch method and writes its own
part file through a temporary file and an atomic rename, so a part file that
exists is complete. Tasks whose part file exists are not run again, so a job
that failed or was interrupted can simply be run again: finished partitions
are neither redone nor duplicated, and an engine that retries a failed task
rewrites only that task's part. When every part of an input is done, the parts
are joined, in order, into the output file of the same name (again through a
temporary file and a rename) and removed.

The plan depends only on the input files and `partition_lines`, so a rerun
finds the parts of the previous run. Inputs must not change between runs.
On a cluster, `output_dir` and the inputs must be on a file system that every
worker sees under the same paths.
"""

from __future__ import annotations

import os
import shutil
from dataclasses import dataclass
from typing import List, Sequence

from ._atomic import write_atomically
from .converter import Converter

__all__ = ["Partition", "plan_partitions", "convert_partition", "convert_files"]

DEFAULT_PARTITION_LINES = 50_000
# Lines handed to one batch call. Between calls the interpreter lock is free
# for a worker's other threads (a Dask worker's heartbeat, for one).
BATCH_LINES = 2_000
PARTS_SUFFIX = ".parts"


@dataclass(frozen=True)
class Partition:
    """Lines [first_line, first_line + line_count) of `source`, which occupy
    bytes [start, stop) of it; their conversion goes to `part_path`."""

    source: str
    first_line: int
    line_count: int
    start: int
    stop: int
    part_path: str


def _line_starts(path: str, every: int) -> tuple:
    """(line index, byte offset) of lines 0, every, 2*every, ..., then the
    number of lines and the file size."""
    starts = []
    count = position = 0
    with open(path, "rb") as f:
        for line in f:
            if count % every == 0:
                starts.append((count, position))
            count += 1
            position += len(line)
    return starts, count, position


def _parts_dir(output_dir: str, name: str) -> str:
    return os.path.join(output_dir, name + PARTS_SUFFIX)


def plan_partitions(
    source: str, output_dir: str, partition_lines: int = DEFAULT_PARTITION_LINES
) -> List[Partition]:
    """Cuts `source` into partitions of `partition_lines` lines (the last may
    be shorter), in file order. An empty file has no partitions."""
    if partition_lines < 1:
        raise ValueError("partition_lines must be at least 1")
    source = os.fspath(source)
    parts_dir = _parts_dir(os.fspath(output_dir), os.path.basename(source))
    starts, total, size = _line_starts(source, partition_lines)
    bounds = starts + [(total, size)]
    partitions = []
    for (first, start), (end, stop) in zip(bounds, bounds[1:]):
        name = f"{first:012d}-{end:012d}.txt"
        partitions.append(Partition(source, first, end - first, start, stop, os.path.join(parts_dir, name)))
    return partitions


def _read_lines(partition: Partition, errors: str) -> List[str]:
    with open(partition.source, "rb") as f:
        f.seek(partition.start)
        data = f.read(partition.stop - partition.start)
    if len(data) != partition.stop - partition.start:
        raise RuntimeError(f"{partition.source} is shorter than planned; was it changed?")
    text = data.decode("utf-8", errors)
    if text.endswith("\n"):
        text = text[:-1]
    lines = text.split("\n")
    if len(lines) != partition.line_count:
        raise RuntimeError(f"{partition.source} changed since its partitions were planned")
    # Files with Windows line ends: the "\r" belongs to the line end.
    return [line[:-1] if line.endswith("\r") else line for line in lines]


def convert_partition(partition: Partition, converter: Converter, errors: str = "strict") -> int:
    """Converts one partition into its part file, unless that file exists.

    Returns the number of lines converted (0 when the part was already done).
    Safe to run twice, also at the same time: the rename is atomic and both
    runs write the same bytes.
    """
    if os.path.exists(partition.part_path):
        return 0
    lines = _read_lines(partition, errors)

    def converted():
        for i in range(0, len(lines), BATCH_LINES):
            out = converter.convert_batch(lines[i : i + BATCH_LINES])
            yield ("\n".join(out) + "\n").encode("utf-8")

    os.makedirs(os.path.dirname(partition.part_path), exist_ok=True)
    write_atomically(partition.part_path, converted())
    return len(lines)


def _join_parts(output: str, partitions: Sequence[Partition]) -> None:
    def chunks():
        for partition in partitions:
            with open(partition.part_path, "rb") as f:
                while True:
                    block = f.read(1 << 20)
                    if not block:
                        break
                    yield block

    write_atomically(output, chunks())


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
    too (without retries). Outputs that already exist are left as they are.
    `errors` is the UTF-8 decoding error handler for the inputs.
    """
    output_dir = os.fspath(output_dir)
    inputs = [os.fspath(path) for path in inputs]
    names = [os.path.basename(path) for path in inputs]
    if len(set(names)) != len(names):
        raise ValueError("input files must have distinct base names")
    if set(names) & {name + PARTS_SUFFIX for name in names}:
        raise ValueError(f"an input name clashes with another's {PARTS_SUFFIX} directory")
    outputs = [os.path.join(output_dir, name) for name in names]
    for source, output in zip(inputs, outputs):
        if os.path.abspath(source) == os.path.abspath(output):
            raise ValueError(f"output would overwrite its input: {source}")
    os.makedirs(output_dir, exist_ok=True)

    plans = {}
    for source, output in zip(inputs, outputs):
        if not os.path.exists(output):
            plans[output] = plan_partitions(source, output_dir, partition_lines)

    todo = [p for plan in plans.values() for p in plan if not os.path.exists(p.part_path)]
    _run(todo, converter, client, retries, errors)

    for output, plan in plans.items():
        _join_parts(output, plan)
    for output in outputs:
        # Also cleans up after a run that stopped between join and removal.
        shutil.rmtree(output + PARTS_SUFFIX, ignore_errors=True)
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
        client.gather(futures)
    else:
        futures = [client.submit(convert_partition, p, converter, errors) for p in partitions]
        for future in futures:
            future.result()
