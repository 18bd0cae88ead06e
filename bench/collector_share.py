"""How much of a per-sentence call the cycle collector takes, by flavour.

Runs the three flavours and ToJyutping's get_jyutping_list over the HKCanCor
development half's utterances, one call each with every result kept until
the round ends, and times the collector's passes by generation through
gc.callbacks within each runner's fastest round. Then, for one round's kept
results of each, counts the objects the collector tracks and times one full
collection over them.

A record of convert_candidates is a tuple holding a new list, and both stay
tracked (a caller may close a cycle through the list), while the peer's
tuples hold only strs and leave the collector's lists at their first young
collection: the collector's share is what separates the two.

    python bench/collector_share.py [--rounds N]   (default 9)
"""

import gc
import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from compare import FLAVOURS, LIST_PEER, dev_utterances  # noqa: E402

import merrow  # noqa: E402


class CollectorClock:
    """Seconds of the collector per generation while `counting`."""

    def __init__(self):
        self.counting = False
        self.spent = [0.0, 0.0, 0.0]
        self._started = 0.0

    def __call__(self, phase, info):
        if phase == "start":
            self._started = time.perf_counter()
        elif self.counting:
            self.spent[info["generation"]] += time.perf_counter() - self._started

    def round(self, fn, texts, collect=True):
        """Seconds of one round of fn over texts, each result kept until the
        round ends, and the collector's seconds per generation within it."""
        self.spent = [0.0, 0.0, 0.0]
        self.counting = True
        if not collect:
            gc.disable()
        try:
            started = time.perf_counter()
            kept = [fn(t) for t in texts]
            del kept
            return time.perf_counter() - started, self.spent
        finally:
            self.counting = False
            gc.enable()


def full_collection(fn, texts):
    """Tracked objects while one round's results are kept, and the seconds
    of one full collection over them. A first collection lets the objects
    that the collector drops from its lists when it first meets them (tuples
    of strs only) go, as they do in a long run."""
    gc.disable()
    try:
        kept = [fn(t) for t in texts]
        gc.collect()
        tracked = len(gc.get_objects())
        started = time.perf_counter()
        gc.collect()
        seconds = time.perf_counter() - started
        del kept
    finally:
        gc.enable()
    return tracked, seconds


def main():
    rounds = int(sys.argv[2]) if sys.argv[1:2] == ["--rounds"] else 9
    import ToJyutping

    sentences = dev_utterances()
    # As in bench/compare.py: the corpus reader's objects are not walked.
    gc.collect()
    gc.freeze()
    p = merrow.load()
    methods = [(f"merrow {name}", getattr(p, name)) for name in FLAVOURS]
    methods.append((LIST_PEER, ToJyutping.get_jyutping_list))

    clock = CollectorClock()
    gc.callbacks.append(clock)
    best = {}
    try:
        # Runners take turns within each round; each keeps its fastest round.
        for _ in range(rounds):
            for label, fn in methods:
                for collect in (True, False):
                    gc.collect()
                    seconds, spent = clock.round(fn, sentences, collect)
                    key = (label, collect)
                    if key not in best or seconds < best[key][0]:
                        best[key] = (seconds, spent)
    finally:
        gc.callbacks.remove(clock)

    chars = sum(map(len, sentences))
    print(f"HKCanCor dev utterances, one per call: {len(sentences)} texts, {chars:,} characters; "
          f"fastest of {rounds} rounds, results kept until the round ends")
    print(f"  {'':<32} {'M chars/s':>10} {'collector ms, young / middle / full':>36} {'share':>6} "
          f"{'x list':>7} {'collector off: M chars/s':>25} {'x list':>7}")
    peer_on, peer_off = best[LIST_PEER, True][0], best[LIST_PEER, False][0]
    for label, _ in methods:
        seconds, spent = best[label, True]
        off = best[label, False][0]
        ms = " / ".join(f"{s * 1e3:.1f}" for s in spent)
        print(f"  {label:<32} {chars / seconds / 1e6:>10.2f} {ms:>36} {sum(spent) / seconds:>6.0%} "
              f"{peer_on / seconds:>7.2f} {chars / off / 1e6:>25.2f} {peer_off / off:>7.2f}")

    print("\none round's results kept: tracked objects, one full collection over them")
    for label, fn in methods:
        tracked, seconds = min((full_collection(fn, sentences) for _ in range(3)), key=lambda r: r[1])
        print(f"  {label:<32} {tracked:>9,} objects {seconds * 1e3:>6.1f} ms "
              f"({seconds / tracked * 1e9:.0f} ns per object)")


if __name__ == "__main__":
    main()
