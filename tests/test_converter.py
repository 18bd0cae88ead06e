"""Converter: same results as the pipeline, pickles as configuration only,
and works as the function of process pools under fork and spawn."""

import concurrent.futures
import multiprocessing
import os
import pathlib
import pickle
import warnings

import pytest

import _merrow
import merrow
from merrow import cjyp
from merrow.converter import Converter
from synthetic_corpus import CHAR, USER, WORD, corpus_lines

TEXTS = corpus_lines(300, seed=1) + ["", "（飲茶）$100", "hello, 你哋！"]
METHODS = ("convert", "convert_detailed", "convert_candidates")


@pytest.fixture
def data_dir(make_data_dir):
    return make_data_dir(word=WORD, char=CHAR)


@pytest.mark.parametrize("punc_norm", [True, False])
@pytest.mark.parametrize("user_dict", [None, USER])
@pytest.mark.parametrize("method", METHODS)
def test_methods_match_the_pipeline(data_dir, method, punc_norm, user_dict):
    converter = Converter(data_dir, punc_norm=punc_norm, user_dict=user_dict)
    pipeline = _merrow.PyPipeline(punc_norm=punc_norm, data_dir=data_dir, user_dict=user_dict)
    expected = [getattr(pipeline, method)(t) for t in TEXTS]
    assert [getattr(converter, method)(t) for t in TEXTS] == expected
    assert getattr(converter, method + "_batch")(TEXTS) == expected


@pytest.mark.parametrize(
    "wrap", [list, tuple, iter, lambda texts: (t for t in texts), lambda texts: dict.fromkeys(texts)]
)
def test_batch_takes_any_iterable_and_returns_a_list(data_dir, wrap):
    converter = Converter(data_dir)
    texts = list(dict.fromkeys(TEXTS))  # unique, so the dict form keeps them all
    result = converter.convert_batch(wrap(texts))
    assert type(result) is list
    assert result == [converter.convert(t) for t in texts]


def test_pickle_sends_configuration_not_the_pipeline(make_data_dir):
    # A dictionary big enough that any pickled pipeline data would show.
    big_word = {f"{a}{b}{c}": "x" for a in CHAR for b in CHAR for c in "我你佢好"}
    data_dir = make_data_dir(word={**WORD, **big_word}, char=CHAR)
    converter = Converter(data_dir, user_dict=USER)
    before = pickle.dumps(converter)
    expected = converter.convert_batch(TEXTS)  # builds the pipeline
    after = pickle.dumps(converter)
    assert after == before
    assert len(after) < 600

    copy = pickle.loads(after)
    assert copy.data_dir == data_dir and copy.user_dict == USER and copy.punc_norm is True
    assert copy.convert_batch(TEXTS) == expected
    # A bound method (what Pool.map pickles) carries the same small state.
    assert len(pickle.dumps(converter.convert)) < len(after) + 100


def test_copies_share_one_pipeline_per_process_and_configs_do_not_mix(data_dir):
    plain = Converter(data_dir)
    with_user = Converter(data_dir, user_dict=USER)
    assert pickle.loads(pickle.dumps(plain)).pipeline is plain.pipeline
    assert Converter(data_dir).pipeline is plain.pipeline
    assert pickle.dumps(Converter(data_dir, user_dict=dict(reversed(USER.items())))) == pickle.dumps(with_user)
    assert with_user.pipeline is not plain.pipeline
    assert Converter(data_dir, punc_norm=False).pipeline is not plain.pipeline
    assert plain.convert("飲茶") == "jam2 caa4"
    assert with_user.convert("飲茶") == "jam3 caa1"
    assert pickle.loads(pickle.dumps(with_user)).convert("飲茶") == "jam3 caa1"


def test_replaced_dictionary_reaches_new_converters(data_dir):
    old = Converter(data_dir)
    assert old.convert("今日") == "gam1 jat6"
    cjyp.write(os.path.join(data_dir, "word.bin"), {**WORD, "今日": "NEW"})
    assert Converter(data_dir).convert("今日") == "NEW"
    assert old.convert("今日") == "gam1 jat6"  # keeps the files it mapped


def test_configuration_is_copied_and_read_only(data_dir):
    words = dict(USER)
    converter = Converter(pathlib.Path(data_dir), user_dict=words)
    words["飲茶"] = "changed"
    converter.user_dict["飲茶"] = "changed too"
    assert converter.data_dir == data_dir
    assert converter.convert("飲茶") == "jam3 caa1"
    with pytest.raises(AttributeError):
        converter.punc_norm = False


@pytest.mark.parametrize(
    "kwargs",
    [
        {"punc_norm": 1},
        {"data_dir": b"/tmp"},
        {"data_dir": 3},
        {"user_dict": [("飲茶", "x")]},
        {"user_dict": {"飲茶": 1}},
        {"user_dict": {1: "x"}},
    ],
)
def test_bad_configuration_fails_at_construction(kwargs):
    with pytest.raises(TypeError):
        Converter(**kwargs)


def test_missing_data_dir_fails_at_first_use_not_construction(tmp_path):
    converter = Converter(tmp_path / "absent")
    with pytest.raises(RuntimeError):
        converter.convert("你好")


def test_default_data_dir_is_resolved_when_the_pipeline_is_built(data_dir, monkeypatch):
    converter = Converter()
    monkeypatch.setattr(merrow, "DATA_DIR", data_dir, raising=False)
    assert converter.convert("今日好天氣") == "gam1 jat6 hou2 tin1 hei3"


# Process pools. The pipeline's worker threads may already run in this
# process when it forks; the child must still convert batches.


def _pool_results(start_method, converter, texts, chunks):
    ctx = multiprocessing.get_context(start_method)
    with warnings.catch_warnings():
        warnings.filterwarnings("ignore", "This process .* is multi-threaded", DeprecationWarning)
        with ctx.Pool(2) as pool:
            per_text = pool.map_async(converter.convert, texts, chunksize=25).get(timeout=60)
            per_list = pool.map_async(converter.convert_batch, chunks).get(timeout=60)
        with concurrent.futures.ProcessPoolExecutor(2, mp_context=ctx) as executor:
            futures = [executor.submit(converter.convert_detailed, t) for t in texts[:50]]
            detailed = [f.result(timeout=60) for f in futures]
            mapped = list(executor.map(converter.convert, texts, chunksize=25, timeout=60))
    return per_text, per_list, detailed, mapped


@pytest.mark.parametrize("start_method", ["fork", "spawn"])
@pytest.mark.parametrize("built_before", [False, True], ids=["fresh", "built-in-parent"])
def test_process_pools(data_dir, start_method, built_before):
    if start_method not in multiprocessing.get_all_start_methods():
        pytest.skip(f"no {start_method} start method here")
    converter = Converter(data_dir, user_dict=USER)
    texts = TEXTS
    chunks = [texts[i : i + 40] for i in range(0, len(texts), 40)]
    pipeline = _merrow.PyPipeline(data_dir=data_dir, user_dict=USER)
    expected = [pipeline.convert(t) for t in texts]
    if built_before:
        assert converter.convert_batch(texts) == expected

    per_text, per_list, detailed, mapped = _pool_results(start_method, converter, texts, chunks)
    assert per_text == expected
    assert [line for chunk in per_list for line in chunk] == expected
    assert detailed == [pipeline.convert_detailed(t) for t in texts[:50]]
    assert mapped == expected


def test_bundled_data_by_default():
    if not os.path.exists(os.path.join(getattr(merrow, "DATA_DIR", ""), "word.bin")):
        pytest.skip("no bundled data in this build")
    bundled = _merrow.PyPipeline(data_dir=merrow.DATA_DIR)
    texts = ["香港", "我哋去飲茶。", "$100"]
    assert Converter().convert_batch(texts) == bundled.convert_batch(texts)
    assert pickle.loads(pickle.dumps(Converter())).convert("香港") == bundled.convert("香港")
