"""Development-set tooling: modern respelling of set A, the set B reader and
locator, and the oral_hk selection rule of tools/dev_measure.py on small
fixtures (no corpus and no installed source needed)."""

import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "bench"))

import dev_measure  # noqa: E402
import dev_sets  # noqa: E402
import hkcancor_gold as gold  # noqa: E402
from dictionary_layers import Sources  # noqa: E402


def utterance(text, readings):
    han = "".join(ch for ch in text if gold.is_han(ch))
    return gold.Utterance(text, han, tuple(readings.split()), "f")


@pytest.mark.parametrize(
    "text, readings, modern",
    [
        ("哩個喇", "ni1 go3 laa1", "呢個啦"),
        ("喇", "laa3", "喇"),  # only the laa1 spelling is old
        ("嚹", "laa3", "喇"),  # any reading; no chaining on to 啦
        ("出來, 來", "ceot1 lai4 loi4", "出嚟, 來"),
        ("去A來", "heoi3 lei4", "去A嚟"),  # Latin letters do not shift the gold index
        ("𡃉", "gaa3", "㗎"),
    ],
)
def test_modernise_respells_by_gold_reading(text, readings, modern):
    u = dev_sets.modernise(utterance(text, readings), dev_sets.read_respelling())
    assert u.text == modern
    assert u.han == "".join(ch for ch in modern if gold.is_han(ch))
    assert u.gold == tuple(readings.split())


def test_respelling_table_rejects_bad_lines(tmp_path):
    path = tmp_path / "r.tsv"
    path.write_text("來\tlai4\t嚟嚟\n", encoding="utf-8")
    with pytest.raises(ValueError, match="r.tsv:1"):
        dev_sets.read_respelling(str(path))


def test_parse_set_b():
    text = "佢 去咗\nkeoi5 heoi3 zo2\n\n唔啱\nm4 ngaam1 ngaam1\n\n啱\nAam1\n\nOK\n\n"
    loaded = dev_sets.parse_set_b(text)
    assert [(u.text, u.han, u.gold) for u in loaded.utterances] == [
        ("佢 去咗", "佢去咗", ("keoi5", "heoi3", "zo2")),
        ("啱", "啱", ("aam1",)),  # normalised like HKCanCor's gold
    ]
    # Three syllables for two characters, and a block without Han text.
    assert loaded.unusable == 2


def test_set_b_is_found_through_the_environment(tmp_path, monkeypatch):
    (tmp_path / dev_sets.SET_B_NAME).write_text("好\nhou2\n\n", encoding="utf-8")
    monkeypatch.setenv(dev_sets.SET_B_ENV, str(tmp_path))
    assert dev_sets.set_b_path() == str(tmp_path / dev_sets.SET_B_NAME)
    assert [u.gold for u in dev_sets.set_b().utterances] == [("hou2",)]


def test_missing_set_b_is_reported_not_raised(tmp_path, monkeypatch):
    monkeypatch.delenv(dev_sets.SET_B_ENV, raising=False)
    monkeypatch.setattr(dev_sets, "ROOT", str(tmp_path / "checkout"))
    monkeypatch.chdir(tmp_path)
    assert dev_sets.set_b_path() is None and dev_sets.set_b() is None
    assert dev_sets.SET_B_ENV in dev_sets.set_b_missing_message()


# --- the selection rule ------------------------------------------------------

def rule_sources(oral_hk):
    return Sources(
        oral_hk=oral_hk,
        tojyutping_chars={"喇": ["laa3", "laa1"], "好": ["hou2"], "啦": ["laa1"]},
        rime={"喇": "laa3", "好": "hou2", "啦": "laa1"},
    )


SETS = {
    "A-mod": [utterance("好喇", "hou2 laa1"), utterance("好喇", "hou2 laa3")],
    "B": [utterance("好喇", "hou2 laa3"), utterance("好喇", "hou2 laa3")],
}


@pytest.mark.parametrize(
    "oral_hk, effects",
    [
        # Fixes one character of A and breaks two of B: fails the rule.
        ({"喇": "laa1"}, {"A-mod": (1, 1), "B": (0, 2)}),
        # Replaces a default by itself: changes nothing, which fails too.
        ({"喇": "laa3"}, {"A-mod": (0, 0), "B": (0, 0)}),
    ],
)
def test_entry_effects_and_rule(oral_hk, effects):
    found = dev_measure.entry_effects(rule_sources(oral_hk), SETS, ("oral_hk", "tojyutping", "rime", "unihan"))
    assert found == {"喇": effects}
    assert not dev_measure.passes(found["喇"])


def test_passes_needs_a_gain_on_every_set():
    assert dev_measure.passes({"A-mod": (3, 2), "B": (1, 0)})
    assert not dev_measure.passes({"A-mod": (300, 0), "B": (0, 0)})


def test_rewrite_records_measurements_and_drops_failures(tmp_path):
    path = tmp_path / "oral_hk.tsv"
    path.write_text("# comment\n\n喇\tlaa1\tparticle; default laa3; dev +9\n"
                    "好\thou2\tkind; default hou3\n", encoding="utf-8")
    dev_measure.rewrite_oral_hk(str(path), {
        "喇": {"A-mod": (5, 1), "B": (0, 3)},
        "好": {"A-mod": (5, 1), "B": (2, 0)},
    })
    assert path.read_text(encoding="utf-8") == (
        "# comment\n\n好\thou2\tkind; default hou3; A-mod removes 5 adds 1; B removes 2 adds 0\n")


def test_suggest_proposes_only_what_gains_on_both_sets(capsys):
    sets = {
        "A-mod": [utterance("好喇", "hou2 laa1")] * 3,
        "B": [utterance("好喇", "hou2 laa1")] * 3 + [utterance("喇", "laa3")],
    }
    order = ("oral_hk", "tojyutping", "rime", "unihan")
    dev_measure.cmd_suggest(rule_sources({}), sets, order, min_gain=4, min_each=2)
    assert capsys.readouterr().out == "喇\tlaa1\tsuggested; default laa3; A-mod +3 B +2\n"
    sets["B"] = sets["B"] + [utterance("喇", "laa3")]  # now B gains only 1
    dev_measure.cmd_suggest(rule_sources({}), sets, order, min_gain=4, min_each=2)
    assert capsys.readouterr().out == ""
