"""Delay from a signal (as from Ctrl-C) to KeyboardInterrupt in long calls.

For each batch method (a list of many short texts) and each single-text
method (one huge text), sizes the input so that the call would run about
--seconds uninterrupted, has the kernel signal the process --after seconds
into the call (SIGALRM, whose handler raises KeyboardInterrupt as SIGINT's
does), and prints how long the KeyboardInterrupt took to arrive. Texts come
from the bundled tables.

    python bench/signal_latency.py [--seconds 8] [--after 1] [--repeat 3]
"""

import argparse
import signal
import statistics
import time

import merrow

SENTENCE = "我哋今日去咗香港大學睇書，然後食飯，2024年3月5日用咗$100。"

BATCH = ["convert_batch", "convert_detailed_batch", "convert_candidates_batch"]
SINGLE = ["convert", "convert_detailed", "convert_candidates"]


def make_input(method, units):
    if method in BATCH:
        return [SENTENCE] * units
    return SENTENCE * units


def units_for(pipeline, method, seconds):
    """Input units (texts, or sentence repeats) for about `seconds` of work."""
    convert = getattr(pipeline, method)
    units = 256
    while True:
        started = time.perf_counter()
        convert(make_input(method, units))
        elapsed = time.perf_counter() - started
        if elapsed > 0.25:
            return int(units * seconds / elapsed), elapsed / units
        units *= 4


def delay_after_signal(convert, argument, after):
    """Seconds from a signal `after` seconds into convert(argument) to the
    KeyboardInterrupt its handler raises, and whether the call had returned
    by then (a call that never checks lets the handler run only once it is
    over). The kernel's interval timer sends the signal: a Python thread could
    not, as the call holds the interpreter lock throughout."""

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, interrupt)
    returned = False
    started = time.perf_counter()
    try:
        signal.setitimer(signal.ITIMER_REAL, after)
        convert(argument)
        returned = True
        time.sleep(max(0.0, started + after - time.perf_counter()) + 0.01)
    except KeyboardInterrupt:
        return time.perf_counter() - started - after, returned
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    return None, returned


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=8.0, help="uninterrupted length of each call")
    parser.add_argument("--after", type=float, default=1.0, help="signal this long into the call")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    pipeline = merrow.load()
    print(f"signal {args.after} s into calls sized to run {args.seconds} s; delays over {args.repeat} runs")
    for method in BATCH + SINGLE:
        units, per_unit = units_for(pipeline, method, args.seconds)
        argument = make_input(method, units)
        size = f"{units} texts" if method in BATCH else f"{len(argument.encode()) / 1e6:.1f} MB"
        runs = [delay_after_signal(getattr(pipeline, method), argument, args.after) for _ in range(args.repeat)]
        delays = [d for d, _ in runs if d is not None]
        shown = ", ".join(
            "finished before the signal" if d is None
            else f"{d * 1000:.1f} ms" + (" (call ran to its end)" if r else "")
            for d, r in runs
        )
        worst = f"max {max(delays) * 1000:.1f} ms, median {statistics.median(delays) * 1000:.1f} ms" if delays else ""
        print(f"{method:26} {size:>16} (~{units * per_unit:.1f} s): {shown}  [{worst}]", flush=True)
        # The pool (and the pipeline) must be fine afterwards.
        assert getattr(pipeline, method)(make_input(method, 3)) is not None


if __name__ == "__main__":
    main()
