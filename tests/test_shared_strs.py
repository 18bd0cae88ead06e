"""Readings made once per pipeline and shared between results: equal values
everywhere, the same str object for a dictionary value within one pipeline,
new lists and tuples on every call, and results that outlive the pipeline."""

import gc
import signal
import sys

import pytest

from _merrow import PyPipeline

TEXT = "銀行行樂中國人 Hello，行"
USER = {"樂": "lok9|ngok9", "中國人": "zung1 gwok3 jan4 (user)"}

FLAVOURS = ["convert_detailed", "convert_candidates"]


@pytest.fixture
def data_dir(make_data_dir):
    return make_data_dir(
        word={"中國": "zung1 gwok3", "銀行": "ngan4 hong4", "中國人": "zung1 gwok3 jan4"},
        char={"中": "zung1", "國": "gwok3", "行": "hang4", "樂": "lok6", "人": "jan4"},
        word_candidates={"銀行": "ngan4 hong4|ngan4 hang4"},
        char_candidates={"行": "hang4|hong4|hang6", "樂": "lok6|ngok6"},
        word_source={"銀行": "rime"},
    )


def calls(p, flavour, text):
    """The flavour's result for `text` from the single call and from its batch form."""
    return [getattr(p, flavour)(text), getattr(p, flavour + "_batch")([text, text])[1]]


def readings(result):
    """Every reading str of a result (each element of a candidates list) that
    comes from the data, not from the text itself."""
    out = []
    for _, second, _, _, source in result:
        if source != "passthrough":
            out.extend(second if isinstance(second, list) else [second])
    return out


@pytest.mark.parametrize("flavour", FLAVOURS)
@pytest.mark.parametrize("user_dict", [None, USER])
def test_dictionary_readings_are_one_object_per_pipeline(data_dir, flavour, user_dict):
    p = PyPipeline(data_dir=data_dir, user_dict=user_dict)
    first, *others = calls(p, flavour, TEXT) + calls(p, flavour, TEXT)
    assert len(readings(first)) >= 5
    for other in others:
        assert other == first
        assert all(a is b for a, b in zip(readings(first), readings(other)))
    # Another pipeline on the same files has objects of its own.
    q = PyPipeline(data_dir=data_dir, user_dict=user_dict)
    second = getattr(q, flavour)(TEXT)
    assert second == first
    assert not any(a is b for a, b in zip(readings(first), readings(second)))


@pytest.mark.parametrize("candidates_first", [False, True])
def test_detailed_first_reading_and_candidate_element_share_one_object(data_dir, candidates_first):
    p = PyPipeline(data_dir=data_dir)
    if candidates_first:
        candidates = p.convert_candidates("行")
        detailed = p.convert_detailed("行")
    else:
        detailed = p.convert_detailed("行")
        candidates = p.convert_candidates("行")
    assert candidates[0][1] == ["hang4", "hong4", "hang6"]
    assert detailed[0][1] is candidates[0][1][0]


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_lists_and_tuples_are_new_on_every_call(data_dir, flavour):
    p = PyPipeline(data_dir=data_dir)
    first, second = getattr(p, flavour)(TEXT), getattr(p, flavour)(TEXT)
    assert first == second and first is not second
    for a, b in zip(first, second):
        assert a is not b
        if isinstance(a[1], list):
            assert a[1] is not b[1]
    # Changing a returned list leaves later results as they were.
    if flavour == "convert_candidates":
        first[0][1].append("changed")
        first[0][1][0] = "changed"
        assert getattr(p, flavour)(TEXT) == second


@pytest.mark.parametrize("flavour", FLAVOURS)
def test_results_outlive_their_pipeline(data_dir, flavour):
    p = PyPipeline(data_dir=data_dir, user_dict=USER)
    expected = getattr(PyPipeline(data_dir=data_dir, user_dict=USER), flavour)(TEXT)
    kept = calls(p, flavour, TEXT)
    del p
    gc.collect()
    # Fresh allocations that would reuse freed memory, then the kept results.
    junk = [str(i) * 3 for i in range(10000)]
    assert all(result == expected for result in kept)
    assert junk


def test_shared_objects_are_released_with_the_pipeline(data_dir):
    p = PyPipeline(data_dir=data_dir)
    reading = p.convert_detailed("中國人")[0][1]
    held = sys.getrefcount(reading)
    p.convert_detailed("中國人")
    assert sys.getrefcount(reading) == held  # a result that goes releases its reference
    del p
    assert sys.getrefcount(reading) == held - 1  # the pipeline's own reference goes with it


def test_no_growth_over_many_calls(data_dir):
    p = PyPipeline(data_dir=data_dir, user_dict=USER)

    def blocks_after(rounds):
        for _ in range(rounds):
            for flavour in FLAVOURS:
                calls(p, flavour, TEXT)
        sys._clear_type_cache()
        gc.collect()
        return sys.getallocatedblocks()

    blocks_after(200)  # warm-up: the table, free lists, the worker pool
    before = blocks_after(10)
    # One object kept per call would be thousands; the measurement's own
    # integers are the only blocks allowed.
    assert blocks_after(2000) - before <= 4


def test_many_distinct_values_all_come_back_right(make_data_dir):
    # Enough values to make the table grow several times.
    chars = [chr(0x4E00 + i) for i in range(3000)]
    data = make_data_dir(char={c: f"r{i}" for i, c in enumerate(chars)},
                         char_candidates={c: f"r{i}|s{i}" for i, c in enumerate(chars) if i % 2 == 0})
    p = PyPipeline(data_dir=data)
    text = "".join(chars)
    for _ in range(2):
        detailed = p.convert_detailed(text)
        assert [r[1] for r in detailed] == [f"r{i}" for i in range(len(chars))]
        assert p.convert_candidates(text) == p.convert_candidates_batch([text])[0]
        assert p.convert_candidates(text)[2][1] == ["r2", "s2"]


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs signal.setitimer")
@pytest.mark.parametrize("method", ["convert_detailed_batch", "convert_candidates_batch"])
def test_batch_texts_emptied_by_a_signal_handler_meanwhile(data_dir, method):
    """The batch reads its texts in place: Python code that empties the list
    while results are being made (here a signal handler) must not pull the
    texts from under it."""
    p = PyPipeline(data_dir=data_dir)
    base = ["".join(chr(0x4E00 + (i * 7 + j) % 500) for j in range(40)) + "銀行" for i in range(4000)]
    expected = getattr(p, method)(list(base))
    bound = getattr(p, method)
    state = {}

    def empty(signum, frame):
        if not state["fired"]:
            state["fired"] = True
            state["texts"].clear()

    for _ in range(20):
        texts = [t[:20] + t[20:] for t in base]  # new strs, owned by this list alone
        state.update(texts=texts, fired=False)
        previous = signal.signal(signal.SIGALRM, empty)
        try:
            signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
            result = bound(texts)
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGALRM, previous)
        if state["fired"] and result:  # emptied during the call, not before it
            break
    assert texts == []
    assert result == expected


@pytest.mark.parametrize("flavour", FLAVOURS)
@pytest.mark.parametrize("user_dict", [None, USER])
def test_tokens_that_are_table_keys_are_one_object_per_pipeline(data_dir, flavour, user_dict):
    # 銀行 and 中國 are word keys (中國人 too, unless the user dictionary
    # takes it), 行 and 樂 keys of the character tables (樂 unless the user
    # dictionary reads it); Hello and ， are in no table, and stay new strs
    # on every call.
    p = PyPipeline(data_dir=data_dir, user_dict=user_dict)
    first, *others = calls(p, flavour, TEXT) + calls(p, flavour, TEXT)
    word_keys = {"銀行", "中國", "中國人"} | ({"行", "樂"} - set(user_dict or ()))
    for again in others:
        assert [t[0] for t in first] == [t[0] for t in again]
        for a, b in zip(first, again):
            assert (a[0] is b[0]) == (a[0] in word_keys), a[0]
    q = PyPipeline(data_dir=data_dir, user_dict=user_dict)
    assert all(a[0] is not b[0] for a, b in zip(first, getattr(q, flavour)(TEXT)))
