"""Long calls give way to Ctrl-C (and any exception a signal handler raises),
and a fork from Python code run inside a batch leaves no child hanging."""

import json
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
    in; returns the delay from the signal to the exception, or None when the
    call was over before the signal."""

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        started = time.perf_counter()
        signal.setitimer(signal.ITIMER_REAL, SIGNAL_AFTER)
        try:
            call()
        except KeyboardInterrupt:
            return time.perf_counter() - started - SIGNAL_AFTER
        assert time.perf_counter() - started < SIGNAL_AFTER, "no KeyboardInterrupt from the signal"
        return None
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def delay_for(make_call, size):
    """interrupted_after() on make_call(size), with the input doubled while it
    is too small to last until the signal (the sizing runs may have been slow:
    a collection of many objects, a busy machine). Returns (delay, size)."""
    for _ in range(6):
        delay = interrupted_after(make_call(size))
        if delay is not None:
            return delay, size
        size *= 2
    raise AssertionError("every call ended before the signal")


def batch_delay(method):
    pipeline = merrow.load()
    convert = getattr(pipeline, method)
    count = sized(lambda s, n: convert([s] * n), SENTENCE)
    delay, count = delay_for(lambda n: lambda: convert([SENTENCE] * n), count)
    # The abandoned work is gone; the next calls get whole, correct results.
    small = [SENTENCE, "", "香港" * 50] * 7
    single = getattr(pipeline, method.removesuffix("_batch"))
    usable = convert(small) == [single(t) for t in small] and len(convert([SENTENCE] * 5000)) == 5000
    return {"delay": delay, "usable": usable}


def single_delay(method):
    pipeline = merrow.load()
    convert = getattr(pipeline, method)
    repeats = sized(lambda s, n: convert(s * n), SENTENCE)
    delay, repeats = delay_for(lambda n: lambda: convert(SENTENCE * n), repeats)
    started = time.perf_counter()
    convert(SENTENCE * repeats)
    left = time.perf_counter() - started - SIGNAL_AFTER
    return {"delay": delay, "left": left, "usable": convert(SENTENCE * 3) == convert(SENTENCE) * 3}


def in_fresh_interpreter(function, method):
    """Runs function(method) of this file in a new interpreter: signal
    delivery there depends on nothing that earlier tests left behind."""
    done = subprocess.run([sys.executable, __file__, function, method], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


@pytest.mark.parametrize("method", ["convert_batch", "convert_detailed_batch", "convert_candidates_batch"])
def test_batch_gives_way_to_a_signal_and_the_pool_goes_on(method):
    got = in_fresh_interpreter("batch_delay", method)
    assert got["delay"] < BOUND
    assert got["usable"]


@pytest.mark.parametrize("method", ["convert_detailed", "convert_candidates"])
def test_single_text_gives_way_while_its_records_are_built(method):
    # Only the building of result objects checks: the engine's own pass over
    # the rest of the text still runs (a fraction of the whole), so the bound
    # is relative to the time the call has left.
    got = in_fresh_interpreter("single_delay", method)
    assert got["delay"] < 0.6 * got["left"]
    assert got["usable"]


def handler_exception(method):
    pipeline = merrow.load()

    def fail(signum, frame):
        raise OSError("from the handler")

    signal.signal(signal.SIGALRM, fail)
    signal.setitimer(signal.ITIMER_REAL, SIGNAL_AFTER)
    try:
        for _ in range(50):  # until the signal lands inside a batch
            getattr(pipeline, method)([SENTENCE] * 20000)
    except OSError as e:
        return {"raised": str(e)}
    return {"raised": None}


def test_exception_in_a_handler_other_than_keyboard_interrupt():
    assert in_fresh_interpreter("handler_exception", "convert_detailed_batch") == {"raised": "from the handler"}


FORK_IN_HANDLER = """
import json, os, signal, sys, warnings
warnings.simplefilter("ignore", DeprecationWarning)
import merrow
p = merrow.load()
TEXTS = [{sentence!r}] * 200000
EXPECTED = p.{method}(TEXTS[:50])
child = []

def fork_once(signum, frame):
    if not child:
        child.append(os.fork())

# The handler runs on the batch's own thread while it builds its result
# objects, a second or so before the batch would end.
signal.signal(signal.SIGALRM, fork_once)
signal.setitimer(signal.ITIMER_REAL, 0.02)
try:
    got = p.{method}(TEXTS)
    outcome = "finished" if got == [got[0]] * len(TEXTS) else "wrong"
except RuntimeError as e:
    outcome = "RuntimeError: " + str(e)
if child and child[0] == 0:
    # The child's own pool converts the next batch.
    again = p.{method}(TEXTS[:50]) == EXPECTED
    print(json.dumps(["child", outcome, again]), flush=True)
    os._exit(0)
_, status = os.waitpid(child[0], 0)
print(json.dumps(["parent", outcome, os.waitstatus_to_exitcode(status)]), flush=True)
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer's runtime is not safe to fork from a process with running threads")
@pytest.mark.parametrize("method", ["convert_detailed_batch", "convert_candidates_batch"])
def test_fork_inside_a_batch_does_not_hang_the_child(method):
    code = textwrap.dedent(FORK_IN_HANDLER).format(sentence=SENTENCE, method=method)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    lines = sorted(json.loads(line) for line in done.stdout.splitlines())
    name = f"PyPipeline.{method}()"
    assert lines == [
        ["child", f"RuntimeError: {name} cannot go on in a process forked during the call: call it again in the child",
         True],
        ["parent", "finished", 0],
    ]


if __name__ == "__main__":
    print(json.dumps(globals()[sys.argv[1]](sys.argv[2])))
