"""Speed side by side: our three flavours and their batch forms against
ToJyutping (get_jyutping_list for every flavour, get_jyutping_candidates as
well for convert_candidates) and PyCantonese's characters_to_jyutping, on the
same texts, in one process and one run. Then, in fresh processes: the time of
`import merrow`, the cold start (import, construction, first conversion) and
resident memory, and the memory that a pipeline's shared str objects hold
after converting the whole development half.

Workloads: the HKCanCor development half (bundled with PyCantonese), one
utterance per call and joined into documents of 50 utterances, and a
number-heavy text (prices, dates, measurements, percentages). `convert`
runs with the bundled context model and, from a copy of the data without
char_context.bin, without it, in the same rounds; the ratio of the two is
printed. Peers: pip install '.[bench]'.

    python bench/compare.py [--rounds N]   (default 15; fewer for a quick look)
"""

import gc
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import hkcancor_gold  # noqa: E402
import synthetic  # noqa: E402

import merrow  # noqa: E402
from _merrow import PyPipeline  # noqa: E402

# Rounds per runner. The machine is shared and a round can be slowed by
# half by outside load: the fastest of many rounds is the stable figure.
REPEATS = 15
# ToJyutping's candidate call is several times slower than everything else.
SLOW_REPEATS = 5

LIST_PEER = "ToJyutping get_jyutping_list"
CANDIDATES_PEER = "ToJyutping get_jyutping_candidates"
FLAVOURS = ("convert", "convert_detailed", "convert_candidates")
MODEL_FILE = "char_context.bin"
NO_MODEL = "merrow convert, no context model"


def documents(texts, per_doc=50):
    return ["".join(texts[i:i + per_doc]) for i in range(0, len(texts), per_doc)]


def rates(runners, texts, rounds=REPEATS):
    """Characters per second of each runner over texts. The machine is
    shared: runners take turns within each round, and each keeps its fastest
    round, so a burst of outside load does not land on one runner alone.
    A runner given as (label, fn, n) takes part in the first n rounds only."""
    chars = sum(map(len, texts))
    best = {r[0]: float("inf") for r in runners}
    for i in range(rounds):
        for label, fn, *limit in runners:
            if limit and i >= limit[0]:
                continue
            t = time.perf_counter()
            fn(texts)
            best[label] = min(best[label], time.perf_counter() - t)
    return {label: chars / seconds for label, seconds in best.items()}


def each(method):
    return lambda texts: [method(t) for t in texts]


def dev_utterances():
    """Every utterance of the development half that has text, in file order
    (the scored subset of hkcancor_gold.load() leaves out those with digits)."""
    from pycantonese import CHAT

    out = []
    for path in hkcancor_gold.dev_files():
        for tokens in CHAT.from_files([path], parallel=False).tokens(by_utterance=True):
            text = hkcancor_gold._join_words([t.word for t in tokens if t.word])
            if text:
                out.append(text)
    return out


def corpora():
    """Documents only: what bench/engine_scaling.cpp reads."""
    dev = hkcancor_gold.load().utterances
    return {
        "HKCanCor dev documents": documents([u.text for u in dev]),
        "number-heavy documents": [synthetic.number_heavy_text(2000, seed=s) for s in range(100)],
    }


def merrow_runners(p):
    return [(f"merrow {name}", each(getattr(p, name))) for name in FLAVOURS] + [
        (f"merrow {name}_batch", getattr(p, f"{name}_batch")) for name in FLAVOURS
    ]


def print_table(name, texts, found):
    chars = sum(map(len, texts))
    print(f"\n{name}: {len(texts)} texts, {chars:,} characters ({chars / len(texts):.1f} per text)")
    base, cand = found[LIST_PEER], found[CANDIDATES_PEER]
    print(f"  {'':<36} {'M chars/s':>10} {'x list':>8} {'x candidates':>13}")
    for label, r in found.items():
        extra = f"{r / cand:>13.2f}" if "candidates" in label else ""
        print(f"  {label:<36} {r / 1e6:>10.2f} {r / base:>8.2f} {extra}")
    for flavour in FLAVOURS:
        ratio = found[f"merrow {flavour}_batch"] / found[f"merrow {flavour}"]
        print(f"  {flavour}_batch / {flavour}: {ratio:.2f}")
    if NO_MODEL in found:
        print(f"  convert with / without the context model: {found['merrow convert'] / found[NO_MODEL]:.2f}")


def without_model(scratch):
    """A pipeline on a copy of the bundled data without the context model."""
    data = os.path.join(scratch, "data")
    shutil.copytree(merrow.DATA_DIR, data)
    if os.path.exists(os.path.join(data, MODEL_FILE)):
        os.remove(os.path.join(data, MODEL_FILE))
    return PyPipeline(data_dir=data)


def kept_results(p, sentences, copies=4, rounds=3):
    """Every flavour with records, one call per text and as one batch, over
    `copies` passes of the sentences with every result kept until the end,
    with the cycle collector on and off: what a caller that keeps its records
    pays the collector. A batch pauses the collector while it builds its
    result; the collection of the young generation that follows the call
    (where the paused work lands) is timed with it."""
    texts = sentences * copies
    chars = sum(map(len, texts))
    names = ("convert_detailed", "convert_candidates", "convert_detailed_batch", "convert_candidates_batch")
    best = {}
    for _ in range(rounds):
        for name in names:
            method = getattr(p, name)
            fn = method if name.endswith("_batch") else each(method)
            for collect in (True, False):
                if not collect:
                    gc.disable()
                t = time.perf_counter()
                kept = fn(texts)
                if collect and name.endswith("_batch"):
                    gc.collect(0)
                elapsed = time.perf_counter() - t
                gc.enable()
                del kept
                best[name, collect] = min(best.get((name, collect), float("inf")), elapsed)
    print(f"\nresults kept: {len(texts)} texts, {chars:,} characters, every result held until the end")
    print(f"  {'':<36} {'M chars/s':>10} {'collector on / off':>19}")
    for name in names:
        on, off = best[name, True], best[name, False]
        print(f"  {'merrow ' + name:<36} {chars / on / 1e6:>10.2f} {off / on:>19.2f}")


IMPORT_TIME = r"""
import time
t = time.perf_counter()
import merrow
print(time.perf_counter() - t)
"""

COLD_START = r"""
import time
t = time.perf_counter()
import merrow
p = merrow.load()
p.convert("我哋今日去銀行攞錢。")
elapsed = time.perf_counter() - t
rss = next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmRSS:"))
print(elapsed, rss)
"""

# Converts the texts of argv[1] (a JSON list) with every method of one
# pipeline, keeping no result, and prints the growth of anonymous resident
# memory (kB) and of the bytes traced by tracemalloc: with nothing else kept,
# the growth is what the pipeline holds on to. tracemalloc sees Python's
# allocators only, and runs in its own process (argv[2] == "traced") since it
# costs memory of its own.
SHARED_TABLE = r"""
import gc, json, sys, tracemalloc
import merrow
texts = json.load(open(sys.argv[1], encoding="utf-8"))
def anon():
    return next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("RssAnon:"))
def run_all(p):
    for name in ("convert", "convert_detailed", "convert_candidates"):
        method = getattr(p, name)
        for t in texts:
            method(t)
        getattr(p, name + "_batch")(texts)
# A first pipeline takes the allocators to the peak that the conversions
# themselves need; then it goes, and its twin is measured.
run_all(merrow.load())
p = merrow.load()
gc.collect()
traced = sys.argv[2] == "traced"
if traced:
    tracemalloc.start()
before = tracemalloc.get_traced_memory()[0] if traced else anon()
run_all(p)
gc.collect()
after = tracemalloc.get_traced_memory()[0] if traced else anon() * 1024
print(after - before * (1 if traced else 1024))
"""


def best_of(script, runs, *args):
    subprocess.run([sys.executable, "-c", script, *args], check=True, capture_output=True)  # warm the page cache
    outs = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", script, *args], check=True, capture_output=True, text=True)
        outs.append(out.stdout.split())
    return outs


def fresh_process_figures(sentences, runs=9):
    imports = [float(o[0]) for o in best_of(IMPORT_TIME, 15)]
    print(f"\nimport merrow (fresh process, page cache warm): {min(imports) * 1e3:.1f} ms best of {len(imports)}")
    cold = best_of(COLD_START, runs)
    elapsed = sorted(float(o[0]) for o in cold)[len(cold) // 2]
    rss = sorted(int(o[1]) for o in cold)[len(cold) // 2]
    print(f"cold start (import + construction + first conversion): {elapsed * 1e3:.1f} ms median; "
          f"resident memory after loading: {rss / 1024:.1f} MiB")
    with tempfile.NamedTemporaryFile("w", suffix=".json", encoding="utf-8", delete=False) as f:
        json.dump(sentences, f, ensure_ascii=False)
    try:
        traced = int(best_of(SHARED_TABLE, 1, f.name, "traced")[0][0])
        anon = sorted(int(o[0]) for o in best_of(SHARED_TABLE, 3, f.name, "anon"))[1]
    finally:
        os.unlink(f.name)
    print(f"shared str objects and the resolution memo after every method over the development half's utterances: "
          f"{traced / 1024:.0f} KiB traced by tracemalloc, "
          f"{anon / 1024:.0f} KiB anonymous resident growth (median of 3)")


def main():
    if sys.argv[1:2] == ["--dump-documents"]:
        # For bench/engine_scaling.cpp: both texts' documents, one per line.
        with open(sys.argv[2], "w", encoding="utf-8") as out:
            for docs in corpora().values():
                out.writelines(doc + "\n" for doc in docs)
        return
    rounds = int(sys.argv[2]) if sys.argv[1:2] == ["--rounds"] else REPEATS

    from pycantonese import characters_to_jyutping
    import ToJyutping

    sentences = dev_utterances()
    texts = {"HKCanCor dev utterances, one per call": sentences, **corpora()}
    # The corpus reader leaves a million objects behind; freeze them so that
    # the collector's passes during the runs below do not walk them again and
    # again (every runner creates objects and would pay for it).
    gc.collect()
    gc.freeze()
    p = merrow.load()
    scratch = tempfile.TemporaryDirectory()
    runners = merrow_runners(p)
    runners[1:1] = [(NO_MODEL, each(without_model(scratch.name).convert))]
    runners += [
        (LIST_PEER, each(ToJyutping.get_jyutping_list)),
        (CANDIDATES_PEER, each(ToJyutping.get_jyutping_candidates), min(rounds, SLOW_REPEATS)),
    ]
    for name, docs in texts.items():
        found = rates(runners, docs, rounds=rounds)
        # PyCantonese is far slower: measure it on a tenth of the texts.
        slow = [("PyCantonese characters_to_jyutping", each(characters_to_jyutping))]
        found.update(rates(slow, docs[: max(1, len(docs) // 10)], rounds=1))
        print_table(name, docs, found)

    kept_results(p, sentences, rounds=min(rounds, 3))
    fresh_process_figures(sentences, runs=min(rounds, 9))


if __name__ == "__main__":
    main()
