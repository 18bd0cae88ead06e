"""Leak and reference checks: every method, the error paths included, run
thousands of times must not grow resident memory or Python's allocated
blocks, and pipelines built and dropped must leave no mapping behind."""

import gc
import os
import sys

import pytest

from _merrow import PyPipeline

TEXTS = ["我有$100，「米」3.5kg", "銀行行樂 ABC 1,234.5%", "", "😀\u0301 中國人\t3/4"]
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def mappings_of(directory):
    """Lines of /proc/self/maps that name a file inside `directory`."""
    prefix = os.path.realpath(directory) + os.sep
    with open("/proc/self/maps") as f:
        return sum(1 for line in f if line.rstrip("\n").split(None, 5)[-1].startswith(prefix))


@pytest.fixture
def dirs(make_data_dir):
    good = make_data_dir(
        word={"中國": "zung1 gwok3", "銀行": "ngan4 hong4", "中國人": "zung1 gwok3 jan4"},
        char={"中": "zung1", "國": "gwok3", "行": "hang4", "樂": "lok6", "一": "jat1"},
        word_candidates={"銀行": "ngan4 hong4|ngan4 hang4"},
        char_candidates={"行": "hang4|hong4", "樂": "lok6|ngok6"},
        word_candidates_confidence={"銀行": "ranked"},
        char_candidates_confidence={"行": "tied"},
        word_source={"銀行": "rime"},
        char_source={"行": "unihan"},
    )
    bad_magic = make_data_dir(word=b"PK\x03\x04" + bytes(12))
    bad_char = make_data_dir(word={"中國": "zung1 gwok3"}, char=b"CJYP\x02\x00\x00\x00" + bytes(8))
    return good, bad_magic, bad_char, os.path.join(good, "missing")


def expect(exc_type, call, *args, **kwargs):
    try:
        call(*args, **kwargs)
    except exc_type:
        return
    raise AssertionError(f"{call} did not raise {exc_type.__name__}")


def one_round(p, dirs):
    """Every method once, and each kind of failure once."""
    good, bad_magic, bad_char, missing = dirs
    p.convert(TEXTS[0])
    p.convert_detailed(TEXTS[1])
    p.convert_candidates(TEXTS[3])
    p.convert_batch(TEXTS)
    p.convert_detailed_batch(TEXTS)
    p.convert_candidates_batch(TEXTS)
    PyPipeline(punc_norm=False, data_dir=good, user_dict={"中國": "user", "樂": ""})
    PyPipeline.from_dir(good, punc_norm=True)
    # Bad arguments.
    expect(TypeError, p.convert, 5)
    expect(TypeError, p.convert)
    expect(TypeError, p.convert, "a", "b")
    expect(TypeError, p.convert, text="a", other=1)
    expect(TypeError, p.convert_detailed, None)
    expect(UnicodeEncodeError, p.convert_candidates, "\ud800")
    expect(TypeError, p.convert_batch, ("a", "b"))
    expect(TypeError, p.convert_detailed_batch, ["a", "b", 5])
    expect(TypeError, p.convert_candidates_batch, ["a", None])
    expect(UnicodeEncodeError, p.convert_batch, ["a", "\udfff"])
    expect(TypeError, PyPipeline, punc_norm="yes", data_dir=good)
    expect(TypeError, PyPipeline, data_dir=5)
    expect(TypeError, PyPipeline.from_dir)
    # Bad files.
    expect(RuntimeError, PyPipeline.from_dir, missing)
    expect(RuntimeError, PyPipeline, data_dir=bad_magic)
    expect(RuntimeError, PyPipeline, data_dir=bad_char, user_dict={"中": "x"})
    # Bad user_dict entries.
    expect(TypeError, PyPipeline, data_dir=good, user_dict={"中": "x", 1: "y"})
    expect(TypeError, PyPipeline, data_dir=good, user_dict={"中": 2})
    expect(TypeError, PyPipeline, data_dir=good, user_dict={"中": None})
    expect(UnicodeEncodeError, PyPipeline, data_dir=good, user_dict={"\ud800": "x"})
    expect(TypeError, PyPipeline, data_dir=good, user_dict=[("中", "x")])


def measure(p, dirs, rounds):
    for _ in range(rounds):
        one_round(p, dirs)
    # The interpreter's attribute cache keeps the last name string looked up
    # on each type (the binding looks up __qualname__ for its messages); it
    # is bounded, but would show as slow growth here.
    sys._clear_type_cache()
    gc.collect()
    return resident_bytes(), sys.getallocatedblocks()


def test_thousands_of_calls_leave_memory_and_blocks_unchanged(dirs):
    p = PyPipeline(data_dir=dirs[0], user_dict={"一": "jat1!"})
    measure(p, dirs, 500)  # warm-up: caches, the worker pool, free lists
    rss_before, blocks_before = measure(p, dirs, 10)
    rss_after, blocks_after = measure(p, dirs, 5000)  # 29 calls a round
    growth = rss_after - rss_before
    print(f"\nresident growth {growth} bytes, allocated blocks {blocks_before} -> {blocks_after}")
    if not UNDER_ASAN:  # ASan's quarantine holds freed memory back on purpose
        assert growth < 1 << 20
    # The only blocks allowed are the measurement's own: the integers and the
    # tuple that hold the first figures, and what the interpreter caches on
    # the way (4 on 3.11, 5 on 3.9). One leaked object per call would be
    # thousands.
    assert blocks_after - blocks_before <= 8


def test_allocated_blocks_measurement_sees_a_leak(dirs):
    """The block count used above notices objects that stay alive."""
    kept = []
    before = sys.getallocatedblocks()
    for _ in range(1000):
        kept.append(object())
    assert sys.getallocatedblocks() - before >= 1000


def test_dropped_pipelines_leave_no_mapping(dirs):
    good, bad_magic, bad_char, _ = dirs
    assert mappings_of(good) == 0
    alive = PyPipeline.from_dir(good)
    # word.bin, char.bin and the six sidecars are each mapped once.
    assert mappings_of(good) == 8
    del alive
    gc.collect()
    assert mappings_of(good) == 0
    for i in range(500):
        p = PyPipeline(punc_norm=bool(i & 1), data_dir=good, user_dict={"中": "x"})
        p.convert_batch(["中國"])
        del p
        # A failed load releases the files it had already mapped.
        expect(RuntimeError, PyPipeline.from_dir, bad_char)
        expect(RuntimeError, PyPipeline.from_dir, bad_magic)
    gc.collect()
    assert mappings_of(good) == 0
    assert mappings_of(bad_char) == 0
    assert mappings_of(bad_magic) == 0


def test_results_do_not_keep_pipelines_alive(dirs):
    """Nothing a conversion returns refers to the mapping: the results stay
    valid after the pipeline and its files are gone."""
    p = PyPipeline.from_dir(dirs[0])
    results = [p.convert("中國"), p.convert_candidates("銀行"), p.convert_detailed_batch(["樂"])]
    del p
    gc.collect()
    assert mappings_of(dirs[0]) == 0
    assert results == ["zung1 gwok3", [("銀行", ["ngan4 hong4", "ngan4 hang4"], "yue", "ranked", "rime")],
                       [[("樂", "lok6", "yue", "tied", "unknown")]]]


class _Marker:
    pass


@pytest.mark.parametrize("method", ["convert_candidates", "convert_candidates_batch"])
def test_a_cycle_through_a_returned_list_of_readings_is_collected(method):
    import weakref

    import merrow

    p = merrow.load()
    result = getattr(p, method)("香港行" if method == "convert_candidates" else ["香港行"])
    record = result[0] if method == "convert_candidates" else result[0][0]
    marker = _Marker()
    marker.record = record
    record[1].append(marker)  # marker -> record -> its list -> marker
    gone = weakref.ref(marker)
    del result, record, marker
    gc.collect()
    assert gone() is None
