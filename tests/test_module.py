"""The _merrow module, the PyPipeline class, argument binding and the
conversion of argument values."""

import collections
import gc
import importlib.util
import os
import pathlib
import types
import weakref

import pytest

import _merrow
from _merrow import PyPipeline

# The public texts of the class and its methods, pinned once: in declaration
# order, name -> (text signature, docstring).
CLASS_DOC = "Cantonese G2P pipeline exposed to Python via PyO3."
METHOD_DOCS = {
    "convert": ("($self, text)", "Convert a single string to Jyutping-annotated output."),
    "convert_batch": ("($self, texts)", "Convert a list of strings in parallel (Rayon)."),
    "convert_detailed": (
        "($self, text)",
        "Convert text to a list of (token, jyutping, lang, confidence, source)\n"
        'tuples. lang is "yue" (Cantonese CJK), "en" (Latin/English), or\n'
        '"punct" (punctuation/symbol). jyutping is always the rank-0\n'
        "(most-likely) reading. confidence/source are described on\n"
        "convert_candidates().",
    ),
    "convert_detailed_batch": (
        "($self, texts)",
        "Convert a list of strings in parallel (Rayon); same per-text shape as\n"
        "`convert_detailed()`.",
    ),
    "convert_candidates": (
        "($self, text)",
        "Convert text to a list of (token, candidate_readings, lang,\n"
        "confidence, source) tuples. candidate_readings is rank-ordered\n"
        "(most-likely first); it has more than one entry only where the\n"
        "bundled data has 2+ known readings for that token (or, for OOV\n"
        'single chars, that character). confidence is "certain" (no\n'
        'ambiguity), "ranked" (ToJyutping\'s own context-aware ranking), or\n'
        '"tied" (rime-cantonese arbitrary tie-break \u2014 no real preference\n'
        "signal; also the default when the confidence sidecar has no entry\n"
        "for an ambiguous token). No numeric probability is exposed \u2014 no\n"
        "bundled source computes one honestly. source names the data layer\n"
        'that produced candidate_readings[0]: "rime", "tojyutping",\n'
        '"tojyutping_tiebreak", "oral_hk", "unihan", "user_dict",\n'
        '"passthrough", "char_fallback", "unresolved", or "unknown".',
    ),
    "convert_candidates_batch": (
        "($self, texts)",
        "Convert a list of strings in parallel (Rayon); same per-text shape as\n"
        "`convert_candidates()`.",
    ),
    "from_dir": (
        "(dir, punc_norm=True)",
        "Create a Pipeline loading dict files from an explicit directory path.",
    ),
}


class Outer:
    class Inner:
        pass


class StrSub(str):
    pass


@pytest.fixture
def data_dir(make_data_dir):
    return make_data_dir(word={"香港": "hoeng1 gong2"}, char={"香": "hoeng1", "港": "gong2"})


@pytest.fixture
def missing_dir(tmp_path):
    return str(tmp_path / "does-not-exist")


# ---------------------------------------------------------------- module and class


def test_module_attributes():
    assert _merrow.__all__ == ["PyPipeline"]
    assert type(_merrow.__all__) is list and type(_merrow.__all__[0]) is str
    assert _merrow.__doc__ == ""
    assert _merrow.PyPipeline is PyPipeline
    public = sorted(name for name in vars(_merrow) if not name.startswith("_"))
    assert public == ["PyPipeline"]


def test_class_identity_attributes():
    assert PyPipeline.__module__ == "builtins"
    assert PyPipeline.__name__ == "PyPipeline"
    assert PyPipeline.__qualname__ == "PyPipeline"
    assert PyPipeline.__bases__ == (object,)
    assert PyPipeline.__doc__ == CLASS_DOC
    assert PyPipeline.__text_signature__ == "(punc_norm=True, data_dir=None, user_dict=None)"


@pytest.mark.parametrize("name", list(METHOD_DOCS))
def test_method_signature_and_doc(name):
    signature, doc = METHOD_DOCS[name]
    method = getattr(PyPipeline, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ == doc


def test_methods_in_declared_order():
    names = [name for name in vars(PyPipeline) if name in METHOD_DOCS]
    assert names == list(METHOD_DOCS)
    assert isinstance(vars(PyPipeline)["from_dir"], staticmethod)
    assert not hasattr(PyPipeline, "__init__") or PyPipeline.__init__ is object.__init__


def test_cannot_subclass():
    with pytest.raises(TypeError):
        type("Derived", (PyPipeline,), {})


def test_instance_has_no_dict_and_no_weakref(empty_pipeline):
    with pytest.raises(AttributeError):
        empty_pipeline.extra = 1
    with pytest.raises(AttributeError):
        empty_pipeline.convert = None
    with pytest.raises(TypeError):
        weakref.ref(empty_pipeline)
    assert not gc.is_tracked(empty_pipeline)


def test_class_attributes_are_assignable():
    PyPipeline.extra_marker = 5
    try:
        assert PyPipeline.extra_marker == 5
    finally:
        del PyPipeline.extra_marker
    assert not hasattr(PyPipeline, "extra_marker")


def test_instances_are_named_after_the_builtins_type(data_dir):
    a = PyPipeline.from_dir(data_dir)
    assert repr(a).startswith("<builtins.PyPipeline object at 0x")
    assert type(a) is PyPipeline


def test_from_dir_is_static_and_builds_plain_instances(data_dir):
    p = PyPipeline.from_dir(data_dir)
    q = p.from_dir(data_dir)
    assert type(q) is PyPipeline and q is not p
    assert q.convert("香港") == "hoeng1 gong2"


def _fresh_module(**preset):
    """Runs the module's initialisation again on a new module object, with
    some attributes set beforehand."""
    spec = importlib.util.find_spec("_merrow")
    module = importlib.util.module_from_spec(spec)
    for name, value in preset.items():
        setattr(module, name, value)
    spec.loader.exec_module(module)
    return module


def test_initialising_another_module_object_reuses_the_type():
    module = _fresh_module()
    assert module is not _merrow
    assert module.__all__ == ["PyPipeline"]
    assert module.PyPipeline is PyPipeline
    assert _merrow.__all__ == ["PyPipeline"]


def test_initialisation_appends_to_an_existing_all():
    assert _fresh_module(__all__=["Other"]).__all__ == ["Other", "PyPipeline"]


def test_initialisation_refuses_an_all_that_is_not_a_list():
    with pytest.raises(TypeError) as info:
        _fresh_module(__all__=("Other",))
    assert str(info.value) == "'tuple' object is not an instance of 'list'"


def test_initialisation_raises_other_lookup_errors_as_they_are():
    def module_getattr(name):
        raise KeyError(name)

    with pytest.raises(KeyError):
        _fresh_module(__getattr__=module_getattr)


# ---------------------------------------------------------------- argument binding

BINDING_ERRORS = [
    # more positional arguments than parameters
    (lambda P, p, d: p.convert("a", "b"), "PyPipeline.convert() takes 1 positional arguments but 2 were given"),
    (
        lambda P, p, d: p.convert_detailed("a", "b", "c"),
        "PyPipeline.convert_detailed() takes 1 positional arguments but 3 were given",
    ),
    (
        lambda P, p, d: p.convert_candidates("a", "b"),
        "PyPipeline.convert_candidates() takes 1 positional arguments but 2 were given",
    ),
    (
        lambda P, p, d: p.convert_batch(["a"], ["b"]),
        "PyPipeline.convert_batch() takes 1 positional arguments but 2 were given",
    ),
    (
        lambda P, p, d: P(True, d, None, None),
        "PyPipeline.__new__() takes from 0 to 3 positional arguments but 4 were given",
    ),
    (
        lambda P, p, d: P(True, d, None, None, None),
        "PyPipeline.__new__() takes from 0 to 3 positional arguments but 5 were given",
    ),
    (
        lambda P, p, d: P.from_dir(d, True, None),
        "PyPipeline.from_dir() takes from 1 to 2 positional arguments but 3 were given",
    ),
    (
        lambda P, p, d: p.from_dir(d, True, None, None),
        "PyPipeline.from_dir() takes from 1 to 2 positional arguments but 4 were given",
    ),
    # the positional count is checked before any keyword is looked at
    (
        lambda P, p, d: p.convert("a", "b", bogus=1),
        "PyPipeline.convert() takes 1 positional arguments but 2 were given",
    ),
    (
        lambda P, p, d: P(1, 2, 3, 4, punc_norm=True),
        "PyPipeline.__new__() takes from 0 to 3 positional arguments but 4 were given",
    ),
    # keywords that name no parameter
    (lambda P, p, d: p.convert(txt="a"), "PyPipeline.convert() got an unexpected keyword argument 'txt'"),
    (lambda P, p, d: p.convert(self="a"), "PyPipeline.convert() got an unexpected keyword argument 'self'"),
    (
        lambda P, p, d: p.convert_detailed("a", texts="b"),
        "PyPipeline.convert_detailed() got an unexpected keyword argument 'texts'",
    ),
    (
        lambda P, p, d: p.convert_candidates(Text="a"),
        "PyPipeline.convert_candidates() got an unexpected keyword argument 'Text'",
    ),
    (lambda P, p, d: P(punc=True), "PyPipeline.__new__() got an unexpected keyword argument 'punc'"),
    (lambda P, p, d: P(dir=d), "PyPipeline.__new__() got an unexpected keyword argument 'dir'"),
    (
        lambda P, p, d: P.from_dir(d, data_dir=d),
        "PyPipeline.from_dir() got an unexpected keyword argument 'data_dir'",
    ),
    (
        lambda P, p, d: P.from_dir(d, user_dict={}),
        "PyPipeline.from_dir() got an unexpected keyword argument 'user_dict'",
    ),
    # keywords for slots that are already filled
    (lambda P, p, d: p.convert("a", text="b"), "PyPipeline.convert() got multiple values for argument 'text'"),
    (
        lambda P, p, d: P(True, punc_norm=False),
        "PyPipeline.__new__() got multiple values for argument 'punc_norm'",
    ),
    (
        lambda P, p, d: P(True, d, data_dir=d),
        "PyPipeline.__new__() got multiple values for argument 'data_dir'",
    ),
    (
        lambda P, p, d: P(True, d, None, user_dict={}),
        "PyPipeline.__new__() got multiple values for argument 'user_dict'",
    ),
    (lambda P, p, d: P.from_dir(d, dir=d), "PyPipeline.from_dir() got multiple values for argument 'dir'"),
    (
        lambda P, p, d: P.from_dir(d, True, punc_norm=True),
        "PyPipeline.from_dir() got multiple values for argument 'punc_norm'",
    ),
    # the first keyword problem in the keyword order wins
    (
        lambda P, p, d: p.convert("a", zzz=1, text="b"),
        "PyPipeline.convert() got an unexpected keyword argument 'zzz'",
    ),
    (
        lambda P, p, d: p.convert("a", text="b", zzz=1),
        "PyPipeline.convert() got multiple values for argument 'text'",
    ),
    # missing required parameters
    (lambda P, p, d: p.convert(), "PyPipeline.convert() missing 1 required positional argument: 'text'"),
    (
        lambda P, p, d: p.convert_detailed(),
        "PyPipeline.convert_detailed() missing 1 required positional argument: 'text'",
    ),
    (
        lambda P, p, d: p.convert_candidates(),
        "PyPipeline.convert_candidates() missing 1 required positional argument: 'text'",
    ),
    (
        lambda P, p, d: p.convert_candidates_batch(),
        "PyPipeline.convert_candidates_batch() missing 1 required positional argument: 'texts'",
    ),
    (lambda P, p, d: P.from_dir(), "PyPipeline.from_dir() missing 1 required positional argument: 'dir'"),
    (
        lambda P, p, d: P.from_dir(punc_norm=True),
        "PyPipeline.from_dir() missing 1 required positional argument: 'dir'",
    ),
    # binding is complete before any value is converted
    (
        lambda P, p, d: P.from_dir(punc_norm=5),
        "PyPipeline.from_dir() missing 1 required positional argument: 'dir'",
    ),
    (lambda P, p, d: p.convert(None, bogus=1), "PyPipeline.convert() got an unexpected keyword argument 'bogus'"),
    (lambda P, p, d: P(punc_norm=1, bogus=1), "PyPipeline.__new__() got an unexpected keyword argument 'bogus'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(call, message, empty_pipeline, data_dir):
    with pytest.raises(TypeError) as info:
        call(PyPipeline, empty_pipeline, data_dir)
    assert str(info.value) == message
    assert type(info.value) is TypeError
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "call",
    [
        lambda P, d: P(data_dir=d, punc_norm=False, user_dict=None),
        lambda P, d: P(False, d),
        lambda P, d: P(True, d, None),
        lambda P, d: P(user_dict={}, data_dir=d),
        lambda P, d: P.from_dir(d),
        lambda P, d: P.from_dir(d, False),
        lambda P, d: P.from_dir(punc_norm=False, dir=d),
        lambda P, d: P.from_dir(dir=d),
    ],
)
def test_accepted_argument_forms(call, data_dir):
    p = call(PyPipeline, data_dir)
    assert type(p) is PyPipeline
    assert p.convert("香港") == "hoeng1 gong2"
    assert p.convert(text="香港") == "hoeng1 gong2"


# ---------------------------------------------------------------- value conversion


def _str_error(type_name):
    return f"'{type_name}' object is not an instance of 'str'"


PATH_TYPE = type(pathlib.Path(".")).__qualname__

VALUE_ERRORS = [
    # text
    (lambda P, p, d, m: p.convert(None), TypeError, "'None' is not an instance of 'str'", "text"),
    (lambda P, p, d, m: p.convert_detailed(5), TypeError, _str_error("int"), "text"),
    (lambda P, p, d, m: p.convert_candidates(b"x"), TypeError, _str_error("bytes"), "text"),
    (lambda P, p, d, m: p.convert(["a"]), TypeError, _str_error("list"), "text"),
    (lambda P, p, d, m: p.convert(text=1.5), TypeError, _str_error("float"), "text"),
    (lambda P, p, d, m: p.convert(Outer.Inner()), TypeError, _str_error("Outer.Inner"), "text"),
    (lambda P, p, d, m: p.convert("a\ud800b"), UnicodeEncodeError, None, "text"),
    (lambda P, p, d, m: p.convert_detailed("\udfff"), UnicodeEncodeError, None, "text"),
    (lambda P, p, d, m: p.convert_candidates(text="\udc80"), UnicodeEncodeError, None, "text"),
    # dir
    (lambda P, p, d, m: P.from_dir(None), TypeError, "'None' is not an instance of 'str'", "dir"),
    (lambda P, p, d, m: P.from_dir(pathlib.Path(d)), TypeError, _str_error(PATH_TYPE), "dir"),
    (lambda P, p, d, m: P.from_dir(d.encode()), TypeError, _str_error("bytes"), "dir"),
    (lambda P, p, d, m: P.from_dir("\ud800"), UnicodeEncodeError, None, "dir"),
    # punc_norm
    (lambda P, p, d, m: P(punc_norm=1, data_dir=d), TypeError, "'int' object is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P(0, d), TypeError, "'int' object is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P(punc_norm=None, data_dir=d), TypeError, "'None' is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P("yes", d), TypeError, "'str' object is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P.from_dir(d, None), TypeError, "'None' is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P.from_dir(d, punc_norm=1), TypeError, "'int' object is not an instance of 'bool'", "punc_norm"),
    (lambda P, p, d, m: P.from_dir(d, 1.0), TypeError, "'float' object is not an instance of 'bool'", "punc_norm"),
    # data_dir
    (lambda P, p, d, m: P(data_dir=pathlib.Path(d)), TypeError, _str_error(PATH_TYPE), "data_dir"),
    (lambda P, p, d, m: P(data_dir=3), TypeError, _str_error("int"), "data_dir"),
    (lambda P, p, d, m: P(True, d.encode()), TypeError, _str_error("bytes"), "data_dir"),
    (lambda P, p, d, m: P(data_dir=d + "\ud800"), UnicodeEncodeError, None, "data_dir"),
    # user_dict: every problem is reported before any file is opened (m does not exist)
    (lambda P, p, d, m: P(data_dir=m, user_dict={"香港": 1}), TypeError, _str_error("int"), "user_dict"),
    (lambda P, p, d, m: P(data_dir=m, user_dict={1: "x"}), TypeError, _str_error("int"), "user_dict"),
    # the key is converted before its value
    (lambda P, p, d, m: P(data_dir=m, user_dict={1: b"x"}), TypeError, _str_error("int"), "user_dict"),
    (lambda P, p, d, m: P(data_dir=m, user_dict={"a": b"x"}), TypeError, _str_error("bytes"), "user_dict"),
    (
        lambda P, p, d, m: P(data_dir=m, user_dict={"a": None}),
        TypeError,
        "'None' is not an instance of 'str'",
        "user_dict",
    ),
    (lambda P, p, d, m: P(data_dir=m, user_dict={"a": "b", "c": 2}), TypeError, _str_error("int"), "user_dict"),
    (
        lambda P, p, d, m: P(data_dir=m, user_dict=[("香港", "x")]),
        TypeError,
        "'list' object is not an instance of 'dict'",
        "user_dict",
    ),
    (
        lambda P, p, d, m: P(data_dir=m, user_dict=types.MappingProxyType({"a": "b"})),
        TypeError,
        "'mappingproxy' object is not an instance of 'dict'",
        "user_dict",
    ),
    (
        lambda P, p, d, m: P(data_dir=m, user_dict=collections.UserDict({"a": "b"})),
        TypeError,
        "'UserDict' object is not an instance of 'dict'",
        "user_dict",
    ),
    (lambda P, p, d, m: P(data_dir=m, user_dict="香港"), TypeError, "'str' object is not an instance of 'dict'", "user_dict"),
    (lambda P, p, d, m: P(user_dict={"\ud800": "x"}, data_dir=m), UnicodeEncodeError, None, "user_dict"),
    (lambda P, p, d, m: P(user_dict={"香港": "x\udfff"}, data_dir=m), UnicodeEncodeError, None, "user_dict"),
    # parameters are converted in declaration order, the first failure wins
    (
        lambda P, p, d, m: P(user_dict=[], data_dir=5, punc_norm=1),
        TypeError,
        "'int' object is not an instance of 'bool'",
        "punc_norm",
    ),
    (lambda P, p, d, m: P(user_dict=[], data_dir=5), TypeError, _str_error("int"), "data_dir"),
    (lambda P, p, d, m: P.from_dir(punc_norm=1, dir=5), TypeError, _str_error("int"), "dir"),
]


@pytest.mark.parametrize("call, exc_type, message, note", VALUE_ERRORS)
def test_value_errors_carry_the_parameter_note(call, exc_type, message, note, empty_pipeline, data_dir, missing_dir):
    with pytest.raises(exc_type) as info:
        call(PyPipeline, empty_pipeline, data_dir, missing_dir)
    assert type(info.value) is exc_type
    if message is not None:
        assert str(info.value) == message
    else:
        assert info.value.encoding == "utf-8"
        assert "surrogate" in info.value.reason
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_str_subclasses_are_accepted(data_dir):
    p = PyPipeline(data_dir=StrSub(data_dir), user_dict={StrSub("香"): StrSub("U")})
    assert p.convert(StrSub("香港")) == "hoeng1 gong2"
    assert p.convert(StrSub("香")) == "U"
    q = PyPipeline.from_dir(StrSub(data_dir))
    assert q.convert_detailed(text=StrSub("香港")) == [("香港", "hoeng1 gong2", "yue", "certain", "unknown")]


@pytest.mark.parametrize("flag", [False, True])
def test_numpy_bool_is_accepted_for_punc_norm(flag, data_dir):
    np = pytest.importorskip("numpy")
    expected = "，" if flag else "、"
    for p in (PyPipeline(np.bool_(flag), data_dir), PyPipeline.from_dir(data_dir, punc_norm=np.bool_(flag))):
        assert p.convert("香、港") == f"hoeng1 {expected} gong2"


def test_numpy_integer_is_refused_for_punc_norm(data_dir):
    np = pytest.importorskip("numpy")
    with pytest.raises(TypeError) as info:
        PyPipeline.from_dir(data_dir, np.int64(1))
    assert str(info.value) == "'int64' object is not an instance of 'bool'"
    assert info.value.__notes__ == ["while processing 'punc_norm'"]


@pytest.mark.parametrize("flag, expected", [(True, "hoeng1 ， gong2"), (False, "hoeng1 、 gong2")])
def test_punc_norm_bool_values(flag, expected, data_dir):
    assert PyPipeline(flag, data_dir).convert("香、港") == expected
    assert PyPipeline.from_dir(data_dir, flag).convert("香、港") == expected
    # the default is True for both
    assert PyPipeline(data_dir=data_dir).convert("香、港") == "hoeng1 ， gong2"
    assert PyPipeline.from_dir(data_dir).convert("香、港") == "hoeng1 ， gong2"


@pytest.mark.parametrize(
    "make_dict",
    [
        lambda: collections.OrderedDict([("香港", "U1 U2"), ("港", "G")]),
        lambda: collections.defaultdict(str, {"香港": "U1 U2", "港": "G"}),
        lambda: type("MyDict", (dict,), {})({"香港": "U1 U2", "港": "G"}),
        lambda: {"香港": "U1 U2", "港": "G"},
    ],
    ids=["OrderedDict", "defaultdict", "dict-subclass", "dict"],
)
def test_user_dict_mapping_types(make_dict, data_dir):
    p = PyPipeline(data_dir=data_dir, user_dict=make_dict())
    assert p.convert_detailed("香港港") == [
        ("香港", "U1 U2", "yue", "certain", "user_dict"),
        ("港", "G", "yue", "certain", "user_dict"),
    ]


def test_empty_user_dict_is_the_same_as_none(data_dir):
    texts = ["香港", "香港港香", "Hello 香", ""]
    pipelines = [
        PyPipeline(data_dir=data_dir),
        PyPipeline(data_dir=data_dir, user_dict=None),
        PyPipeline(data_dir=data_dir, user_dict={}),
        PyPipeline(data_dir=data_dir, user_dict=collections.OrderedDict()),
    ]
    for text in texts:
        results = [(p.convert(text), p.convert_detailed(text), p.convert_candidates(text)) for p in pipelines]
        assert all(r == results[0] for r in results)
        assert all(rec[4] != "user_dict" for rec in results[0][1])


def test_user_dict_is_copied_at_construction(data_dir):
    entries = {"香": "U"}
    p = PyPipeline(data_dir=data_dir, user_dict=entries)
    entries["香"] = "changed"
    entries["港"] = "added"
    entries.clear()
    assert p.convert("香港港") == "hoeng1 gong2 gong2"  # 香港 is a word.bin word
    assert p.convert("香") == "U"
    assert p.convert("港") == "gong2"


def test_user_dict_errors_precede_loading(tmp_path):
    # Not even the directory is looked at: a bad user_dict with a missing
    # directory is a TypeError, never the RuntimeError of the missing file.
    missing = str(tmp_path / "nowhere")
    with pytest.raises(RuntimeError):
        PyPipeline(data_dir=missing, user_dict={"a": "b"})
    with pytest.raises(TypeError):
        PyPipeline(data_dir=missing, user_dict={"a": "b", "c": 1})
    assert not os.path.exists(missing)
