#!/usr/bin/env python3
"""Trains the context model for one-character tokens (format and applier:
tools/context_model.py).

    pip install '.[bench]'
    python tools/train_context_model.py                # cross-validate, train, write
    python tools/train_context_model.py --out FILE     # elsewhere than the bundled data
    python tools/train_context_model.py --alpha 4 --bias 2 --dict-weight 0.3 --min-count 2   # no search

Training data, all of it licensed so that what is derived from it can ship:
- HKCanCor's development half (CC BY 4.0) in modern spelling
  (bench/dev_sets.py): every one-character token the engine makes there
  whose gold reading is one of its candidates, except sentence-final
  particles whose gold differs from the dictionary's reading only in tone
  (the corpus transcribes their intonation, which text does not mark);
- the multi-character words of the bundled word table and of rime-cantonese
  (CC BY 4.0) as contexts: each polyphonic character inside a word, with its
  reading in that word and its neighbours inside the word (L, R, B features),
  counted with the weight --dict-weight;
- verb-like words: words that HKCanCor's development half tags as verbs in
  most of their occurrences.
Set B is never read here.

The model is naive Bayes in log-odds form. For a feature f of character c
seen n(f, r) times with reading r, n(f) times in all, and p(r) the smoothed
share of r among c's training examples, the weight of r is
    log((n(f, r) + alpha * p(r)) / (n(f) + alpha)) - log p(r),
features seen fewer than --min-count times are left out, and the current
rank-0 reading gets a bonus --bias. The four hyper-parameters are chosen by
5-fold cross-validation over HKCanCor's development files (a file's fold is
its index in name order modulo 5), maximising characters fixed minus
characters broken on the held-out folds.

The output is byte-reproducible: examples, keys and readings are visited in
a fixed order, weights are stored as integers, and cjyp sorts the keys.
"""

from __future__ import annotations

import argparse
import collections
import itertools
import math
import os
import shutil
import sys
import tempfile
from typing import Dict, Iterable, List, Mapping, Optional, Sequence, Set, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "bench"))

import context_model as cm  # noqa: E402

DEFAULT_DATA = os.path.join(ROOT, "python", "merrow", "data")
FOLDS = 5
GRID = {
    "alpha": (0.5, 1.0, 2.0, 4.0),
    "bias": (0.0, 0.5, 0.75, 1.0, 1.5, 2.0, 3.0),
    "dict_weight": (0.0, 0.1, 0.3),
    "min_count": (1, 2),
}

Counts = Dict[str, Dict[str, float]]  # key (or character) -> reading -> count


class Example:
    """One corpus token: its character, candidates (rank 0 first), the index
    of the gold reading among them, its feature keys, its fold, and whether
    it is learnt from (every token is scored)."""

    __slots__ = ("char", "candidates", "gold", "keys", "fold", "train")

    def __init__(self, char: str, candidates: Tuple[str, ...], gold: int, keys: Tuple[str, ...], fold: int,
                 train: bool = True):
        self.char, self.candidates, self.gold, self.keys, self.fold = char, candidates, gold, keys, fold
        self.train = train


def verb_words(min_share: float = 0.5) -> Set[str]:
    """Words tagged as verbs (POS v...) in more than ``min_share`` of their
    occurrences in HKCanCor's development half, at least twice."""
    import hkcancor_gold as gold
    from pycantonese import CHAT

    tagged: Dict[str, collections.Counter] = collections.defaultdict(collections.Counter)
    for path in gold.dev_files():
        for token in CHAT.from_files([path], parallel=False).tokens():
            if token.word and all(cm.is_han(ch) for ch in token.word):
                tagged[token.word][(token.pos or "").lower().startswith("v")] += 1
    return {w for w, c in tagged.items() if c[True] >= 2 and c[True] > min_share * sum(c.values())}


def intonation_only(u, k: int, reading: str) -> bool:
    """The corpus writes a sentence-final particle (POS y) with the tone it
    was spoken with; text does not mark intonation, so a gold reading that
    differs from ``reading`` only in tone there is no example to learn from."""
    import hkcancor_gold as gold

    want = u.gold[k]
    return (k < len(u.pos) and u.pos[k].startswith("y") and want != gold.normalise(reading)
            and gold.toneless(want) == gold.toneless(gold.normalise(reading)))


def corpus_examples(pipeline, utterances, verbs: Set[str]) -> List[Example]:
    """The polyphonic one-character tokens of the utterances, as the engine
    cuts them, with their gold readings."""
    import hkcancor_gold as gold

    files = sorted({u.file for u in utterances})
    fold_of = {f: i % FOLDS for i, f in enumerate(files)}
    records = pipeline.convert_candidates_batch([u.text for u in utterances])
    out: List[Example] = []
    for u, recs in zip(utterances, records):
        tokens = [r[0] for r in recs]
        k = 0
        for i, (token, candidates, _, _, source) in enumerate(recs):
            n = sum(1 for ch in token if cm.is_han(ch))
            if n == 1 and len(token) == 1 and len(candidates) > 1 and source != "user_dict":
                want = u.gold[k]
                hits = [j for j, c in enumerate(candidates[:cm.MAX_CANDIDATES]) if gold.normalise(c) == want]
                if hits:
                    verb = i > 0 and tokens[i - 1] in verbs
                    out.append(Example(token, tuple(candidates), hits[0], tuple(cm.feature_keys(tokens, i, verb)),
                                       fold_of[u.file], not intonation_only(u, k, candidates[0])))
            k += n
    return out


def dictionary_contexts(words: Iterable[Tuple[str, str]], candidates: Mapping[str, Sequence[str]]) -> Counts:
    """Counts of (feature key, reading) from polyphonic characters inside
    dictionary words, with the neighbours the word gives them."""
    counts: Counts = collections.defaultdict(lambda: collections.defaultdict(float))
    for word, reading in sorted(set(words)):
        syllables = reading.split(" ")
        if len(syllables) != len(word):
            continue
        for i, ch in enumerate(word):
            if syllables[i] not in candidates.get(ch, ()):
                continue
            # Neighbours inside the word only: a word's edges are no text edges.
            before = word[i - 1] if i > 0 else None
            after = word[i + 1] if i + 1 < len(word) else None
            keys = []
            if before:
                keys.append("L" + ch + before)
            if after:
                keys.append("R" + ch + after)
            if before and after:
                keys.append("B" + ch + before + after)
            for key in keys:
                counts[key][syllables[i]] += 1.0
    return counts


def count(examples: Iterable[Example]) -> Tuple[Counts, Counts]:
    """Feature counts and per-character reading counts."""
    feats: Counts = collections.defaultdict(lambda: collections.defaultdict(float))
    chars: Counts = collections.defaultdict(lambda: collections.defaultdict(float))
    for e in examples:
        if not e.train:
            continue
        r = e.candidates[e.gold]
        chars[e.char][r] += 1.0
        for key in e.keys:
            feats[key][r] += 1.0
    return feats, chars


class Weights:
    """Feature weights from corpus counts, dictionary counts and the
    hyper-parameters; computed on demand for one key."""

    def __init__(self, feats: Counts, chars: Counts, dict_counts: Counts, candidates: Mapping[str, Sequence[str]],
                 alpha: float, dict_weight: float, min_count: int):
        self.feats, self.chars, self.dict_counts = feats, chars, dict_counts
        self.candidates = candidates
        self.alpha, self.dict_weight, self.min_count = alpha, dict_weight, min_count

    def prior(self, char: str) -> Dict[str, float]:
        readings = self.candidates[char]
        seen = self.chars.get(char, {})
        total = sum(seen.values()) + len(readings)
        return {r: (seen.get(r, 0.0) + 1.0) / total for r in readings}

    def of(self, key: str) -> Optional[Dict[str, float]]:
        char = key[1]
        readings = self.candidates.get(char)
        if not readings:
            return None
        corpus = self.feats.get(key, {})
        extra = self.dict_counts.get(key, {}) if self.dict_weight else {}
        n = {r: corpus.get(r, 0.0) + self.dict_weight * extra.get(r, 0.0) for r in readings}
        total = sum(n.values())
        if total < self.min_count or total == 0:
            return None
        p = self.prior(char)
        return {r: math.log((n[r] + self.alpha * p[r]) / (total + self.alpha)) - math.log(p[r]) for r in readings}


def subtract(a: Counts, b: Counts) -> Counts:
    out: Counts = {}
    for key, row in a.items():
        sub = b.get(key)
        out[key] = {r: v - (sub.get(r, 0.0) if sub else 0.0) for r, v in row.items()} if sub else row
    return out


def choose(e: Example, weights: Mapping[str, Optional[Dict[str, float]]], bias: float) -> int:
    n = min(len(e.candidates), cm.MAX_CANDIDATES)
    scores = [0.0] * n
    scores[0] = bias
    for key in e.keys:
        w = weights.get(key)
        if w:
            for j in range(n):
                scores[j] += w.get(e.candidates[j], 0.0)
    best = 0
    for j in range(1, n):
        if scores[j] > scores[best]:
            best = j
    return best


def held_out_folds(examples: List[Example]) -> List[Tuple[List[Example], Counts, Counts]]:
    """Each fold's examples, with the feature and character counts of all the
    other folds to learn from."""
    feats_all, chars_all = count(examples)
    folds = []
    for f in range(FOLDS):
        held = [e for e in examples if e.fold == f]
        feats_f, chars_f = count(held)
        folds.append((held, subtract(feats_all, feats_f), subtract(chars_all, chars_f)))
    return folds


def cross_validate(examples: List[Example], dict_counts: Counts, candidates, log=print):
    """Net characters fixed on held-out folds, for every point of GRID."""
    folds = held_out_folds(examples)
    results = []
    for alpha, dict_weight, min_count in itertools.product(GRID["alpha"], GRID["dict_weight"], GRID["min_count"]):
        per_bias = collections.Counter()
        for held, feats, chars in folds:
            w = Weights(feats, chars, dict_counts, candidates, alpha, dict_weight, min_count)
            keys = sorted({k for e in held for k in e.keys})
            table = {k: w.of(k) for k in keys}
            for bias in GRID["bias"]:
                for e in held:
                    j = choose(e, table, bias)
                    per_bias[bias] += (j == e.gold) - (e.gold == 0)
        for bias in GRID["bias"]:
            params = {"alpha": alpha, "bias": bias, "dict_weight": dict_weight, "min_count": min_count}
            results.append((per_bias[bias], params))
            log(f"  cv {params}: net {per_bias[bias]:+d}")
    return results


def held_out_gains(examples: List[Example], dict_counts: Counts, candidates, params) -> Dict[str, int]:
    """Net characters fixed on held-out folds with `params`, per character:
    what scoring that character adds, learnt without the fold it is scored on."""
    gains: Dict[str, int] = collections.Counter()
    for held, feats, chars in held_out_folds(examples):
        w = Weights(feats, chars, dict_counts, candidates, params["alpha"], params["dict_weight"], params["min_count"])
        table = {k: w.of(k) for k in sorted({k for e in held for k in e.keys})}
        for e in held:
            gains[e.char] += (choose(e, table, params["bias"]) == e.gold) - (e.gold == 0)
    return gains


def build_table(examples: List[Example], dict_counts: Counts, candidates, verbs: Set[str], params) -> Dict[str, str]:
    """The model table trained on all examples, as the file stores it."""
    feats, chars = count(examples)
    w = Weights(feats, chars, dict_counts, candidates, params["alpha"], params["dict_weight"], params["min_count"])
    keys = set(feats)
    if params["dict_weight"]:
        keys |= set(dict_counts)
    table: Dict[str, str] = {cm.BIAS_KEY: str(round(params["bias"] * cm.SCALE))}
    for key in sorted(keys):
        weights = w.of(key)
        if weights is None:
            continue
        ints = {r: round(v * cm.SCALE) for r, v in weights.items()}
        if len(set(ints.values())) > 1:  # equal weights change no decision
            table[key] = cm.format_weights(ints)
    if any(k.startswith("V") for k in table):
        for verb in sorted(verbs):
            if cm.fits("v" + verb):
                table["v" + verb] = ""
    return table


FEATURE_KINDS = "LRBPNV"


def can_change(kinds: Mapping[str, List[Dict[str, int]]], candidates: Sequence[str], bias: int) -> bool:
    """Whether some context lets a reading other than rank 0 win. A token
    finds at most one feature of each kind, so candidate j can only win if
    the best gains over rank 0 of its kinds together exceed the bias."""
    cs = list(candidates)[: cm.MAX_CANDIDATES]
    for j in range(1, len(cs)):
        gain = sum(max([0] + [f.get(cs[j], 0) - f.get(cs[0], 0) for f in fs]) for fs in kinds.values())
        if gain > bias:
            return True
    return False


def prune(table: Dict[str, str], candidate_lists: Mapping[str, Sequence[Sequence[str]]],
          helpful: Optional[Set[str]] = None) -> Dict[str, str]:
    """The table without the features of characters whose decision no
    context can change under any of their candidate lists, nor of those not
    in `helpful` (when given), and with the "#chars" set of the others.
    Without `helpful` decisions stay the same; most tokens are then passed
    over after one check."""
    bias = int(table.get(cm.BIAS_KEY, "0") or 0)
    by_char: Dict[str, Dict[str, List[Dict[str, int]]]] = collections.defaultdict(lambda: collections.defaultdict(list))
    for key, value in table.items():
        if key[:1] in FEATURE_KINDS and len(key) > 1:
            by_char[key[1]][key[0]].append(cm.parse_weights(value))
    kept = {ch for ch, kinds in by_char.items()
            if (helpful is None or ch in helpful)
            and any(can_change(kinds, cs, bias) for cs in candidate_lists.get(ch, ()))}
    out = {k: v for k, v in table.items() if not (k[:1] in FEATURE_KINDS and len(k) > 1 and k[1] not in kept)}
    out[cm.CHARS_KEY] = "".join(sorted(kept))
    if not any(k.startswith("V") for k in out):
        out = {k: v for k, v in out.items() if not k.startswith("v")}
    return out


def plain_pipeline(pipeline_class, data_dir: str):
    """A pipeline on data_dir's tables without its model file: the examples
    must not depend on a model already there, or training again would not
    give the same file."""
    with tempfile.TemporaryDirectory() as scratch:
        plain = os.path.join(scratch, "data")
        shutil.copytree(data_dir, plain, ignore=shutil.ignore_patterns(cm.FILE_NAME))
        return pipeline_class(data_dir=plain)


def fold_into_both(table: Dict[str, str]) -> Dict[str, str]:
    """The table with each B key's value also holding the weights of the L
    and R keys of its two characters, as the appliers read it: a token whose
    B key is found needs no L and R lookups. Scores stay the same."""
    out = dict(table)
    for key, value in table.items():
        if key[:1] == "B" and len(key) == 4:
            merged = cm.parse_weights(value)
            for part in ("L" + key[1] + key[2], "R" + key[1] + key[3]):
                for reading, weight in cm.parse_weights(table.get(part, "")).items():
                    merged[reading] = merged.get(reading, 0) + weight
            out[key] = cm.format_weights(merged)
    return out


def compact(table: Dict[str, str], candidate_lists: Mapping[str, Sequence[Sequence[str]]]) -> Dict[str, str]:
    """The table with each feature value that names every candidate of its
    character shortened: its most common weight is taken from all of its
    weights and the readings left at 0 are not listed. A feature adds the
    same amount to every candidate's score then as before, less a constant,
    so no decision changes; most values name one or two readings instead of
    all of them, and are read faster."""
    out = dict(table)
    for key, value in table.items():
        if key[:1] not in FEATURE_KINDS or len(key) < 2 or not value:
            continue
        weights = cm.parse_weights(value)
        readings = {r for cs in candidate_lists.get(key[1], ()) for r in cs}
        if not readings or not readings <= set(weights):
            continue  # a candidate it does not list counts 0: taking a constant off would move it
        counts = collections.Counter(weights.values())
        common = min(counts, key=lambda w: (-counts[w], w))
        out[key] = cm.format_weights({r: w - common for r, w in weights.items() if w != common})
    return out


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data-dir", default=DEFAULT_DATA,
                        help="dictionary directory whose tokens the model learns (default: %(default)s)")
    parser.add_argument("--out", help="model file (default: char_context.bin in the data directory)")
    for name in GRID:
        parser.add_argument("--" + name.replace("_", "-"), type=float, help="skip the search and use this value")
    args = parser.parse_args(argv)

    import dev_sets
    from _merrow import PyPipeline
    from merrow import cjyp

    data_dir = args.data_dir
    out = args.out or os.path.join(data_dir, cm.FILE_NAME)
    pipeline = plain_pipeline(PyPipeline, data_dir)
    candidates = {k: tuple(v.split("|")) for k, v in cjyp.read(os.path.join(data_dir, "char_candidates.bin")).items()}

    verbs = verb_words()
    utterances = dev_sets.set_a(modern=True).utterances
    examples = corpus_examples(pipeline, utterances, verbs)
    print(f"{len(examples)} polyphonic one-character tokens in HKCanCor's development half "
          f"({sum(e.train for e in examples)} learnt from); {len(verbs)} verbs")

    sys.path.insert(0, os.path.join(ROOT, "tools"))
    import dictionary_sources

    words = [(k, v) for k, v in cjyp.read(os.path.join(data_dir, "word.bin")).items()]
    rime, _ = dictionary_sources.read_rime()
    words += [(k, v) for k, v in rime.items() if len(k) > 1]
    dict_counts = dictionary_contexts(words, candidates)
    print(f"{len(dict_counts)} feature keys from {len(words)} dictionary words")

    chosen = {name: getattr(args, name) for name in GRID}
    if any(v is None for v in chosen.values()):
        results = cross_validate(examples, dict_counts, candidates)
        best_gain, params = max(results, key=lambda r: (r[0], -r[1]["bias"], -r[1]["dict_weight"]))
        print(f"cross-validation: best net gain {best_gain:+d} characters with {params}")
    else:
        params = chosen
    params["min_count"] = int(params["min_count"])
    table = build_table(examples, dict_counts, candidates, verbs, params)
    # The engine scores a one-character token with the list of
    # word_candidates.bin when it has one, else char_candidates.bin's.
    lists: Dict[str, List[Tuple[str, ...]]] = collections.defaultdict(list)
    for name in ("word_candidates.bin", "char_candidates.bin"):
        for k, v in cjyp.read(os.path.join(data_dir, name)).items():
            if len(k) == 1:
                lists[k].append(tuple(v.split("|")))
    # A character is scored only if scoring it fixes more than it breaks on
    # held-out folds: the others cost a lookup per token for nothing.
    gains = held_out_gains(examples, dict_counts, candidates, params)
    helpful = {ch for ch, gain in gains.items() if gain > 0}
    print(f"held-out gain per character: {len(helpful)} of {len(gains)} characters scored fix more than they "
          f"break (together {sum(gains[ch] for ch in helpful):+d}, all {sum(gains.values()):+d})")
    table = compact(fold_into_both(prune(table, lists, helpful)), lists)
    table.update(cm.spreads(table))
    cjyp.write(out, table, index=True)  # the engine walks its trie instead of bisecting
    os.chmod(out, 0o644)
    print(f"wrote {out}: {len(table)} entries, {os.path.getsize(out):,} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
