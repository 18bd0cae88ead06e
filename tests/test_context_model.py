"""The context model's features, its reference applier and its trainer, on
hand-made tables and small synthetic examples (no corpus needed)."""

import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

import context_model as cm  # noqa: E402
import train_context_model as train  # noqa: E402
from merrow import cjyp  # noqa: E402


@pytest.mark.parametrize(
    "tokens, i, verb, keys",
    [
        (["到"], 0, False, ["L到^", "R到$", "B到^$"]),
        (["搵唔", "到", "佢"], 1, True, ["L到唔", "R到佢", "B到唔佢", "P到搵唔", "V到"]),
        (["開", "會議", "，"], 0, False, ["L開^", "R開會", "B開^會", "N開會議"]),
        # A neighbour that would make the key too long is not looked up.
        (["x" * 70, "到"], 1, False, ["L到x", "R到$", "B到x$"]),
        # Sentence and clause marks count as the edges: no P, N or V across them.
        (["搵唔", "，", "到", "!", "會議"], 2, True, ["L到^", "R到$", "B到^$"]),
        (["搵唔", "到", "、"], 1, True, ["L到唔", "R到$", "B到唔$", "P到搵唔", "V到"]),
    ],
)
def test_feature_keys(tokens, i, verb, keys):
    assert cm.feature_keys(tokens, i, verb) == keys


def test_weights_round_trip():
    weights = {"dou2": 1250, "dou3": -400}
    assert cm.parse_weights(cm.format_weights(weights)) == weights
    assert cm.parse_weights("") == {}


MODEL = {
    cm.BIAS_KEY: "500",
    "L到搵": "dou2 2000|dou3 -100",  # clearly dou2 after 搵
    "L到去": "dou2 400|dou3 0",  # not enough to beat the rank-0 bonus
    "R會$": "wui2 300|wui5 0",
    "V會": "wui2 300",  # together with R: 600 > 500
    "v開": "",
}


@pytest.mark.parametrize(
    "tokens, i, candidates, chosen",
    [
        (["搵", "到"], 1, ["dou3", "dou2"], 1),
        (["去", "到"], 1, ["dou3", "dou2"], 0),
        (["到"], 0, ["dou3", "dou2"], 0),  # no feature found
        (["開", "會"], 1, ["wui5", "wui2"], 1),  # verb and end of text
        (["睇", "會"], 1, ["wui5", "wui2"], 0),  # end of text alone
        (["搵", "到"], 1, ["dou3", "zzz"], 0),  # weights only for readings it lists
    ],
)
def test_choose(tokens, i, candidates, chosen):
    assert cm.ContextModel(MODEL).choose(tokens, i, candidates) == chosen


def test_ties_keep_the_lower_rank():
    model = cm.ContextModel({"L到搵": "dou2 100|dou3 100"})
    assert model.choose(["搵", "到"], 1, ["dou3", "dou2"]) == 0


def test_apply_reorders_only_what_it_may():
    records = [
        ("搵", ["wan2"], "yue", "certain", "rime"),
        ("到", ["dou3", "dou2", "dou6"], "yue", "ranked", "tojyutping"),
        ("，", ["，"], "punct", "certain", "passthrough"),
        ("搵", ["wan2"], "yue", "certain", "rime"),
        ("到", ["dou3", "dou2"], "yue", "certain", "user_dict"),  # user readings always win
        ("搵到", ["wan2 dou2"], "yue", "certain", "tojyutping"),
    ]
    out = cm.ContextModel(MODEL).apply(records)
    assert out[1] == ("到", ["dou2", "dou3", "dou6"], "yue", "ranked", "context")
    assert out[:1] + out[2:] == records[:1] + records[2:]


def example(char, candidates, gold, keys, fold=0, train_on=True):
    return train.Example(char, tuple(candidates), gold, tuple(keys), fold, train_on)


def synthetic_examples():
    # 到 is dou2 after 搵 and dou3 elsewhere; 會 at the end is wui2.
    out = []
    for n in range(10):
        out.append(example("到", ["dou3", "dou2"], 1, ["L到搵", "R到$"], n % 5))
        out.append(example("到", ["dou3", "dou2"], 0, ["L到去", "R到$"], n % 5))
        out.append(example("到", ["dou3", "dou2"], 0, ["L到去", "R到$"], n % 5))
    return out


CANDIDATES = {"到": ("dou3", "dou2"), "會": ("wui5", "wui2")}
PARAMS = {"alpha": 1.0, "bias": 1.0, "dict_weight": 0.0, "min_count": 1}


def test_trained_table_learns_the_context_and_nothing_else():
    table = train.build_table(synthetic_examples(), {}, CANDIDATES, set(), PARAMS)
    model = cm.ContextModel(table)
    assert model.choose(["搵", "到"], 1, ["dou3", "dou2"]) == 1
    assert model.choose(["去", "到"], 1, ["dou3", "dou2"]) == 0
    assert model.choose(["佢", "到"], 1, ["dou3", "dou2"]) == 0
    assert table[cm.BIAS_KEY] == "1000"


def test_examples_not_learnt_from_leave_no_trace():
    examples = synthetic_examples() + [example("到", ["dou3", "dou2"], 1, ["L到去"], 0, train_on=False)] * 50
    assert train.build_table(examples, {}, CANDIDATES, set(), PARAMS) == \
        train.build_table(synthetic_examples(), {}, CANDIDATES, set(), PARAMS)


def test_dictionary_contexts_count_polyphonic_characters_inside_words():
    words = [("搵到", "wan2 dou2"), ("到達", "dou3 daat6"), ("唔到", "m4")]  # the last is misaligned
    counts = train.dictionary_contexts(words, CANDIDATES)
    assert {k: dict(v) for k, v in counts.items()} == {"L到搵": {"dou2": 1.0}, "R到達": {"dou3": 1.0}}


def test_weight_formula():
    w = train.Weights({"L到搵": {"dou2": 3.0}}, {"到": {"dou2": 3.0, "dou3": 5.0}}, {}, CANDIDATES,
                      alpha=1.0, dict_weight=0.0, min_count=2)
    p_dou2, p_dou3 = 4 / 10, 6 / 10  # add-one prior
    import math
    assert w.of("L到搵") == pytest.approx({
        "dou2": math.log((3 + p_dou2) / 4) - math.log(p_dou2),
        "dou3": math.log(p_dou3 / 4) - math.log(p_dou3),
    })
    assert w.of("L到去") is None  # never seen: below min_count


def test_cross_validation_finds_the_gain_on_held_out_folds():
    results = train.cross_validate(synthetic_examples(), {}, CANDIDATES, log=lambda *a: None)
    assert max(gain for gain, _ in results) == 10  # every 搵到 fixed on its held-out fold, nothing broken


def test_model_file_is_byte_reproducible(tmp_path):
    a, b = tmp_path / "a.bin", tmp_path / "b.bin"
    cjyp.write(a, train.build_table(synthetic_examples(), {}, CANDIDATES, {"搵", "開"}, PARAMS))
    cjyp.write(b, train.build_table(list(reversed(synthetic_examples())), {}, CANDIDATES, {"開", "搵"}, PARAMS))
    assert a.read_bytes() == b.read_bytes()


PRUNE_TABLE = {
    cm.BIAS_KEY: "500",
    "L到搵": "dou2 300|dou3 0",
    "B到搵$": "dou2 300",  # with L: 600 > 500, 到 can change
    "L會去": "wui2 200",
    "R會$": "wui2 300",  # together exactly the bias: a tie, 會 never changes
    "L下搵": "haa5 -900",  # only ever lowers the other reading
    "V下": "haa6 100",
    "v搵": "",
}


@pytest.mark.parametrize(
    "lists, kept",
    [
        ({"到": [("dou3", "dou2")], "會": [("wui5", "wui2")], "下": [("haa6", "haa5")]}, "到"),
        # Lowering rank 0 helps the other reading: 下 can change under this order.
        ({"會": [("wui5", "wui2"), ("wui2", "wui5")], "下": [("haa5", "haa6")]}, "下"),
        ({"到": [("dou2", "dou3"), ("dou3", "dou2")]}, "到"),  # one list that can change is enough
        ({}, ""),  # no candidates: nothing is scored
    ],
)
def test_prune_keeps_only_characters_some_context_can_change(lists, kept):
    pruned = train.prune(PRUNE_TABLE, lists)
    assert pruned[cm.CHARS_KEY] == kept
    assert {k[1] for k in pruned if k[:1] in "LRBPNV"} == set(kept)
    assert ("v搵" in pruned) == any(k.startswith("V") for k in pruned)


def test_prune_drops_the_characters_held_out_folds_did_not_help():
    lists = {"到": [("dou3", "dou2")], "下": [("haa5", "haa6")]}
    assert train.prune(PRUNE_TABLE, lists)[cm.CHARS_KEY] == "下到"
    pruned = train.prune(PRUNE_TABLE, lists, helpful={"下", "會"})
    assert pruned[cm.CHARS_KEY] == "下"
    assert {k[1] for k in pruned if k[:1] in "LRBPNV"} == {"下"}


COMPACT_LISTS = {"到": [("dou3", "dou2", "dou6")], "下": [("haa6", "haa5"), ("haa5", "haa6", "haa1")]}


@pytest.mark.parametrize(
    "value, compacted",
    [
        ("dou3 -400|dou2 1250|dou6 -400", "dou2 1650"),  # the most common weight is taken off
        ("dou3 7|dou2 7|dou6 7", ""),
        ("dou3 1|dou2 2|dou6 3", "dou2 1|dou6 2"),  # ties: the lowest of the most common
        ("dou3 5|dou2 9", "dou3 5|dou2 9"),  # dou6 is not named: kept as it is
    ],
)
def test_compact_takes_a_constant_off_values_that_name_every_candidate(value, compacted):
    assert train.compact({"L到搵": value}, COMPACT_LISTS)["L到搵"] == compacted


@pytest.mark.parametrize(
    "tokens, i, candidates",
    [(["搵", "到"], 1, ("dou3", "dou2", "dou6")), (["到", "佢"], 0, ("dou3", "dou2", "dou6")),
     (["搵", "到", "佢"], 1, ("dou3", "dou2", "dou6")), (["搵", "下"], 1, ("haa6", "haa5")),
     (["下", "佢"], 0, ("haa5", "haa6", "haa1")), (["搵", "下", "佢"], 1, ("haa5", "haa6", "haa1"))],
)
def test_compacting_changes_no_decision(tokens, i, candidates):
    table = {cm.BIAS_KEY: "300", "L到搵": "dou3 -400|dou2 250|dou6 -400", "R到佢": "dou3 0|dou2 -50|dou6 380",
             "B到搵佢": "dou3 -20|dou2 200|dou6 180", "L下搵": "haa6 10|haa5 400|haa1 10",
             "R下佢": "haa6 -300|haa5 -300|haa1 -300", "B下搵佢": "haa5 150|haa6 -150"}
    full, compacted = cm.ContextModel(table), cm.ContextModel(train.compact(table, COMPACT_LISTS))
    assert full.choose(tokens, i, candidates) == compacted.choose(tokens, i, candidates)


def test_held_out_gains_count_fixes_less_breaks_per_character():
    # 到 after 搵 is dou2 in every file: learnt from the other folds, the
    # held-out ones are fixed. 會 is wui5 (rank 0) whatever comes before.
    examples = [train.Example("到", ("dou3", "dou2"), 1, ("L到搵",), fold, True) for fold in range(train.FOLDS)]
    examples += [train.Example("會", ("wui5", "wui2"), 0, ("L會搵",), fold, True) for fold in range(train.FOLDS)]
    params = {"alpha": 0.5, "bias": 0.0, "dict_weight": 0.0, "min_count": 1}
    gains = train.held_out_gains(examples, {}, {"到": ("dou3", "dou2"), "會": ("wui5", "wui2")}, params)
    assert gains["到"] == train.FOLDS and gains["會"] == 0


@pytest.mark.parametrize(
    "table, expected",
    [
        # the 0 of a reading a value does not list counts; L, R and B have no spread
        ({"#chars": "下", "P下搵唔": "haa5 900", "N下佢": "haa5 -200|haa6 100", "L下搵": "haa5 5000"},
         {"S下": "P 900|N 300"}),
        ({"#chars": "下會", "P下a": "haa5 100", "P下b": "haa5 -400|haa6 300", "V會": "wui2 50"},
         {"S下": "P 700", "S會": "V 50"}),
        ({"#chars": "到"}, {"S到": ""}),  # no P, N or V feature
        ({"P下a": "haa5 100"}, {}),  # without #chars nothing is listed
    ],
)
def test_spreads(table, expected):
    assert cm.spreads(table) == expected


@pytest.mark.parametrize("tokens, i", [(["搵", "到"], 1), (["去", "會"], 1), (["搵", "下"], 1), (["下"], 0),
                                       (["會"], 0), (["到"], 0)])
def test_pruning_changes_no_decision(tokens, i):
    lists = {"到": [("dou3", "dou2")], "會": [("wui5", "wui2")], "下": [("haa6", "haa5")]}
    full, pruned = cm.ContextModel(PRUNE_TABLE), cm.ContextModel(train.prune(PRUNE_TABLE, lists))
    candidates = lists[tokens[i]][0]
    assert full.choose(tokens, i, candidates) == pruned.choose(tokens, i, candidates)


def test_reference_applier_scores_only_the_listed_characters():
    records = [("搵", ["wan2"], "yue", "certain", "rime"), ("到", ["dou3", "dou2"], "yue", "ranked", "rime")]
    assert cm.ContextModel(dict(MODEL, **{cm.CHARS_KEY: "會"})).apply(records) == records
    assert cm.ContextModel(dict(MODEL, **{cm.CHARS_KEY: "會到"})).apply(records)[1][4] == "context"


def test_b_values_hold_the_l_and_r_weights():
    table = {cm.BIAS_KEY: "500", "L到搵": "dou2 300", "R到$": "dou2 300", "B到搵$": "dou3 50", "R到佢": "dou6 1"}
    folded = train.fold_into_both(table)
    assert cm.parse_weights(folded["B到搵$"]) == {"dou3": 50, "dou2": 600}
    assert {k: v for k, v in folded.items() if k[0] != "B"} == {k: v for k, v in table.items() if k[0] != "B"}
    model = cm.ContextModel(folded)
    assert model.choose(["搵", "到"], 1, ["dou3", "dou2"]) == 1  # 600 > 500 + 50: all three counted once
    assert model.choose(["搵", "到", "佢"], 1, ["dou3", "dou2"]) == 0  # no B key: L alone
    # Read unfolded, a B key that is found hides L and R.
    assert cm.ContextModel(table).choose(["搵", "到"], 1, ["dou3", "dou2"]) == 0
