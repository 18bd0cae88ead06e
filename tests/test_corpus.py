"""Whole-corpus conversion: partition planning, line-for-line output, and
reruns that redo only what had not finished."""

import concurrent.futures
import os

import pytest

from merrow.converter import Converter
from merrow.corpus import convert_files, convert_partition, plan_partitions
from synthetic_corpus import CHAR, USER, WORD, corpus_lines, write_corpus


@pytest.fixture
def converter(make_data_dir):
    return Converter(make_data_dir(word=WORD, char=CHAR), user_dict=USER)


def read_lines(path):
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    assert text == "" or text.endswith("\n")
    return text.split("\n")[:-1]


def all_files(directory):
    return sorted(os.path.relpath(os.path.join(d, f), directory) for d, _, fs in os.walk(directory) for f in fs)


class CountingConverter:
    """Counts the lines it converts; fails on lines holding `fail_on`."""

    def __init__(self, inner, fail_on=None):
        self.inner, self.fail_on, self.lines = inner, fail_on, 0

    def convert_batch(self, texts):
        if self.fail_on is not None and any(self.fail_on in t for t in texts):
            raise RuntimeError("injected failure")
        self.lines += len(texts)
        return self.inner.convert_batch(texts)


@pytest.mark.parametrize(
    "content, partition_lines, counts",
    [
        (b"", 3, []),
        (b"a\n", 3, [1]),
        (b"a", 3, [1]),
        (b"\n\n\n", 1, [1, 1, 1]),
        (b"a\nb\nc\nd\ne\nf\n", 3, [3, 3]),
        (b"a\nb\nc\nd\ne\nf\ng", 3, [3, 3, 1]),
        ("一\n二\r\n三\n".encode(), 2, [2, 1]),
        (b"a\nb\n", 10, [2]),
    ],
)
def test_plan_covers_every_line_once_in_order(tmp_path, content, partition_lines, counts):
    source = tmp_path / "in.txt"
    source.write_bytes(content)
    plan = plan_partitions(source, tmp_path / "out", partition_lines)
    assert [p.line_count for p in plan] == counts
    assert [p.first_line for p in plan] == [sum(counts[:i]) for i in range(len(counts))]
    # Byte ranges tile the file, each starting at a line start.
    assert [p.start for p in plan[1:]] == [p.stop for p in plan[:-1]]
    if plan:
        assert plan[0].start == 0 and plan[-1].stop == len(content)
        assert all(content[p.start - 1 : p.start] == b"\n" for p in plan[1:])
    assert len({p.part_path for p in plan}) == len(plan)
    assert plan_partitions(str(source), str(tmp_path / "out"), partition_lines) == plan


@pytest.mark.parametrize("partition_lines", [7, 100, 333, 5000])
def test_outputs_match_line_by_line_conversion(tmp_path, converter, partition_lines):
    a = corpus_lines(1000, seed=2)
    b = corpus_lines(333, seed=3)
    inputs = [write_corpus(tmp_path / "a.txt", a), write_corpus(tmp_path / "b.txt", b)]
    (tmp_path / "empty.txt").write_bytes(b"")
    inputs.append(str(tmp_path / "empty.txt"))
    out = tmp_path / "out"

    outputs = convert_files(inputs, out, converter, partition_lines=partition_lines)

    assert outputs == [str(out / "a.txt"), str(out / "b.txt"), str(out / "empty.txt")]
    assert read_lines(outputs[0]) == [converter.convert(t) for t in a]
    assert read_lines(outputs[1]) == [converter.convert(t) for t in b]
    assert read_lines(outputs[2]) == []
    assert all_files(out) == ["a.txt", "b.txt", "empty.txt"]


@pytest.mark.parametrize(
    "content, lines",
    [
        ("今日\r\n飲茶\r\n", ["今日", "飲茶"]),
        ("今日\n\n飲茶", ["今日", "", "飲茶"]),
        ("\n", [""]),
    ],
)
def test_line_ends_and_blank_lines(tmp_path, converter, content, lines):
    source = tmp_path / "in.txt"
    source.write_bytes(content.encode())
    [output] = convert_files([source], tmp_path / "out", converter, partition_lines=1)
    assert read_lines(output) == [converter.convert(t) for t in lines]


def test_rerun_after_failure_converts_only_the_unfinished_partition(tmp_path, converter):
    lines = corpus_lines(1000, seed=4)
    lines[612] = "去學校 FAIL"
    source = write_corpus(tmp_path / "in.txt", lines)
    out = tmp_path / "out"

    failing = CountingConverter(converter, fail_on="FAIL")
    with pytest.raises(RuntimeError, match="injected"):
        convert_files([source], out, failing, partition_lines=100)
    # Partitions before the failing one were written; nothing half-written.
    assert failing.lines == 600
    assert all_files(out) == [f"in.txt.parts/{i * 100:012d}-{(i + 1) * 100:012d}.txt" for i in range(6)]

    retry = CountingConverter(converter)
    [output] = convert_files([source], out, retry, partition_lines=100)
    assert retry.lines == 400
    assert read_lines(output) == [converter.convert(t) for t in lines]
    assert all_files(out) == ["in.txt"]

    again = CountingConverter(converter)
    convert_files([source], out, again, partition_lines=100)
    assert again.lines == 0
    assert read_lines(output) == [converter.convert(t) for t in lines]


def test_partition_run_twice_writes_once(tmp_path, converter):
    source = write_corpus(tmp_path / "in.txt", corpus_lines(50, seed=5))
    [partition] = plan_partitions(source, tmp_path / "out", 100)
    assert convert_partition(partition, converter) == 50
    first = open(partition.part_path, "rb").read()
    assert convert_partition(partition, converter) == 0
    assert open(partition.part_path, "rb").read() == first


def test_changed_input_is_detected(tmp_path, converter):
    source = write_corpus(tmp_path / "in.txt", ["今日"] * 10)
    [partition] = plan_partitions(source, tmp_path / "out", 100)
    write_corpus(source, ["x"] * 35)  # as many bytes, other line ends
    with pytest.raises(RuntimeError, match="changed"):
        convert_partition(partition, converter)
    write_corpus(source, ["今日"] * 3)
    with pytest.raises(RuntimeError, match="shorter"):
        convert_partition(partition, converter)


def test_executor_gives_the_same_output(tmp_path, converter):
    lines = corpus_lines(2000, seed=6)
    source = write_corpus(tmp_path / "in.txt", lines)
    with concurrent.futures.ThreadPoolExecutor(3) as executor:
        [output] = convert_files([source], tmp_path / "out", converter, partition_lines=150, client=executor)
    assert read_lines(output) == converter.convert_batch(lines)


def test_decoding_errors(tmp_path, converter):
    source = tmp_path / "in.txt"
    source.write_bytes("今日\n".encode() + b"\xff\n")
    with pytest.raises(UnicodeDecodeError):
        convert_files([source], tmp_path / "out", converter)
    [output] = convert_files([source], tmp_path / "out", converter, errors="replace")
    assert read_lines(output) == [converter.convert("今日"), converter.convert("\ufffd")]


@pytest.mark.parametrize(
    "names, output_dir",
    [
        (["x/a.txt", "y/a.txt"], "out"),  # same base name
        (["x/a", "x/a.parts"], "out"),  # one input's name is the other's parts directory
        (["x/a.txt"], "x"),  # output would overwrite the input
    ],
)
def test_ambiguous_layouts_are_refused(tmp_path, converter, names, output_dir):
    paths = []
    for name in names:
        path = tmp_path / name
        path.parent.mkdir(exist_ok=True)
        path.write_text("今日\n")
        paths.append(path)
    with pytest.raises(ValueError):
        convert_files(paths, tmp_path / output_dir, converter)
    assert all(path.read_text() == "今日\n" for path in paths)
