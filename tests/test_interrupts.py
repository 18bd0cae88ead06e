"""Long calls give way to Ctrl-C (and any exception a signal handler raises),
and a fork from Python code run inside a batch leaves no child hanging."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import merrow

SENTENCE = "我哋今日去咗香港大學睇書，然後食飯，2024年3月5日用咗$100。"
SIGNAL_AFTER = 0.5  # seconds into the call
# Generous: the calls below are sized to run about 4 s uninterrupted, so a call
# that only notices the signal at its end misses this by far.
BOUND = 2.0
UNINTERRUPTED = 4.0

pytestmark = pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs signal.setitimer")


@pytest.fixture(scope="module")
def pipeline():
    return merrow.load()


def sized(run, unit):
    """How many units of input make `run` last about UNINTERRUPTED seconds,
    from the time a small input takes."""
    count = 256
    while True:
        started = time.perf_counter()
        run(unit, count)
        elapsed = time.perf_counter() - started
        if elapsed > 0.1:
            return max(count, int(count * UNINTERRUPTED / elapsed))
        count *= 4


def interrupted_after(call):
    """Runs call() with SIGALRM raising KeyboardInterrupt SIGNAL_AFTER seconds
    in; returns the delay from the signal to the exception."""

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        started = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, SIGNAL_AFTER)
        with pytest.raises(KeyboardInterrupt):
            call()
        return time.perf_counter() - started - SIGNAL_AFTER
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


@pytest.mark.parametrize("method", ["convert_batch", "convert_detailed_batch", "convert_candidates_batch"])
def test_batch_gives_way_to_a_signal_and_the_pool_goes_on(pipeline, method):
    convert = getattr(pipeline, method)
    count = sized(lambda s, n: convert([s] * n), SENTENCE)
    texts = [SENTENCE] * count
    assert interrupted_after(lambda: convert(texts)) < BOUND
    # The abandoned work is gone; the next calls get whole, correct results.
    small = [SENTENCE, "", "香港" * 50] * 7
    single = getattr(pipeline, method.removesuffix("_batch"))
    assert convert(small) == [single(t) for t in small]
    assert len(convert(texts[:5000])) == 5000


@pytest.mark.parametrize("method", ["convert_detailed", "convert_candidates"])
def test_single_text_gives_way_while_its_records_are_built(pipeline, method):
    # Only the building of result objects checks: the engine's own pass over
    # the rest of the text still runs (a fraction of the whole), so the bound
    # is relative to the time the call has left.
    convert = getattr(pipeline, method)
    repeats = sized(lambda s, n: convert(s * n), SENTENCE)
    text = SENTENCE * repeats
    started = time.perf_counter()
    convert(text)
    left = time.perf_counter() - started - SIGNAL_AFTER
    assert interrupted_after(lambda: convert(text)) < 0.6 * left
    assert convert(SENTENCE * 3) == convert(SENTENCE) * 3


def test_exception_in_a_handler_other_than_keyboard_interrupt(pipeline):
    def fail(signum, frame):
        raise OSError("from the handler")

    previous = signal.signal(signal.SIGALRM, fail)
    try:
        signal.setitimer(signal.ITIMER_REAL, SIGNAL_AFTER)
        with pytest.raises(OSError, match="from the handler"):
            while True:  # until the signal lands inside a batch
                pipeline.convert_detailed_batch([SENTENCE] * 20000)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


FORK_IN_FINALISER = """
import gc, json, os, sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
import merrow
p = merrow.load()
TEXTS = [{sentence!r}] * 20000
EXPECTED = p.{method}(TEXTS[:50])
child = []

class ForksWhenCollected:
    def __del__(self):
        child.append(os.fork())

# A cycle that only the collector frees: it runs while the batch builds its
# result objects, on the batch's own thread.
a = ForksWhenCollected()
a.cycle = a
del a
gc.set_threshold(5000)  # well after the batch has started
try:
    got = p.{method}(TEXTS)
    outcome = "finished" if got == [got[0]] * len(TEXTS) else "wrong"
except RuntimeError as e:
    outcome = "RuntimeError: " + str(e)
gc.set_threshold(700)
if child and child[0] == 0:
    # The child's own pool converts the next batch.
    again = p.{method}(TEXTS[:50]) == EXPECTED
    print(json.dumps(["child", outcome, again]), flush=True)
    os._exit(0)
_, status = os.waitpid(child[0], 0)
print(json.dumps(["parent", outcome, os.waitstatus_to_exitcode(status)]), flush=True)
"""


@pytest.mark.parametrize("method", ["convert_detailed_batch", "convert_candidates_batch"])
def test_fork_inside_a_batch_does_not_hang_the_child(method):
    import json

    code = textwrap.dedent(FORK_IN_FINALISER).format(sentence=SENTENCE, method=method)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = sorted(json.loads(line) for line in done.stdout.splitlines())
    name = f"PyPipeline.{method}()"
    assert lines == [
        ["child", f"RuntimeError: {name} cannot go on in a process forked during the call: call it again in the child",
         True],
        ["parent", "finished", 0],
    ]
