#!/usr/bin/env python3
"""Development measurements for the dictionary builder, on the development
sets A modernised and B (bench/dev_sets.py).

    python tools/dev_measure.py orders             # compare layer orders
    python tools/dev_measure.py oral-hk            # effect of each oral_hk entry
    python tools/dev_measure.py oral-hk --rewrite  # record it in oral_hk.tsv, drop failures
    python tools/dev_measure.py suggest            # readings both sets disagree with

The rule: a curated entry or a layer order is kept only if it removes more
errors than it adds on both sets. Set B is read for measurement only.

Tables are built in memory and read by ``SimulatedEngine``, a small model of
the engine's greedy longest-match segmentation and reading lookups over Han
runs (the only parts that decide the reading of a Han character), so many
variants can be compared without writing or installing files. The figures
reported for the shipped data come from bench/accuracy.py, which runs the
real module.
"""

from __future__ import annotations

import argparse
import collections
import os
import sys
from typing import Dict, List, Mapping, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "bench"))

import dev_sets  # noqa: E402
import hkcancor_gold as gold  # noqa: E402
from dictionary_layers import MAX_WORD_CHARS, Sources, resolve_entry  # noqa: E402


class SimulatedEngine:
    """Readings of the Han characters of a text, as the engine would give them."""

    def __init__(self, tables: Mapping[str, Mapping[str, str]]):
        self.word = tables["word"]
        self.char = tables["char"]
        self.word_candidates = tables.get("word_candidates", {})
        self.char_candidates = tables.get("char_candidates", {})

    def han_tokens(self, text: str) -> List[str]:
        tokens: List[str] = []
        run = ""
        for ch in text + "\0":
            if gold.is_han(ch):
                run += ch
                continue
            while run:
                length = 1
                for n in range(min(MAX_WORD_CHARS, len(run)), 0, -1):
                    if run[:n] in self.word:
                        length = n
                        break
                tokens.append(run[:length])
                run = run[length:]
        return tokens

    def plain(self, token: str) -> str:
        if token in self.word:
            return self.word[token]
        return " ".join(self.word.get(c) or self.char.get(c) or c for c in token)

    def first_candidate(self, token: str) -> str:
        if token in self.word_candidates:
            return self.word_candidates[token].split("|")[0]
        if token in self.word:
            return self.word[token]
        if len(token) == 1:
            if token in self.char_candidates:
                return self.char_candidates[token].split("|")[0]
            if token in self.char:
                return self.char[token]
        return self.plain(token)

    def readings(self, text: str, detailed: bool = False) -> Tuple[List[str], Optional[List[str]]]:
        """Han tokens and one syllable per Han character (None if misaligned)."""
        tokens = self.han_tokens(text)
        out: List[str] = []
        for token in tokens:
            reading = self.first_candidate(token) if detailed else self.plain(token)
            syllables = reading.split(" ")
            if len(syllables) != len(token):
                return tokens, None
            out.extend(syllables)
        return tokens, out


def evaluate(tables, utterances, detailed=False) -> gold.Score:
    engine = SimulatedEngine(tables)
    score = gold.Score()
    for u in utterances:
        gold.score_one(score, u, engine.readings(u.text, detailed)[1])
    return score


def fmt(score: gold.Score) -> str:
    return (f"tones {100 * score.accuracy:6.2f}%  no tones {100 * score.accuracy_toneless:6.2f}%"
            f"  misaligned utterances {score.misaligned}")


ORDERS = {
    "default": (("oral_hk", "tojyutping", "rime", "unihan"), None),
    "context-first": (("oral_hk", "tojyutping", "rime", "tojyutping_tiebreak", "unihan"), None),
    "rime-first": (("oral_hk", "rime", "tojyutping", "unihan"), None),
    "rime-words": (("oral_hk", "rime", "tojyutping", "unihan"), ("oral_hk", "tojyutping", "rime", "unihan")),
}

# name -> utterances, in the order the rule checks them.
DevSets = Dict[str, List[gold.Utterance]]


def cmd_orders(src: Sources, sets: DevSets) -> None:
    import build_dictionaries

    for name, (order, char_order) in ORDERS.items():
        tables = build_dictionaries.build_tables(src, order, char_order)
        for set_name, utterances in sets.items():
            print(f"{name:14} {set_name:13} convert  {fmt(evaluate(tables, utterances))}")
            print(f"{'':14} {'':13} detailed {fmt(evaluate(tables, utterances, True))}")


def token_gold(engine: SimulatedEngine, utterances):
    """token -> Counter of gold readings, over the tokens the engine makes."""
    seen: Dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    for u in utterances:
        i = 0
        for t in engine.han_tokens(u.text):
            seen[t][" ".join(u.gold[i:i + len(t)])] += 1
            i += len(t)
    return seen


def cmd_suggest(src: Sources, sets: DevSets, order, min_gain: int, min_each: int) -> None:
    """Tokens whose reading, replaced by one gold reading, would gain at least
    ``min_each`` characters on every set and ``min_gain`` in all: gain =
    characters right afterwards minus characters right before. Printed as
    oral_hk lines (key, reading, note with the current default)."""
    import build_dictionaries

    engine = SimulatedEngine(build_dictionaries.build_tables(src, order))
    seen = {name: token_gold(engine, utterances) for name, utterances in sets.items()}
    rows = []
    for token in sorted(set().union(*(s.keys() for s in seen.values()))):
        current = gold.normalise_reading(engine.plain(token))
        options = set().union(*(s.get(token, {}).keys() for s in seen.values())) - {current}
        best = None
        for reading in sorted(options):
            gains = [len(token) * (s.get(token, {}).get(reading, 0) - s.get(token, {}).get(current, 0))
                     for s in seen.values()]
            good = min(gains) >= max(min_each, 1) and sum(gains) >= min_gain
            if good and (best is None or sum(gains) > sum(best[1])):
                best = (reading, gains)
        if best is not None:
            rows.append((sum(best[1]), token, best[0], f"suggested; default {engine.plain(token)}; "
                         + " ".join(f"{n} {g:+d}" for n, g in zip(seen, best[1]))))
    for _, token, reading, note in sorted(rows, key=lambda r: (-r[0], r[1])):
        print(token, reading, note, sep="\t")


def entry_effects(src: Sources, sets: DevSets, order) -> Dict[str, Dict[str, Tuple[int, int]]]:
    """key -> set name -> (errors removed, errors added) by each oral_hk entry,
    measured against the same tables with only that entry left out."""
    import build_dictionaries

    full = build_dictionaries.build_tables(src, order)
    with_engine = SimulatedEngine(full)
    effects: Dict[str, Dict[str, Tuple[int, int]]] = {}
    for key in sorted(src.oral_hk):
        without = Sources(
            oral_hk={k: v for k, v in src.oral_hk.items() if k != key},
            tojyutping_chars=src.tojyutping_chars,
            tojyutping_words=src.tojyutping_words,
            rime=src.rime,
            unihan=src.unihan,
        )
        level = "char" if len(key) == 1 else "word"
        patched = dict(full[level])
        entry = resolve_entry(key, without, order)
        if entry is None:
            patched.pop(key, None)
        else:
            patched[key] = entry.reading
        without_engine = SimulatedEngine(dict(full, **{level: patched}))
        effects[key] = {}
        for name, utterances in sets.items():
            removed = added = 0
            for u in utterances:
                if key not in u.text:
                    continue
                a = set(_wrong_positions(u, with_engine.readings(u.text)[1]))
                b = set(_wrong_positions(u, without_engine.readings(u.text)[1]))
                removed += len(b - a)
                added += len(a - b)
            effects[key][name] = (removed, added)
    return effects


def passes(effect: Mapping[str, Tuple[int, int]]) -> bool:
    return all(removed > added for removed, added in effect.values())


def measurement_note(effect: Mapping[str, Tuple[int, int]]) -> str:
    return "; ".join(f"{name} removes {r} adds {a}" for name, (r, a) in effect.items())


def rewrite_oral_hk(path: str, effects: Mapping[str, Mapping[str, Tuple[int, int]]]) -> None:
    """Records each entry's measurements in its note and drops the entries
    that fail the rule. The note keeps its first two parts (kind, default)."""
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if line.startswith("#") or len(fields) < 2 or fields[0] not in effects:
                out.append(line)
                continue
            effect = effects[fields[0]]
            if not passes(effect):
                continue
            note = fields[2].split("; ")[:2] if len(fields) > 2 else []
            out.append("\t".join(fields[:2] + ["; ".join(note + [measurement_note(effect)])]) + "\n")
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(out)


def cmd_oral_hk(src: Sources, sets: DevSets, order, rewrite: Optional[str]) -> int:
    effects = entry_effects(src, sets, order)
    bad = 0
    for key, effect in effects.items():
        verdict = "ok" if passes(effect) else "REJECT"
        bad += verdict != "ok"
        print(f"{key}\t{src.oral_hk[key]}\t{measurement_note(effect)}\t{verdict}")
    for name in sets:
        print(f"total {name}: removes {sum(e[name][0] for e in effects.values())}, "
              f"adds {sum(e[name][1] for e in effects.values())}")
    print(f"{bad} entries fail the rule")
    if rewrite:
        rewrite_oral_hk(rewrite, effects)
        print(f"rewrote {rewrite}")
    return 1 if bad and not rewrite else 0


def _wrong_positions(u, predicted):
    if predicted is None:
        return list(range(len(u.gold)))
    return [i for i, (g, p) in enumerate(zip(u.gold, predicted)) if gold.normalise(p) != g]


def load_dev_sets() -> DevSets:
    b = dev_sets.set_b()
    if b is None:
        raise SystemExit(dev_sets.set_b_missing_message())
    sets = {"A-mod": dev_sets.set_a(modern=True).utterances, "B": b.utterances}
    for name, utterances in sets.items():
        print(f"{name}: {len(utterances)} utterances, {sum(len(u.gold) for u in utterances)} Han characters",
              file=sys.stderr)
    return sets


def main(argv=None) -> int:
    import build_dictionaries

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=("orders", "oral-hk", "suggest", "score"))
    parser.add_argument("--min-gain", type=int, default=6, help="suggest: least gain over all sets")
    parser.add_argument("--min-each", type=int, default=2, help="suggest: least gain on every set")
    parser.add_argument("--rewrite", action="store_true",
                        help="oral-hk: record the measurements in oral_hk.tsv and drop failing entries")
    args = parser.parse_args(argv)
    sets = load_dev_sets()
    src = build_dictionaries.load_sources(log=lambda *a: print(*a, file=sys.stderr))
    order = build_dictionaries.LAYER_ORDER
    if args.command == "orders":
        cmd_orders(src, sets)
    elif args.command == "suggest":
        cmd_suggest(src, sets, order, args.min_gain, args.min_each)
    elif args.command == "oral-hk":
        return cmd_oral_hk(src, sets, order, build_dictionaries.ORAL_HK if args.rewrite else None)
    else:
        tables = build_dictionaries.build_tables(src)
        for name, utterances in sets.items():
            print(f"{name:6} convert  {fmt(evaluate(tables, utterances))}")
            print(f"{'':6} detailed {fmt(evaluate(tables, utterances, True))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
