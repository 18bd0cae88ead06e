"""The context model for one-character tokens: its features, its file format
and the reference applier.

A one-character Han token with several candidate readings (a polyphonic
character such as 到, 會 or 下) gets its reading chosen from its neighbours.
The model only reorders the token's own candidates; it never adds a reading.

File: "char_context.bin", a CJYP table (merrow.cjyp) keyed by feature.

Keys are a one-byte ASCII kind, the token's character in UTF-8, then the
kind's context; a key is at most MAX_KEY_BYTES bytes:

    kind  context                                      example key
    L     the character before the token, "^" at start   L到搵
    R     the character after the token, "$" at end      R到佢
    B     those two characters, before then after        B會次$
    P     the previous token, when it has 2+ characters  P到搵唔
    N     the next token, when it has 2+ characters      N會議題
    V     nothing; looked up when the previous token is  V到
          a verb-like word (a "v" key below)

A neighbour that is a sentence or clause mark (EDGE_MARKS) counts as the
text's edge: "^" or "$", no P or N, no V. No context is read across one, so
a text cut after such a mark reads as its pieces do.

and four kinds that are not features:

    v<word>   (empty value) the word is verb-like;
    #bias     the integer bonus of the current rank-0 candidate;
    #chars    the characters whose features can change a decision, in code
              point order, nothing between them; a character not listed is
              never scored (without this key every character is). The
              trainer leaves out the features of the others, so most
              tokens cost the resolver one check against this set.
    S<char>   for a character in #chars, the spread of each of its P, N
              and V features, as "kind spread" pairs ("P 2300|N 800"): the
              most that one feature of that kind can move any candidate's
              score against another's (a kind not listed has none). Scores
              are unchanged by it: once B, L and R are added, an applier
              may leave out the P, N and V lookups when the leader is ahead
              of every other candidate by more than the spreads of the kinds
              still to come. SPREAD_KINDS.

A feature's value lists weights for readings: "reading weight" pairs joined
by "|", each weight a signed decimal integer (thousandths of a log-odds
unit), e.g. "dou2 1250|dou3 -400". A reading a value does not list gets 0.

Applying it to one token, candidates c0..ck (rank 0 first): score(cj) =
bias if j == 0, else 0, plus the weights for cj of every feature key found.
A B key that is found stands for L, R and B together: the trainer adds the
weights of the L and R keys of its two characters into its value, and then
L and R are not looked up. The highest score wins; ties keep the lower rank, so an empty model changes
nothing. A winner other than c0 moves to the front with source "context".
Only tokens of one Han character with at least two candidates (and listed
in #chars, when the file has it) are scored,
never a user-dictionary reading; a context that would make the key longer
than MAX_KEY_BYTES is not looked up. At most MAX_CANDIDATES candidates take
part. So a resolver needs a fixed key buffer and at most 7 exact-key lookups
per token (B, L, R, P, N, v, V; 5 when B is found), and no allocation.
"""

from __future__ import annotations

import os
from typing import Dict, List, Mapping, Optional, Sequence

FILE_NAME = "char_context.bin"
MAX_KEY_BYTES = 64
MAX_CANDIDATES = 16
START, END = "^", "$"
EDGE_MARKS = frozenset("。，！？；、!?;")
BIAS_KEY = "#bias"
CHARS_KEY = "#chars"
SPREAD = "S"
SPREAD_KINDS = "PNV"  # looked up after B, L and R
SOURCE = "context"
SCALE = 1000  # weights are stored in thousandths


def is_han(ch: str) -> bool:
    cp = ord(ch)
    return (0x4E00 <= cp <= 0x9FFF or 0x3400 <= cp <= 0x4DBF
            or 0x20000 <= cp <= 0x2A6DF or 0xF900 <= cp <= 0xFAFF)


def fits(key: str) -> bool:
    return len(key.encode("utf-8")) <= MAX_KEY_BYTES


def neighbour(tokens: Sequence[str], j: int) -> str:
    """Token j as a neighbour: "" past the text's edge or for an edge mark."""
    if j < 0 or j >= len(tokens) or tokens[j] in EDGE_MARKS:
        return ""
    return tokens[j]


def feature_keys(tokens: Sequence[str], i: int, verb: bool) -> List[str]:
    """The feature keys of token i (one character), in lookup order; ``verb``
    says whether the previous token is a verb-like word."""
    ch = tokens[i]
    prev, next_ = neighbour(tokens, i - 1), neighbour(tokens, i + 1)
    before = prev[-1] if prev else START
    after = next_[0] if next_ else END
    keys = ["L" + ch + before, "R" + ch + after, "B" + ch + before + after]
    if len(prev) > 1:
        keys.append("P" + ch + prev)
    if len(next_) > 1:
        keys.append("N" + ch + next_)
    if verb and prev:
        keys.append("V" + ch)
    return [k for k in keys if fits(k)]


def parse_weights(value: str) -> Dict[str, int]:
    out: Dict[str, int] = {}
    if not value:
        return out
    for piece in value.split("|"):
        reading, _, weight = piece.rpartition(" ")
        out[reading] = int(weight)
    return out


def format_weights(weights: Mapping[str, int]) -> str:
    return "|".join(f"{r} {w}" for r, w in weights.items())


def spreads(table: Mapping[str, str]) -> Dict[str, str]:
    """The S keys of a table: for each character of its #chars, the largest
    (highest weight - lowest weight) of each SPREAD_KINDS feature, counting
    the 0 of every reading a value does not list."""
    chars = table.get(CHARS_KEY, "")
    found: Dict[str, Dict[str, int]] = {ch: {} for ch in chars}
    for key, value in table.items():
        if key[:1] in SPREAD_KINDS and len(key) > 1 and key[1] in found:
            weights = [0, *parse_weights(value).values()]
            kinds = found[key[1]]
            kinds[key[0]] = max(kinds.get(key[0], 0), max(weights) - min(weights))
    return {SPREAD + ch: format_weights({k: kinds[k] for k in SPREAD_KINDS if k in kinds})
            for ch, kinds in found.items()}


class ContextModel:
    """Reference applier over a model table (key -> value, as in the file)."""

    def __init__(self, table: Mapping[str, str]):
        self.table = table
        self.bias = int(table.get(BIAS_KEY, "0") or 0)
        chars = table.get(CHARS_KEY)
        self.chars = None if chars is None else set(chars)

    def scores(self, token: str) -> bool:
        """Whether a one-character token is scored at all."""
        return self.chars is None or token in self.chars

    @classmethod
    def load(cls, path: str) -> "ContextModel":
        from merrow import cjyp

        return cls(cjyp.read(path))

    def is_verb(self, token: str) -> bool:
        return fits("v" + token) and ("v" + token) in self.table

    def choose(self, tokens: Sequence[str], i: int, candidates: Sequence[str]) -> int:
        """Index of the winning candidate of token i."""
        n = min(len(candidates), MAX_CANDIDATES)
        scores = [0] * n
        scores[0] = self.bias
        prev = neighbour(tokens, i - 1)
        verb = bool(prev) and self.is_verb(prev)
        keys = feature_keys(tokens, i, verb)
        if any(k[0] == "B" and k in self.table for k in keys):
            keys = [k for k in keys if k[0] not in "LR"]  # a B value holds their weights too
        for key in keys:
            value = self.table.get(key)
            if value is None:
                continue
            weights = parse_weights(value)
            for j in range(n):
                scores[j] += weights.get(candidates[j], 0)
        best = 0
        for j in range(1, n):
            if scores[j] > scores[best]:
                best = j
        return best

    def apply(self, records: Sequence[tuple]) -> List[tuple]:
        """``convert_candidates`` records of one text, with the model applied."""
        tokens = [r[0] for r in records]
        out = []
        for i, (token, candidates, lang, confidence, source) in enumerate(records):
            if (len(token) == 1 and is_han(token) and len(candidates) > 1 and source != "user_dict"
                    and self.scores(token)):
                j = self.choose(tokens, i, candidates)
                if j:
                    candidates = [candidates[j]] + [c for k, c in enumerate(candidates) if k != j]
                    source = SOURCE
            out.append((token, list(candidates), lang, confidence, source))
        return out


def find(data_dir: str) -> Optional[ContextModel]:
    path = os.path.join(data_dir, FILE_NAME)
    return ContextModel.load(path) if os.path.isfile(path) else None

