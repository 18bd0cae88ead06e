"""List conversions on the worker pool: results, argument errors, pool sizing,
threads and fork."""

import json
import os
import subprocess
import sys
import textwrap
import threading

import pytest

import _merrow

WORDS = {"香港": "hoeng1 gong2", "你好": "nei5 hou2", "廣東話": "gwong2 dung1 waa2"}
CHARS = {"香": "hoeng1", "港": "gong2", "你": "nei5", "好": "hou2", "人": "jan4", "話": "waa2"}

TEXTS = [
    "香港人你好",
    "",
    "廣東話 hello world 123！",
    "好",
    "（香港）$100 50%",
    "你好" * 2000,
    "",
    "abc",
    "人" * 7 + "香港" * 3,
]

METHODS = [
    ("convert_batch", "convert"),
    ("convert_detailed_batch", "convert_detailed"),
    ("convert_candidates_batch", "convert_candidates"),
]

POOL_NOT_INITIALIZED = "The global thread pool has not been initialized."


@pytest.fixture
def data_dir(make_data_dir):
    return make_data_dir(word=WORDS, char=CHARS)


@pytest.fixture
def pipeline(data_dir):
    return _merrow.PyPipeline.from_dir(data_dir)


def run_python(code, data_dir, env_vars=None):
    """Runs `code` in a fresh interpreter with DATA set to the data directory;
    returns what it prints as JSON on its last line."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("RAYON_")}
    env.update(env_vars or {})
    prelude = textwrap.dedent(
        f"""
        import json, os, sys, warnings
        warnings.simplefilter("ignore", DeprecationWarning)
        import _merrow
        DATA = {data_dir!r}
        def threads():
            return len(os.listdir("/proc/self/task"))
        """
    )
    done = subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(code)],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


# ---- results -------------------------------------------------------------------


@pytest.mark.parametrize("batch, single", METHODS)
@pytest.mark.parametrize(
    "texts",
    [[], [""], ["香港"], TEXTS, TEXTS * 40, [TEXTS[5]] + [""] * 300 + ["好"]],
    ids=["empty", "one-empty", "one", "mixed", "many", "uneven"],
)
def test_batch_equals_single_in_order(pipeline, batch, single, texts):
    expected = [getattr(pipeline, single)(t) for t in texts]
    assert getattr(pipeline, batch)(texts) == expected


def test_pipelines_loaded_one_after_another(make_data_dir):
    # Each pipeline is freed before the next is loaded, so the next one's
    # tables tend to sit at the same addresses with other keys: nothing a
    # batch found in the old tables may be used with the new ones.
    import random

    rng = random.Random(7)
    alphabet = "香港人你好話廣東一二三"
    texts = ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 40))) for _ in range(200)]
    for round_ in range(12):
        words = {
            "".join(rng.choice(alphabet) for _ in range(rng.randint(1, 4))): f"w{round_} {i}"
            for i in range(rng.randint(0, 60))
        }
        pipeline = _merrow.PyPipeline.from_dir(make_data_dir(word=words, char=CHARS))
        for batch, single in METHODS:
            assert getattr(pipeline, batch)(texts) == [getattr(pipeline, single)(t) for t in texts]
        del pipeline


def test_empty_strings_give_empty_results(pipeline):
    assert pipeline.convert_batch(["", ""]) == ["", ""]
    assert pipeline.convert_detailed_batch([""]) == [[]]
    assert pipeline.convert_candidates_batch([""]) == [[]]


def test_list_subclass_and_keyword(pipeline):
    class Texts(list):
        pass

    assert pipeline.convert_batch(Texts(["香港"])) == ["hoeng1 gong2"]
    assert pipeline.convert_batch(texts=["你好"]) == ["nei5 hou2"]


def test_elements_may_be_str_subclasses(pipeline):
    class Text(str):
        pass

    assert pipeline.convert_batch([Text("香港"), "人"]) == ["hoeng1 gong2", "jan4"]


@pytest.mark.parametrize("threads", ["1", "2", "5"])
def test_every_pool_size_gives_the_same_results(data_dir, pipeline, threads):
    got = run_python(
        f"""
        p = _merrow.PyPipeline.from_dir(DATA)
        texts = {TEXTS!r} * 25
        print(json.dumps([p.convert_batch(texts), p.convert_detailed_batch(texts),
                          p.convert_candidates_batch(texts)]))
        """,
        data_dir,
        {"RAYON_NUM_THREADS": threads},
    )
    texts = TEXTS * 25
    expected = [
        [pipeline.convert(t) for t in texts],
        [[list(rec) for rec in pipeline.convert_detailed(t)] for t in texts],
        [[list(rec) for rec in pipeline.convert_candidates(t)] for t in texts],
    ]
    assert got == expected


# ---- argument errors -------------------------------------------------------------


@pytest.mark.parametrize("batch", [m for m, _ in METHODS])
@pytest.mark.parametrize(
    "value, message",
    [
        (("香港",), "'tuple' object is not an instance of 'list'"),
        (iter(["香港"]), "'list_iterator' object is not an instance of 'list'"),
        ("香港", "'str' object is not an instance of 'list'"),
        ({"香港": 1}, "'dict' object is not an instance of 'list'"),
        (None, "'None' is not an instance of 'list'"),
    ],
)
def test_texts_not_a_list(pipeline, batch, value, message):
    with pytest.raises(TypeError) as info:
        getattr(pipeline, batch)(value)
    assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'texts'"]


@pytest.mark.parametrize("batch", [m for m, _ in METHODS])
@pytest.mark.parametrize(
    "texts, message",
    [
        (["香港", "好", 5], "'int' object is not an instance of 'str'"),
        ([None], "'None' is not an instance of 'str'"),
        ([b"abc", 5], "'bytes' object is not an instance of 'str'"),
        (["a", ["b"]], "'list' object is not an instance of 'str'"),
    ],
)
def test_bad_element_raises_without_note(pipeline, batch, texts, message):
    with pytest.raises(TypeError) as info:
        getattr(pipeline, batch)(texts)
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize("batch", [m for m, _ in METHODS])
@pytest.mark.parametrize("bad_at", [0, 2500, 4999])
def test_bad_element_in_a_long_list(pipeline, batch, bad_at):
    # With the pool running, a bad element anywhere in a long list ends the
    # call with its own error and no result, and the pool goes on working.
    f = getattr(pipeline, batch)
    f(["香港"])
    texts = ["香港好" * 20] * 5000
    texts[bad_at] = 5
    with pytest.raises(TypeError) as info:
        f(texts)
    assert str(info.value) == "'int' object is not an instance of 'str'"
    texts[bad_at] = "香港好"
    single = getattr(pipeline, dict(METHODS)[batch])
    assert f(texts) == [single(t) for t in texts]


def test_unencodable_element(pipeline):
    with pytest.raises(UnicodeEncodeError) as info:
        pipeline.convert_batch(["香港", "\ud800"])
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda p: p.convert_batch(), "PyPipeline.convert_batch() missing 1 required positional argument: 'texts'"),
        (
            lambda p: p.convert_batch([], []),
            "PyPipeline.convert_batch() takes 1 positional arguments but 2 were given",
        ),
        (
            lambda p: p.convert_detailed_batch([], texts=[]),
            "PyPipeline.convert_detailed_batch() got multiple values for argument 'texts'",
        ),
        (
            lambda p: p.convert_candidates_batch(text=[]),
            "PyPipeline.convert_candidates_batch() got an unexpected keyword argument 'text'",
        ),
    ],
)
def test_binding_errors(pipeline, call, message):
    with pytest.raises(TypeError) as info:
        call(pipeline)
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


def test_rejected_list_starts_no_pool(data_dir):
    got = run_python(
        """
        p = _merrow.PyPipeline.from_dir(DATA)
        before = threads()
        try:
            p.convert_batch(["a", 5])
        except TypeError:
            pass
        after_error = threads()
        p.convert_batch([])
        print(json.dumps([before, after_error, threads()]))
        """,
        data_dir,
        {"RAYON_NUM_THREADS": "2"},
    )
    assert got == [1, 1, 3]


# ---- pool size -----------------------------------------------------------------

POOL_SIZE_SCRIPT = """
    p = _merrow.PyPipeline.from_dir(DATA)
    before = threads()
    p.convert_batch(["香港"])
    first = threads() - before
    os.environ["RAYON_NUM_THREADS"] = "7"
    p.convert_detailed_batch(["香港", "你好"])
    _merrow.PyPipeline.from_dir(DATA).convert_batch([])
    print(json.dumps([first, threads() - before, len(os.sched_getaffinity(0))]))
"""


@pytest.mark.parametrize(
    "num_threads, num_cpus, expected",
    [
        ("3", None, 3),
        ("3", "5", 3),
        ("+2", None, 2),
        ("1", None, 1),
        ("0", None, "default"),
        ("0", "3", "default"),
        ("abc", None, "default"),
        ("abc", "3", 3),
        ("-2", None, "default"),
        ("-2", "3", 3),
        (" 2", None, "default"),
        (" 2", "3", 3),
        (None, "4", 4),
        (None, "0", "default"),
        (None, None, "default"),
    ],
)
def test_pool_size_from_environment(data_dir, num_threads, num_cpus, expected):
    env = {}
    if num_threads is not None:
        env["RAYON_NUM_THREADS"] = num_threads
    if num_cpus is not None:
        env["RAYON_RS_NUM_CPUS"] = num_cpus
    started, after_more_calls, processors = run_python(POOL_SIZE_SCRIPT, data_dir, env)
    assert started == (processors if expected == "default" else expected)
    # One pool for all calls and pipelines; later changes to the variables do nothing.
    assert after_more_calls == started


def test_default_size_follows_affinity(data_dir):
    got = run_python(
        """
        os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
        before = threads()
        _merrow.PyPipeline.from_dir(DATA).convert_batch(["香港", "你好", "人"])
        print(json.dumps(threads() - before))
        """,
        data_dir,
    )
    assert got == 1


def test_pool_that_cannot_start(data_dir):
    got = run_python(
        """
        p = _merrow.PyPipeline.from_dir(DATA)
        outcomes = []
        for call in (lambda: p.convert_batch(["香港"]), lambda: p.convert_candidates_batch([])):
            try:
                call()
                outcomes.append(None)
            except Exception as e:
                outcomes.append(["Exception", repr(e)])
            except BaseException as e:
                outcomes.append([type(e).__name__, str(e)])
        print(json.dumps([outcomes, threads(), p.convert("香港")]))
        """,
        data_dir,
        {"RAYON_NUM_THREADS": "1000000000000000000"},
    )
    outcomes, thread_count, single = got
    for outcome in outcomes:
        assert outcome is not None and outcome[0] != "Exception"
        assert outcome[1].startswith(POOL_NOT_INITIALIZED)
    assert thread_count == 1
    assert single == "hoeng1 gong2"


# ---- threads and fork ------------------------------------------------------------


def test_python_threads_share_pipelines_and_pool(make_data_dir):
    pipelines = [
        _merrow.PyPipeline.from_dir(make_data_dir(word=WORDS, char=CHARS)),
        _merrow.PyPipeline.from_dir(make_data_dir(word={"人": "jan4 (word)"}, char=CHARS)),
    ]
    texts = TEXTS * 10
    expected = [[p.convert(t) for t in texts] for p in pipelines]
    expected_detailed = [[p.convert_detailed(t) for t in texts] for p in pipelines]
    failures = []

    def worker(k):
        try:
            for round_ in range(15):
                which = (k + round_) % 2
                p = pipelines[which]
                if round_ % 3 == 0:
                    assert p.convert_detailed_batch(texts) == expected_detailed[which]
                elif round_ % 3 == 1:
                    assert p.convert_batch(texts) == expected[which]
                else:
                    assert [p.convert(t) for t in texts[:20]] == expected[which][:20]
        except BaseException as e:  # reported by the main thread
            failures.append(e)

    threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_batch_in_forked_child(data_dir):
    got = run_python(
        f"""
        p = _merrow.PyPipeline.from_dir(DATA)
        texts = {TEXTS!r} * 20
        expected = p.convert_batch(texts)
        parent_threads = threads()
        pid = os.fork()
        if pid == 0:
            ok = threads() == 1
            ok = ok and p.convert_batch(texts) == expected
            ok = ok and threads() == 3
            ok = ok and _merrow.PyPipeline.from_dir(DATA).convert_batch(texts[:5]) == expected[:5]
            os._exit(0 if ok else 1)
        _, status = os.waitpid(pid, 0)
        print(json.dumps([parent_threads, os.waitstatus_to_exitcode(status),
                          p.convert_batch(texts) == expected]))
        """,
        data_dir,
        {"RAYON_NUM_THREADS": "2"},
    )
    assert got == [3, 0, True]


def test_batch_in_multiprocessing_fork_workers(data_dir):
    got = run_python(
        f"""
        import multiprocessing
        p = _merrow.PyPipeline.from_dir(DATA)
        TEXTS = {TEXTS!r}
        p.convert_batch(TEXTS)  # the parent's pool exists before the fork

        def work(k):
            texts = TEXTS[k:] * 10
            return p.convert_batch(texts) == [p.convert(t) for t in texts]

        with multiprocessing.get_context("fork").Pool(2) as workers:
            results = workers.map(work, range(6))
        print(json.dumps([results, p.convert_batch(TEXTS) == [p.convert(t) for t in TEXTS]]))
        """,
        data_dir,
        {"RAYON_NUM_THREADS": "2"},
    )
    assert got == [[True] * 6, True]
