"""The corpus helper on a real Dask cluster: two worker processes on this
machine, talking over localhost only."""

import os
import sys

import pytest

from merrow.converter import Converter
from merrow.corpus import convert_files
from synthetic_corpus import CHAR, USER, WORD, corpus_lines, write_corpus

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        dashboard_address=None,
        host="127.0.0.1",
    )
    try:
        with distributed.Client(cluster) as client:
            yield client
    finally:
        cluster.close()


@pytest.fixture
def converter(make_data_dir):
    return Converter(make_data_dir(word=WORD, char=CHAR), user_dict=USER)


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return f.read().split("\n")[:-1]


def test_cluster_output_equals_single_process_conversion(tmp_path, client, converter):
    corpora = {"subtitles.txt": corpus_lines(12_000, seed=10), "forum.txt": corpus_lines(8_000, seed=11)}
    inputs = [write_corpus(tmp_path / name, lines) for name, lines in corpora.items()]

    outputs = convert_files(inputs, tmp_path / "out", converter, partition_lines=1_500, client=client)

    for output, lines in zip(outputs, corpora.values()):
        assert read_lines(output) == converter.convert_batch(lines)
    assert sorted(os.listdir(tmp_path / "out")) == [".merrow", "forum.txt", "subtitles.txt"]
    assert not os.listdir(tmp_path / "out" / ".merrow" / "parts")
    # The work ran in the worker processes, which imported the package there.
    pids = client.run(os.getpid)
    assert len(pids) == 2 and os.getpid() not in pids.values()
    assert all(client.run(lambda: "merrow.converter" in sys.modules).values())


class FlakyConverter(Converter):
    """Fails the first attempt at the partition holding `marker`; the flag
    file records the failure for whichever worker retries."""

    __slots__ = ("flag",)

    def __getstate__(self):
        return (super().__getstate__(), self.flag)

    def __setstate__(self, state):
        inner, self.flag = state
        super().__setstate__(inner)

    def convert_batch(self, texts):
        texts = list(texts)
        if any("MARKER" in t for t in texts) and not os.path.exists(self.flag):
            open(self.flag, "w").close()
            raise RuntimeError("first attempt fails")
        return super().convert_batch(texts)


def test_failed_partition_is_retried_by_the_cluster(tmp_path, client, make_data_dir):
    import cloudpickle

    # Workers cannot import this test module; send the class by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    try:
        flaky = FlakyConverter(make_data_dir(word=WORD, char=CHAR))
        flaky.flag = str(tmp_path / "failed-once")
        lines = corpus_lines(3_000, seed=12)
        lines[1_234] = "MARKER"
        source = write_corpus(tmp_path / "in.txt", lines)

        [output] = convert_files([source], tmp_path / "out", flaky, partition_lines=500, client=client, retries=1)
    finally:
        cloudpickle.unregister_pickle_by_value(sys.modules[__name__])

    assert os.path.exists(flaky.flag)
    assert read_lines(output) == Converter(flaky.data_dir).convert_batch(lines)


def test_cluster_rerun_after_failure_and_edit_reuses_only_matching_parts(tmp_path, client, make_data_dir):
    import cloudpickle

    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    try:
        flaky = FlakyConverter(make_data_dir(word=WORD, char=CHAR))
        flaky.flag = str(tmp_path / "failed-once")
        lines = corpus_lines(3_000, seed=13)
        lines[2_600] = "MARKER"
        source = write_corpus(tmp_path / "in.txt", lines)
        out = tmp_path / "out"
        with pytest.raises(RuntimeError, match="first attempt"):
            convert_files([source], out, flaky, partition_lines=500, client=client, retries=0)
        parts = os.listdir(out / ".merrow" / "parts" / "in.txt")
        assert len(parts) == 5  # every partition but the failed one

        lines[0] = "今日飲茶"  # the input changes before the rerun
        write_corpus(source, lines)
        [output] = convert_files([source], out, flaky, partition_lines=500, client=client)
    finally:
        cloudpickle.unregister_pickle_by_value(sys.modules[__name__])

    assert read_lines(output) == Converter(flaky.data_dir).convert_batch(lines)
    assert not os.listdir(out / ".merrow" / "parts")
