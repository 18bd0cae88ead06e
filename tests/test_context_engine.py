"""The engine's use of the context model (char_context.bin): hand-made model
files with known outcomes, agreement with the reference applier in
tools/context_model.py, and results identical to a directory without the
model wherever the model changes nothing."""

import os
import shutil
import sys

import pytest

import merrow
from merrow import cjyp

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

import context_model as cm  # noqa: E402

TABLES = dict(
    word={"搵": "wan2", "去": "heoi3", "開": "hoi1", "睇": "tai2", "佢": "keoi5", "行": "W-hang4",
          "搵唔": "wan2 m4", "議題": "ji5 tai4"},
    char={"到": "dou3", "會": "wui5", "下": "haa6", "行": "haang4"},
    word_candidates={"行": "W-hang4|W-hong4"},
    char_candidates={"到": "dou3|dou2|dou6", "會": "wui5|wui2", "下": "haa6|haa5"},
    char_candidates_confidence={"到": "ranked", "會": "tied"},
    char_source={"到": "rime", "會": "oral_hk"},
)

MODEL = {
    "#bias": "500",
    "L到搵": "dou2 2000|dou3 -100",    # clearly dou2 after 搵
    "L到去": "dou2 400|dou3 0",        # not enough to beat the rank-0 bonus
    "R會$": "wui2 300|wui5 0",         # end of text
    "V會": "wui2 300",                 # after a verb: with R, 600 > 500
    "v開": "",
    "P下搵唔": "haa5 900",             # previous token of two characters
    "N會議題": "wui2 600",             # next token of two characters
    "B到^$": "dou6 700",               # alone: dou6 (700 > 500)
    "R下佢": "haa5 500",               # a tie with the bonus keeps rank 0
    "L行搵": "W-hong4 9000",           # word_candidates are scored too
}


# The same, listing the characters it scores.
SCORED = dict(MODEL, **{cm.CHARS_KEY: "下到會行"})


def write_model(path, table, index=False):
    if isinstance(table, bytes):
        with open(os.path.join(path, cm.FILE_NAME), "wb") as f:
            f.write(table)
    else:
        cjyp.write(os.path.join(path, cm.FILE_NAME), table, index=index)


@pytest.fixture
def pipelines(make_data_dir):
    """make(model, user_dict=None) -> (pipeline with the model, pipeline without);
    index=True writes the model with its trie index."""
    import _merrow

    def make(model, user_dict=None, tables=TABLES, index=False):
        plain = make_data_dir(**tables)
        with_model = make_data_dir(**tables)
        write_model(with_model, model, index)
        return (_merrow.PyPipeline(data_dir=with_model, user_dict=user_dict),
                _merrow.PyPipeline(data_dir=plain, user_dict=user_dict))

    return make


def readings(p, text):
    return [(r[0], r[1], r[4]) for r in p.convert_detailed(text)]


@pytest.mark.parametrize(
    "text, expected",
    [
        ("搵到", [("搵", "wan2", "unknown"), ("到", "dou2", "context")]),
        ("去到", [("去", "heoi3", "unknown"), ("到", "dou3", "rime")]),
        ("到", [("到", "dou6", "context")]),
        ("開會", [("開", "hoi1", "unknown"), ("會", "wui2", "context")]),
        ("睇會", [("睇", "tai2", "unknown"), ("會", "wui5", "oral_hk")]),
        ("會議題", [("會", "wui2", "context"), ("議題", "ji5 tai4", "unknown")]),
        ("搵唔下", [("搵唔", "wan2 m4", "unknown"), ("下", "haa5", "context")]),
        ("下佢", [("下", "haa6", "unknown"), ("佢", "keoi5", "unknown")]),
        ("搵行", [("搵", "wan2", "unknown"), ("行", "W-hong4", "context")]),
        # Neighbours are tokens, whitespace is gone: 搵 is still before 到.
        ("搵 到", [("搵", "wan2", "unknown"), ("到", "dou2", "context")]),
        # A sentence or clause mark counts as the text's edge on either side.
        ("搵，到！", [("搵", "wan2", "unknown"), ("，", "，", "passthrough"), ("到", "dou6", "context"),
                   ("！", "！", "passthrough")]),
        ("開會；", [("開", "hoi1", "unknown"), ("會", "wui2", "context"), ("；", "；", "passthrough")]),
        # 、 is normalised to ，
        ("會、議題", [("會", "wui5", "oral_hk"), ("，", "，", "passthrough"), ("議題", "ji5 tai4", "unknown")]),
    ],
)
@pytest.mark.parametrize("index", [False, True], ids=["searched", "trie"])
def test_hand_made_model(pipelines, text, expected, index):
    p, plain = pipelines(MODEL, index=index)
    assert readings(p, text) == expected
    assert p.convert(text) == " ".join(r for _, r, _ in expected)
    # The reference applier reorders the model-free records the same way.
    assert p.convert_candidates(text) == cm.ContextModel(MODEL).apply(plain.convert_candidates(text))


@pytest.mark.parametrize("mark", sorted(cm.EDGE_MARKS))
def test_no_context_across_a_mark(pipelines, mark):
    # After 搵 the model would read dou2; after a mark, 到 reads as alone
    # (dou6), and 會 before a mark reads as at the end, without the verb.
    p, plain = pipelines(MODEL)
    text = f"搵{mark}到{mark}開會{mark}搵到{mark}"
    assert [r[1] for r in readings(p, text) if r[0] in "到會"] == ["dou6", "wui2", "dou2"]
    assert p.convert_candidates(text) == cm.ContextModel(MODEL).apply(plain.convert_candidates(text))
    for left, right in ((f"搵{mark}", "到"), (f"開會{mark}", "會議題")):
        # As a text cut after the mark reads in two pieces.
        assert p.convert(left + right) == p.convert(left) + " " + p.convert(right)


def test_winner_moves_first_and_labels_stay(pipelines):
    p, _ = pipelines(MODEL)
    assert p.convert_candidates("搵到")[1] == ("到", ["dou2", "dou3", "dou6"], "yue", "ranked", "context")
    assert p.convert_candidates("到")[0] == ("到", ["dou6", "dou3", "dou2"], "yue", "ranked", "context")


@pytest.mark.parametrize(
    "user_dict",
    [
        {"到": "dou3|dou2"},  # the user dictionary always wins
        {"搵到": "wan2 dou3"},  # the token is no longer one character
    ],
)
@pytest.mark.parametrize("listed", [False, True], ids=["every-character", "listed"])
def test_model_leaves_alone_what_it_may_not_read(pipelines, user_dict, listed):
    p, plain = pipelines(SCORED if listed else MODEL, user_dict=user_dict)
    assert p.convert_candidates("搵到") == plain.convert_candidates("搵到")
    assert p.convert("搵到") == plain.convert("搵到")


@pytest.mark.parametrize("listed", [False, True], ids=["every-character", "listed"])
@pytest.mark.parametrize("pair, expected", [(["搵到", "去到"], ["dou2", "dou3"]), (["去到", "搵到"], ["dou3", "dou2"])])
def test_repeated_tokens_read_in_their_own_context(pipelines, listed, pair, expected):
    # A text long enough for the per-text memos: the same character reads
    # differently after 搵 and after 去, every time, whichever comes first
    # (a record kept for a token that the model left alone is not one for
    # the token where it moves a reading first).
    model = SCORED if listed else MODEL
    p, plain = pipelines(model)
    text = "，".join(pair * 30)
    got = [r for r in readings(p, text) if r[0] == "到"]
    assert [r[1] for r in got] == expected * 30
    assert p.convert(text) == " ".join(r[1] for r in p.convert_detailed(text))
    assert p.convert_candidates(text) == cm.ContextModel(model).apply(plain.convert_candidates(text))


@pytest.mark.parametrize("listed", [False, True], ids=["every-character", "listed"])
def test_batch_forms_agree_with_single_calls(pipelines, listed):
    p, _ = pipelines(SCORED if listed else MODEL)
    texts = ["搵到", "去到", "開會", "會議題", "，".join(["搵到", "去到", "開會"] * 20), "", "到"]
    assert p.convert_batch(texts) == [p.convert(t) for t in texts]
    assert p.convert_detailed_batch(texts) == [p.convert_detailed(t) for t in texts]
    assert p.convert_candidates_batch(texts) == [p.convert_candidates(t) for t in texts]


def test_only_the_first_sixteen_candidates_take_part(pipelines):
    readings17 = [f"r{i}" for i in range(17)]
    tables = dict(TABLES, char_candidates={"到": "|".join(readings17)})
    p, _ = pipelines({"L到搵": "r16 1000|r15 500"}, tables=tables)
    assert p.convert_candidates("搵到")[1][1][:2] == ["r15", "r0"]


SAMPLE = ["搵到", "去到", "開會", "睇會", "會議題", "搵唔下", "下佢", "到", "搵行", "佢會去", "ABC 到，下"]


@pytest.mark.parametrize(
    "model",
    [
        {},  # no bias and no features: nothing changes
        {"#bias": "0", "L到去": "dou3 5|dou2 5"},  # ties keep the order
        b"not a CJYP table",  # malformed: skipped
        {"#bias": "many", "L到搵": "dou2 9000"},  # a bias that is no integer: the model is skipped
        {"#bias": "", "L到搵": "dou2 x|dou3 1", "R到$": "dou2"},  # malformed weights are left out
        {"L到" + "x" * 70: "dou2 9000", "P到" + "x" * 70: "dou2 9000"},  # keys too long are never looked up
    ],
)
def test_models_that_change_nothing_give_results_identical_to_no_model(pipelines, model):
    p, plain = pipelines(model)
    texts = SAMPLE + ["x" * 70 + "到", "，".join(SAMPLE * 10)]
    for text in texts:
        assert p.convert(text) == plain.convert(text)
        assert p.convert_candidates(text) == plain.convert_candidates(text)
        assert p.convert_detailed(text) == plain.convert_detailed(text)
    assert p.convert_candidates_batch(texts) == plain.convert_candidates_batch(texts)


@pytest.mark.parametrize(
    "chars, changed",
    [
        ("會下行", {"到"}),  # 到 is not listed: never scored
        ("到會下行", set()),
        ("", {"到", "會", "下", "行"}),  # an empty set scores nothing
    ],
)
def test_only_the_listed_characters_are_scored(pipelines, chars, changed):
    model = dict(MODEL, **{cm.CHARS_KEY: chars})
    p, plain = pipelines(model, index=True)
    full, _ = pipelines(MODEL, index=True)
    for text in ["搵到", "到", "開會", "會議題", "搵唔下", "搵行"]:
        token = [r[0] for r in p.convert_detailed(text) if len(r[0]) == 1 and r[0] in "到會下行"][0]
        want = plain if token in changed else full
        assert p.convert_candidates(text) == want.convert_candidates(text)
        assert p.convert(text) == want.convert(text)
        assert p.convert_candidates(text) == cm.ContextModel(model).apply(plain.convert_candidates(text))


@pytest.mark.parametrize("index", [False, True], ids=["searched", "trie"])
@pytest.mark.parametrize("text, reading", [("搵到", "dou2"), ("搵到佢", "dou6")])
def test_a_b_key_found_stands_for_l_and_r(pipelines, index, text, reading):
    model = {"#bias": "500", "B到搵$": "dou2 600", "L到搵": "dou6 5000"}
    p, plain = pipelines(model, index=index)
    assert readings(p, text)[1] == ("到", reading, "context")
    assert p.convert_candidates(text) == cm.ContextModel(model).apply(plain.convert_candidates(text))


@pytest.mark.parametrize(
    "value",
    [
        "dou2 600",  # some readings left out, in the candidates' order
        "dou6 700|dou2 600",  # out of order
        "dou2 300|dou2 600",  # listed twice: the last weight counts
        "dou3 -1|dou6 2|dou2 3",
        "dou2 60",  # the last pair shorter than eight bytes
        "dou2  600",  # two spaces: the reading is "dou2 ", no candidate
        "dou2 +600|dou3 -0",
    ],
)
@pytest.mark.parametrize("long_readings", [False, True], ids=["short", "long"])
def test_weights_name_any_of_the_candidates(pipelines, value, long_readings):
    tables, model = TABLES, {"#bias": "500", "L到搵": value}
    if long_readings:  # readings longer than seven bytes are compared in full
        rename = {"dou2": "dou2-long", "dou6": "dou6-longer"}
        tables = dict(TABLES, char_candidates=dict(TABLES["char_candidates"], 到="dou3|dou2-long|dou6-longer"))
        for short, long in rename.items():
            value = value.replace(short + " ", long + " ")
        model = {"#bias": "500", "L到搵": value}
    p, plain = pipelines(model, tables=tables)
    assert p.convert_candidates("搵到") == cm.ContextModel(model).apply(plain.convert_candidates("搵到"))


def test_malformed_weights_leave_the_other_features(pipelines):
    p, _ = pipelines({"L到搵": "dou2 1x", "R到$": "dou2 10"})
    assert readings(p, "搵到")[1] == ("到", "dou2", "context")


SPREAD_TEXTS = ["搵唔下", "搵唔下佢", "會議題", "開會", "開會議題", "搵到", "到", "搵行", "下佢"]


@pytest.mark.parametrize("index", [False, True], ids=["searched", "trie"])
@pytest.mark.parametrize(
    "spreads",
    [
        cm.spreads(SCORED),  # as the trainer writes them
        {"S下": "P 90000|N 90000|V 90000", "S會": "P 90000|N 90000|V 90000"},  # looser than they are
        {},  # none: every lookup is made
        {"S下": "P -900", "S會": "N 600|V"},  # malformed: every lookup is made
        {"S下": "P 900|", "S會": "X 600", "S到": "P  5"},
    ],
    ids=["trained", "loose", "none", "malformed", "malformed-2"],
)
def test_spreads_leave_every_decision_as_it_is(pipelines, index, spreads):
    model = dict(SCORED, **spreads)
    p, plain = pipelines(model, index=index)
    reference = cm.ContextModel(model)
    for text in SPREAD_TEXTS:
        records = reference.apply(plain.convert_candidates(text))
        assert p.convert_candidates(text) == records
        assert p.convert(text) == " ".join(r[1][0] for r in records)
    # P (搵唔下), N (會議題) and V (開會) features decide here.
    assert [readings(p, t)[-1][1] for t in ("搵唔下", "開會")] == ["haa5", "wui2"]
    assert readings(p, "會議題")[0][1] == "wui2"


def test_a_spread_the_file_gives_is_trusted(pipelines):
    # An S key that says P cannot move 下's candidates apart: after L, R and
    # B the leader is ahead, so P is not looked up.
    p, _ = pipelines(dict(SCORED, **{"S下": "P 0"}), index=True)
    assert readings(p, "搵唔下")[1] == ("下", "haa6", "unknown")


@pytest.fixture(scope="module")
def bundled_without_model(tmp_path_factory):
    path = tmp_path_factory.mktemp("bundled") / "data"
    shutil.copytree(merrow.DATA_DIR, path)
    os.remove(path / cm.FILE_NAME)
    return str(path)


def test_bundled_model_is_loaded(bundled_without_model):
    import _merrow

    with_model = _merrow.PyPipeline(data_dir=merrow.DATA_DIR)
    text = "我搵唔到佢，佢去咗邊度呀？你哋開完會未？"
    model = cm.find(merrow.DATA_DIR)
    reference = model.apply(_merrow.PyPipeline(data_dir=bundled_without_model).convert_candidates(text))
    assert with_model.convert_candidates(text) == reference


@pytest.mark.parametrize("per_text", [1, 50], ids=["utterances", "documents"])
def test_hkcancor_development_half_agrees_with_the_reference_applier(bundled_without_model, per_text):
    # Documents are long enough for the per-text memos.
    pytest.importorskip("pycantonese")
    import _merrow
    import dev_sets

    utterances = [u.text for u in dev_sets.set_a(modern=True).utterances]
    texts = ["".join(utterances[i:i + per_text]) for i in range(0, len(utterances), per_text)]
    with_model = _merrow.PyPipeline(data_dir=merrow.DATA_DIR)
    without = _merrow.PyPipeline(data_dir=bundled_without_model)
    model = cm.find(merrow.DATA_DIR)
    got = with_model.convert_candidates_batch(texts)
    reference = [model.apply(records) for records in without.convert_candidates_batch(texts)]
    assert got == reference
    assert sum(r[4] == "context" for records in got for r in records) > 100
    # convert prints rank 0 wherever the model chose, and everywhere on this data.
    assert with_model.convert_batch(texts) == [" ".join(r[1][0] for r in records) for records in got]
