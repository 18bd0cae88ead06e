"""Batches of records pause the cycle collector while they build their
result: the program sees the collector exactly as it left it, before, after
and from inside signal handlers that run during the call."""

import gc
import signal

import pytest

import merrow

SENTENCE = "我哋今日去咗香港大學睇書，然後食飯。"
BATCHES = ["convert_batch", "convert_detailed_batch", "convert_candidates_batch"]

needs_timer = pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs signal.setitimer")


@pytest.fixture(scope="module")
def pipeline():
    return merrow.load()


@pytest.fixture
def collector_restored():
    was = gc.isenabled()
    yield
    (gc.enable if was else gc.disable)()


@pytest.mark.parametrize("method", BATCHES)
@pytest.mark.parametrize("enabled", [True, False])
def test_collector_state_is_the_callers_after_a_batch(pipeline, collector_restored, method, enabled):
    (gc.enable if enabled else gc.disable)()
    result = getattr(pipeline, method)([SENTENCE] * 300)
    assert len(result) == 300
    assert gc.isenabled() is enabled


def during_batch(pipeline, method, handler):
    """Runs the batch with `handler` called on a 2 ms interval timer, the
    input doubled until at least one call landed inside the batch. Returns
    the states the handler saw."""
    seen = []
    inside = [False]

    def on_alarm(signum, frame):
        if inside[0]:
            seen.append(handler())

    previous = signal.signal(signal.SIGALRM, on_alarm)
    try:
        count = 2000
        while not seen:
            texts = [SENTENCE] * count
            signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
            inside[0] = True
            try:
                getattr(pipeline, method)(texts)
            finally:
                inside[0] = False
                signal.setitimer(signal.ITIMER_REAL, 0)
            count *= 2
    finally:
        signal.signal(signal.SIGALRM, previous)
    return seen


@needs_timer
@pytest.mark.parametrize("method", ["convert_detailed_batch", "convert_candidates_batch"])
def test_signal_handlers_run_with_the_collector_enabled(pipeline, collector_restored, method):
    gc.enable()
    seen = during_batch(pipeline, method, gc.isenabled)
    assert all(seen)
    assert gc.isenabled()


@needs_timer
def test_a_handler_that_disables_the_collector_keeps_it_disabled(pipeline, collector_restored):
    gc.enable()
    during_batch(pipeline, "convert_candidates_batch", gc.disable)
    assert not gc.isenabled()


@needs_timer
def test_a_batch_inside_a_handler_pauses_and_resumes_on_its_own(pipeline, collector_restored):
    gc.enable()

    def nested():
        records = pipeline.convert_candidates_batch([SENTENCE] * 20)
        return gc.isenabled() and records == [pipeline.convert_candidates(SENTENCE)] * 20

    seen = during_batch(pipeline, "convert_detailed_batch", nested)
    assert all(seen)
    assert gc.isenabled()


@needs_timer
def test_an_interrupted_batch_leaves_the_collector_enabled(pipeline, collector_restored):
    gc.enable()

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        count = 20000
        while True:
            signal.setitimer(signal.ITIMER_REAL, 0.01)
            try:
                pipeline.convert_candidates_batch([SENTENCE] * count)
            except KeyboardInterrupt:
                break
            finally:
                signal.setitimer(signal.ITIMER_REAL, 0)
            count *= 2
    finally:
        signal.signal(signal.SIGALRM, previous)
    assert gc.isenabled()
