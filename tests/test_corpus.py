"""Whole-corpus conversion: partition planning, line-for-line output, and
reruns that redo only what had not finished and never reuse stale text."""

import concurrent.futures
import os

import pytest

from merrow import cjyp
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


def outputs_and_leftovers(directory):
    """The output files, and the working files besides the lock and the
    records of finished outputs (nothing, after a run that finished)."""
    files = all_files(directory)
    kept = [f for f in files if f == ".merrow/lock" or f.startswith(".merrow/done/")]
    work = [f for f in files if f.startswith(".merrow/")]
    return [f for f in files if f not in work], [f for f in work if f not in kept]


def part_files(directory, name):
    return sorted(os.listdir(os.path.join(directory, ".merrow", "parts", name)))


class CountingConverter(Converter):
    """A converter with the configuration of `inner` that counts the lines
    it converts and fails on lines holding `fail_on`."""

    def __init__(self, inner, fail_on=None):
        super().__init__(inner.data_dir, punc_norm=inner.punc_norm, user_dict=inner.user_dict)
        self.fail_on, self.lines = fail_on, 0

    def convert_batch(self, texts):
        if self.fail_on is not None and any(self.fail_on in t for t in texts):
            raise RuntimeError("injected failure")
        self.lines += len(texts)
        return super().convert_batch(texts)


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
    assert outputs_and_leftovers(out) == (["a.txt", "b.txt", "empty.txt"], [])


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
    ranges = [f"{i * 100:012d}-{(i + 1) * 100:012d}" for i in range(6)]
    assert [name[:25] for name in part_files(out, "in.txt")] == ranges
    assert outputs_and_leftovers(out)[0] == []

    retry = CountingConverter(converter)
    [output] = convert_files([source], out, retry, partition_lines=100)
    assert retry.lines == 400
    assert read_lines(output) == [converter.convert(t) for t in lines]
    assert outputs_and_leftovers(out) == (["in.txt"], [])

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
    for lines in (["x"] * 35, ["今日"] * 3, ["今曰"] + ["今日"] * 9):  # as many bytes; fewer; one edited
        write_corpus(source, lines)
        with pytest.raises(RuntimeError, match="changed"):
            convert_partition(partition, converter)
    assert not os.path.exists(partition.part_path)


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
        (["x/.merrow"], "out"),  # the working directory's name
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


# Reruns after the input, the configuration or the dictionaries changed. The
# first run either stops at a failing partition (parts left behind) or
# finishes (output and its record left behind); the rerun must give exactly
# the conversion of the current input under the current configuration.

NEW_WORD = dict(WORD, 今日="gam1 jat6 NEW")


def _insert(lines, data_dir, config):
    return ["今日天氣"] + lines, data_dir, config


def _edit(lines, data_dir, config):
    return ["今日飲茶"] + lines[1:], data_dir, config


def _punc_norm(lines, data_dir, config):
    return lines, data_dir, dict(config, punc_norm=False)


def _user_dict(lines, data_dir, config):
    return lines, data_dir, dict(config, user_dict={"飲茶": "jam3 caa3"})


def _rewrite_dictionary(lines, data_dir, config):
    cjyp.write(os.path.join(data_dir, "word.bin"), NEW_WORD)  # replaced by a rename, as a rebuild does
    return lines, data_dir, config


def _other_data_dir(lines, data_dir, config):
    other = os.path.join(os.path.dirname(data_dir), "other-data")
    os.makedirs(other)
    cjyp.write(os.path.join(other, "word.bin"), NEW_WORD)
    cjyp.write(os.path.join(other, "char.bin"), CHAR)
    return lines, other, config


def _nothing(lines, data_dir, config):
    return lines, data_dir, config


# Lines converted by the rerun: 1000 lines in partitions of 100; an
# interrupted first run finished the first 6 partitions.
@pytest.mark.parametrize(
    "change, after_failure, after_finish",
    [
        (_nothing, 400, 0),
        (_insert, 1001, 1001),  # every partition shifts by one line
        (_edit, 500, 1000),  # the edited partition; a finished output's parts are gone
        (_punc_norm, 1000, 1000),
        (_user_dict, 1000, 1000),
        (_rewrite_dictionary, 1000, 1000),
        (_other_data_dir, 1000, 1000),
    ],
)
@pytest.mark.parametrize("first_run", ["fails", "finishes"])
def test_rerun_reuses_only_what_matches_input_and_configuration(
    tmp_path, make_data_dir, change, after_failure, after_finish, first_run
):
    data_dir = make_data_dir(word=WORD, char=CHAR)
    config = {"punc_norm": True, "user_dict": USER}
    lines = corpus_lines(1000, seed=7)
    lines[3] = "「今日」"  # punctuation normalisation drops the brackets
    lines[612] = "去學校 FAIL"
    source = write_corpus(tmp_path / "in.txt", lines)
    out = tmp_path / "out"
    before = Converter(data_dir, **config).convert_batch(lines)

    first = CountingConverter(Converter(data_dir, **config), fail_on="FAIL" if first_run == "fails" else None)
    if first_run == "fails":
        with pytest.raises(RuntimeError, match="injected"):
            convert_files([source], out, first, partition_lines=100)
    else:
        convert_files([source], out, first, partition_lines=100)

    lines, data_dir, config = change(lines, data_dir, config)
    write_corpus(source, lines)
    expected = Converter(data_dir, **config).convert_batch(lines)
    assert (expected == before) == (change is _nothing)
    rerun = CountingConverter(Converter(data_dir, **config))
    [output] = convert_files([source], out, rerun, partition_lines=100)

    assert read_lines(output) == expected
    assert rerun.lines == (after_failure if first_run == "fails" else after_finish)
    assert outputs_and_leftovers(out) == (["in.txt"], [])


def test_output_replaced_by_hand_is_converted_again(tmp_path, converter):
    lines = corpus_lines(300, seed=8)
    source = write_corpus(tmp_path / "in.txt", lines)
    [output] = convert_files([source], tmp_path / "out", converter)
    write_corpus(output, ["edited"] * 300)
    counting = CountingConverter(converter)
    convert_files([source], tmp_path / "out", counting)
    assert counting.lines == 300
    assert read_lines(output) == converter.convert_batch(lines)


def test_objects_other_than_converters_never_reuse_parts(tmp_path, converter):
    class Plain:  # any object with a batch method: its configuration is unknown
        def __init__(self):
            self.lines = 0

        def convert_batch(self, texts):
            self.lines += len(texts)
            return converter.convert_batch(texts)

    lines = corpus_lines(200, seed=9)
    source = write_corpus(tmp_path / "in.txt", lines)
    for _ in range(2):
        plain = Plain()
        [output] = convert_files([source], tmp_path / "out", plain, partition_lines=50)
        assert plain.lines == 200
        assert read_lines(output) == converter.convert_batch(lines)


# Readings are used verbatim, so a data directory can hold line breaks in
# them; the output still has one line per input line.
@pytest.mark.parametrize("reading", ["gam1\njat6", "gam1\r\njat6", "gam1\rjat6", "\n", "gam1 jat6\n\n"])
def test_line_breaks_in_readings_keep_line_for_line_output(tmp_path, make_data_dir, reading):
    converter = Converter(make_data_dir(word=dict(WORD, 今日=reading), char=CHAR))
    lines = ["今日", "今日飲茶", "", "天氣"] * 3
    source = write_corpus(tmp_path / "in.txt", lines)
    [output] = convert_files([source], tmp_path / "out", converter, partition_lines=5)
    expected = [converter.convert(t).replace("\r\n", " ").replace("\r", " ").replace("\n", " ") for t in lines]
    assert len(converter.convert("今日飲茶").splitlines()) > 1
    with open(output, encoding="utf-8") as f:  # universal newlines: "\r" ends a line too
        assert f.read().splitlines() == expected


def test_failed_executor_run_leaves_no_task_writing(tmp_path, converter):
    import threading

    started = threading.Event()

    class SlowOrFailing(CountingConverter):
        def convert_batch(self, texts):
            if "SLOW" in texts:
                started.set()
                threading.Event().wait(0.5)
            elif "FAIL" in texts:
                started.wait(10)
                raise RuntimeError("injected failure")
            return super().convert_batch(texts)

    source = write_corpus(tmp_path / "in.txt", ["FAIL", "SLOW"])
    out = tmp_path / "out"
    with concurrent.futures.ThreadPoolExecutor(2) as executor:
        with pytest.raises(RuntimeError, match="injected"):
            convert_files([source], out, SlowOrFailing(converter), partition_lines=1, client=executor)
        # The slow task had finished when the call returned: its part is whole.
        [part] = part_files(out, "in.txt")
        assert part.startswith("000000000001-000000000002.") and part.endswith(".txt")
