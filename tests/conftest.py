"""Shared fixtures: synthetic dictionary directories built with the CJYP writer."""

import os

import pytest

from merrow import cjyp

FILE_NAMES = cjyp.TABLE_NAMES


def write_data_dir(path, **tables):
    """Writes one CJYP file per keyword (word=..., char=..., word_source=...).

    word and char default to empty tables; other tables are written only when
    given. A value of bytes is written verbatim as the file's contents.
    """
    unknown = set(tables) - set(FILE_NAMES)
    if unknown:
        raise ValueError(f"unknown tables: {sorted(unknown)}")
    os.makedirs(path, exist_ok=True)
    tables.setdefault("word", {})
    tables.setdefault("char", {})
    for name, entries in tables.items():
        target = os.path.join(path, name + ".bin")
        if isinstance(entries, (bytes, bytearray)):
            with open(target, "wb") as f:
                f.write(entries)
        else:
            cjyp.write(target, entries)
    return str(path)


@pytest.fixture
def make_data_dir(tmp_path):
    """Returns a function that builds a data directory and returns its path."""
    counter = iter(range(1_000_000))

    def make(**tables):
        return write_data_dir(tmp_path / f"data{next(counter)}", **tables)

    return make


@pytest.fixture
def empty_pipeline(make_data_dir):
    import _merrow

    return _merrow.PyPipeline.from_dir(make_data_dir())


@pytest.fixture
def make_pipeline(make_data_dir):
    """Returns a function that writes the given tables and loads a pipeline
    from them: make(user_dict=None, punc_norm=True, word=..., char=..., ...)."""
    import _merrow

    def make(user_dict=None, punc_norm=True, **tables):
        return _merrow.PyPipeline(punc_norm=punc_norm, data_dir=make_data_dir(**tables), user_dict=user_dict)

    return make
