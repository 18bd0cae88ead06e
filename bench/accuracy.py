#!/usr/bin/env python3
"""Character accuracy on the development sets, ours beside the tools users pick today.

    pip install '.[bench]'
    python bench/accuracy.py                 # A raw, A modernised and B
    python bench/accuracy.py --errors 20     # and our most frequent errors on B

Development sets (bench/dev_sets.py): A is HKCanCor's development half, raw
and with its old particle spellings modernised (bench/modern_spelling.tsv);
B is the words.hk example sentences, read at run time from outside the
repository (set MERROW_DEV_DATA to its directory if it is not found).

Systems, all on the same utterance texts:
- merrow convert, without and with the context model: the plain output of
  `PyPipeline.convert` on the data directory without char_context.bin (a
  temporary copy) and as it is, where the engine applies the model;
- ToJyutping (`tojyutping`): `get_jyutping_list`;
- PyCantonese (`pycantonese`): `characters_to_jyutping`. Its readings are
  built from HKCanCor itself, so it is reported but is no target.

Scoring (bench/hkcancor_gold.py): utterances with digits are skipped; every
Han character has one gold syllable. A system's output is aligned to the Han
characters token by token, a token's reading having one syllable per Han
character of the token; an utterance whose syllables do not align counts as
wholly wrong. Romanisation is normalised on both sides in the same way: the
ng-/null initial merger (ngaam1 = aam1, ngo5 = o5) and the old spelling
"yu" for "jyu"; see hkcancor_gold.normalise. Accuracy is reported with and
without tones, with characters per second over the same texts. Below the
table: the model file's size, and the speed of `convert` with the model as a
share of its speed without it, on A's texts joined into documents and one
sentence per call (bench/compare.py's interleaved rounds, in this run).

HKCanCor's second half is reserved for independent evaluation outside this
repository; nothing here reads it.
"""

from __future__ import annotations

import argparse
import collections
import os
import shutil
import sys
import tempfile
import time
from typing import Callable, Dict, List, Optional, Sequence, Tuple

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dev_sets  # noqa: E402
import hkcancor_gold as gold  # noqa: E402

# A system: a call that converts the texts (the part that is timed) and a
# function that turns its raw results into one reading per Han character.
System = Tuple[Callable[[List[str]], list], Callable[[List[str], list], List[Optional[List[Optional[str]]]]]]


def align_tokens(tokens: Sequence[Tuple[str, Optional[str]]]) -> Optional[List[Optional[str]]]:
    """One reading per Han character from (token, reading) pairs, or None when
    a token's reading does not have one syllable per Han character."""
    out: List[Optional[str]] = []
    for token, reading in tokens:
        n = sum(1 for ch in token if gold.is_han(ch))
        if n == 0:
            continue
        if reading is None:
            out.extend([None] * n)
            continue
        syllables = reading.split(" ") if " " in reading else gold.split_syllables(reading)
        if syllables is None or len(syllables) != n:
            return None
        out.extend(syllables)
    return out


def merrow_convert(pipeline) -> System:
    def align(texts, plain):
        # The token boundaries of the plain output are those of the detailed
        # flavour (both cut the text the same way); fetched outside the timing.
        detailed = pipeline.convert_detailed_batch(texts)
        return [_split_plain(p, d) for p, d in zip(plain, detailed)]

    return pipeline.convert_batch, align


def _split_plain(plain: str, detailed) -> Optional[List[Optional[str]]]:
    """Cuts `convert`'s output back into tokens: a Han token takes one piece
    per character, any other token one piece, which must be the token."""
    pieces = plain.split(" ") if plain else []
    pairs = []
    i = 0
    for token, _, _, _, _ in detailed:
        han = any(gold.is_han(ch) for ch in token)
        n = len(token) if han else 1
        if i + n > len(pieces):
            return None
        chunk = pieces[i:i + n]
        i += n
        if not han:
            if chunk[0] != token:
                return None
            continue
        pairs.append((token, " ".join(chunk)))
    if i != len(pieces):
        return None
    return align_tokens(pairs)


def tojyutping() -> System:
    import ToJyutping

    def call(texts):
        return [ToJyutping.get_jyutping_list(t) for t in texts]

    return call, lambda texts, raw: [align_tokens(r) for r in raw]


def pycantonese() -> System:
    import pycantonese as pc

    def call(texts):
        return [pc.characters_to_jyutping(t) for t in texts]

    return call, lambda texts, raw: [align_tokens(r) for r in raw]


def run(system: System, utterances: List[gold.Utterance], errors: collections.Counter):
    call, align = system
    texts = [u.text for u in utterances]
    started = time.perf_counter()
    raw = call(texts)
    elapsed = time.perf_counter() - started
    score = gold.Score()
    for u, p in zip(utterances, align(texts, raw)):
        gold.score_one(score, u, p)
        for key in gold.errors(u, p):
            errors[key] += 1
    return score, sum(len(t) for t in texts), elapsed


def load_sets() -> List[Tuple[str, Optional[gold.Loaded]]]:
    sets: List[Tuple[str, Optional[gold.Loaded]]] = [
        ("A raw", dev_sets.set_a()),
        ("A modernised", dev_sets.set_a(modern=True)),
        ("B", dev_sets.set_b()),
    ]
    for name, loaded in sets:
        print(dev_sets.describe(name, loaded) if loaded is not None else f"{name}: {dev_sets.set_b_missing_message()}")
    return sets


WITH_MODEL = "merrow convert, context model"


def speed_ratios(with_model, without_model, texts: List[str]) -> Dict[str, float]:
    """convert's characters per second with the model over those without it,
    in interleaved rounds (bench/compare.py), on documents and sentences."""
    import compare

    out = {}
    for name, docs in (("documents", compare.documents(texts)), ("sentences", texts)):
        found = compare.rates([("with", compare.each(with_model.convert)),
                               ("without", compare.each(without_model.convert))], docs)
        out[name] = found["with"] / found["without"]
    return out


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--errors", type=int, default=20, help="list the N most frequent errors of ours on B")
    parser.add_argument("--data-dir", help="dictionary directory (default: the bundled data)")
    parser.add_argument("--skip-peers", action="store_true", help="measure only merrow")
    args = parser.parse_args(argv)

    import merrow
    from _merrow import PyPipeline

    data_dir = args.data_dir or merrow.DATA_DIR
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
    import context_model

    model_path = os.path.join(data_dir, context_model.FILE_NAME)
    has_model = os.path.isfile(model_path)
    scratch = tempfile.TemporaryDirectory()
    without_dir = os.path.join(scratch.name, "data")
    shutil.copytree(data_dir, without_dir)
    if has_model:
        os.remove(os.path.join(without_dir, context_model.FILE_NAME))
        print(f"context model: {model_path}, {os.path.getsize(model_path):,} bytes")
    with_model = PyPipeline(data_dir=data_dir)
    without_model = PyPipeline(data_dir=without_dir)
    sets = load_sets()

    systems: List[Tuple[str, Callable[[], System]]] = [("merrow convert, no context model",
                                                         lambda: merrow_convert(without_model))]
    if has_model:
        systems.append((WITH_MODEL, lambda: merrow_convert(with_model)))
    if not args.skip_peers:
        systems += [("ToJyutping 3.2.0", tojyutping), ("PyCantonese 5.0.0 (built from HKCanCor)", pycantonese)]

    print("\ncharacter accuracy with tones (without tones in brackets); misaligned utterances count as wrong")
    print(f"{'system':42}" + "".join(f" {name:>18}" for name, _ in sets) + f" {'chars/s':>11}")
    all_errors: Dict[Tuple[str, str], collections.Counter] = {}
    for name, make in systems:
        system = make()
        cells = []
        chars = 0
        elapsed = 0.0
        for set_name, loaded in sets:
            if loaded is None:
                cells.append(f"{'n/a':>18}")
                continue
            errors: collections.Counter = collections.Counter()
            score, n, t = run(system, loaded.utterances, errors)
            all_errors[(name, set_name)] = errors
            chars += n
            elapsed += t
            cells.append(f" {100 * score.accuracy:6.2f}% ({100 * score.accuracy_toneless:6.2f}%)".rjust(18))
        speed = chars / elapsed if elapsed > 0 else float("inf")
        print(f"{name:42}" + " ".join([""] + cells) + f" {speed:>11,.0f}")

    if has_model:
        print("(the context model is trained on A: its A columns are in-sample; "
              "tools/train_context_model.py prints its cross-validated gain on A)")
        print(f"context model file: {os.path.getsize(model_path):,} bytes")
        a = dict(sets)["A raw"]
        if a is not None:
            for name, ratio in speed_ratios(with_model, without_model, [u.text for u in a.utterances]).items():
                print(f"convert speed with the model / without it, {name}: {ratio:.2f}")
    ours = WITH_MODEL if has_model else "merrow convert, no context model"
    errs = all_errors.get((ours, "B"))
    if args.errors and errs is not None:
        print(f"\n{args.errors} most frequent errors of {ours} on B "
              f"({sum(errs.values())} in all; count, character, gold, ours):")
        for (ch, g, got), n in errs.most_common(args.errors):
            print(f"  {n:5}  {ch}  {g:8} {got}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
