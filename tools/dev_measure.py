#!/usr/bin/env python3
"""Development measurements for the dictionary builder, on HKCanCor's
development half only (bench/hkcancor_gold.py).

    python tools/dev_measure.py orders      # compare layer orders
    python tools/dev_measure.py oral-hk     # effect of each oral_hk entry
    python tools/dev_measure.py suggest     # readings the dev set disagrees with

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

import hkcancor_gold as gold  # noqa: E402
from dictionary_layers import MAX_WORD_CHARS, Sources  # noqa: E402


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


def cmd_orders(src: Sources, utterances) -> None:
    import build_dictionaries

    for name, (order, char_order) in ORDERS.items():
        tables = build_dictionaries.build_tables(src, order, char_order)
        print(f"{name:14} convert  {fmt(evaluate(tables, utterances))}")
        print(f"{'':14} detailed {fmt(evaluate(tables, utterances, True))}")


def token_gold(engine: SimulatedEngine, utterances):
    """token -> Counter of gold readings, over the tokens the engine makes."""
    seen: Dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    files: Dict[str, set] = collections.defaultdict(set)
    for u in utterances:
        tokens = engine.han_tokens(u.text)
        i = 0
        for t in tokens:
            seen[t][" ".join(u.gold[i:i + len(t)])] += 1
            files[t].add(u.file)
            i += len(t)
    return seen, files


def cmd_suggest(src: Sources, utterances, order, min_gain: int) -> None:
    import build_dictionaries

    engine = SimulatedEngine(build_dictionaries.build_tables(src, order))
    seen, files = token_gold(engine, utterances)
    rows = []
    for token, counts in seen.items():
        current = gold.normalise_reading(engine.plain(token))
        best, best_n = counts.most_common(1)[0]
        gain = best_n - counts.get(current, 0)
        if best != current and gain >= min_gain and len(files[token]) >= 2:
            rows.append((gain, token, engine.plain(token), best, dict(counts.most_common(4)), len(files[token])))
    for row in sorted(rows, reverse=True):
        print(*row, sep="\t")


def cmd_oral_hk(src: Sources, utterances, order) -> int:
    """Errors each oral_hk entry removes and adds on the dev set."""
    import build_dictionaries

    full = build_dictionaries.build_tables(src, order)
    bad = 0
    total_removed = total_added = 0
    for key in sorted(src.oral_hk):
        without = Sources(
            oral_hk={k: v for k, v in src.oral_hk.items() if k != key},
            tojyutping_chars=src.tojyutping_chars,
            tojyutping_words=src.tojyutping_words,
            rime=src.rime,
            unihan=src.unihan,
        )
        base = build_dictionaries.build_tables(without, order)
        affected = [u for u in utterances if key in u.text]
        removed = added = 0
        with_engine, without_engine = SimulatedEngine(full), SimulatedEngine(base)
        for u in affected:
            a = set(_wrong_positions(u, with_engine.readings(u.text)[1]))
            b = set(_wrong_positions(u, without_engine.readings(u.text)[1]))
            removed += len(b - a)
            added += len(a - b)
        total_removed += removed
        total_added += added
        verdict = "ok" if removed > added else "REJECT"
        bad += verdict != "ok"
        print(f"{key}\t{src.oral_hk[key]}\tremoves {removed}\tadds {added}\t{verdict}")
    print(f"total: removes {total_removed}, adds {total_added}; {bad} entries fail the rule")
    return 1 if bad else 0


def _wrong_positions(u, predicted):
    if predicted is None:
        return list(range(len(u.gold)))
    return [i for i, (g, p) in enumerate(zip(u.gold, predicted)) if gold.normalise(p) != g]


def main(argv=None) -> int:
    import build_dictionaries

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=("orders", "oral-hk", "suggest", "score"))
    parser.add_argument("--min-gain", type=int, default=5)
    args = parser.parse_args(argv)
    loaded = gold.load("dev")
    utterances = loaded.utterances
    print(f"dev set: {len(utterances)} utterances, {sum(len(u.gold) for u in utterances)} Han characters",
          file=sys.stderr)
    src = build_dictionaries.load_sources(log=lambda *a: print(*a, file=sys.stderr))
    order = build_dictionaries.LAYER_ORDER
    if args.command == "orders":
        cmd_orders(src, utterances)
    elif args.command == "suggest":
        cmd_suggest(src, utterances, order, args.min_gain)
    elif args.command == "oral-hk":
        return cmd_oral_hk(src, utterances, order)
    else:
        tables = build_dictionaries.build_tables(src)
        print("convert ", fmt(evaluate(tables, utterances)))
        print("detailed", fmt(evaluate(tables, utterances, True)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
