"""Arguments that run Python code while the binding reads them: a type whose
__qualname__ lookup empties the list or dict being read (the binding looks it
up for its error message), a list subclass whose __len__ and __getitem__ lie,
str subclasses that refuse to be converted by Python means. The binding must
read the underlying objects only, and never touch an item after Python code
may have freed it; the sanitizer build in CI checks the memory side."""

import gc

import pytest

from _merrow import PyPipeline

victims = []


class EmptyingMeta(type):
    """Looking up __qualname__ clears every object in `victims`."""

    def __getattribute__(cls, name):
        if name == "__qualname__":
            for victim in victims:
                victim.clear()
            gc.collect()
            return "Emptying"
        return type.__getattribute__(cls, name)


class Emptying(metaclass=EmptyingMeta):
    pass


class RaisingMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise KeyError(name)
        return type.__getattribute__(cls, name)


class Raising(metaclass=RaisingMeta):
    pass


@pytest.fixture
def pipeline(make_data_dir):
    return PyPipeline.from_dir(make_data_dir(word={"中國": "zung1 gwok3"}, char={"中": "zung1"}))


@pytest.fixture(autouse=True)
def no_victims():
    yield
    victims.clear()


@pytest.mark.parametrize("method", ["convert_batch", "convert_detailed_batch", "convert_candidates_batch"])
def test_bad_element_whose_type_empties_the_list(pipeline, method):
    texts = ["中國"] * 50 + [Emptying()] + ["中國"] * 50
    victims.append(texts)
    with pytest.raises(TypeError) as info:
        getattr(pipeline, method)(texts)
    assert str(info.value) == "'Emptying' object is not an instance of 'str'"
    assert texts == []


@pytest.mark.parametrize("bad", ["key", "value"])
def test_bad_user_dict_entry_whose_type_empties_the_dict(make_data_dir, bad):
    user = {f"詞{i}": "x" for i in range(50)}
    user.update({Emptying(): "x"} if bad == "key" else {"中": Emptying()})
    user.update({f"字{i}": "y" for i in range(50)})
    victims.append(user)
    with pytest.raises(TypeError) as info:
        PyPipeline(data_dir=make_data_dir(), user_dict=user)
    assert str(info.value) == "'Emptying' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'user_dict'"]


def test_type_name_lookup_that_raises(pipeline):
    with pytest.raises(TypeError) as info:
        pipeline.convert(Raising())
    assert str(info.value).endswith(" object is not an instance of 'str'")


def test_list_subclass_that_lies_about_its_items(pipeline):
    class Lying(list):
        def __len__(self):
            return 10**9

        def __getitem__(self, index):
            raise RuntimeError("not called")

        def __iter__(self):
            raise RuntimeError("not called")

    assert pipeline.convert_batch(Lying(["中國", "中"])) == ["zung1 gwok3", "zung1"]


def test_str_subclass_that_refuses_python_conversions(pipeline):
    class Refusing(str):
        def __str__(self):
            raise RuntimeError("not called")

        def encode(self, *args, **kwargs):
            raise RuntimeError("not called")

    assert pipeline.convert(Refusing("中國")) == "zung1 gwok3"
    assert pipeline.convert_candidates_batch([Refusing("中")]) == [[("中", ["zung1"], "yue", "certain", "unknown")]]
