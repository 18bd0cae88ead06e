"""The bundled tables carry trie indexes, which the engine walks instead of
bisecting the entries. Every flavour, single and batch, must give the same
results with them as with the same tables cut back to their pools (no index),
or with only some tables indexed: on random mixes of the tables' keys,
cut-off words, unknown characters, Latin, numbers and punctuation, and on
the utterances of the HKCanCor development half (when PyCantonese is
installed)."""

from __future__ import annotations

import os
import random
import sys
from typing import Dict, List

import pytest

import _merrow
import merrow
from merrow import cjyp

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIDECARS = [name for name in cjyp.TABLE_NAMES if name not in ("word", "char")]


def without_index(data: bytes) -> bytes:
    _, _, count, pool_size = cjyp.HEADER.unpack_from(data, 0)
    end = cjyp.HEADER.size + cjyp.ENTRY.size * count + pool_size
    assert len(data) > end, "a bundled table without its index"
    return data[:end]


@pytest.fixture(scope="module")
def bundled() -> Dict[str, bytes]:
    tables = {}
    for name in cjyp.TABLE_NAMES:
        with open(os.path.join(merrow.DATA_DIR, name + ".bin"), "rb") as f:
            tables[name] = f.read()
    return tables


@pytest.fixture(scope="module")
def data_dirs(bundled, tmp_path_factory) -> Dict[str, str]:
    """Directories of the bundled tables with their indexes stripped from
    none, all, the two base tables, or the six sidecars."""
    stripped_sets = {"indexed": [], "plain": list(cjyp.TABLE_NAMES), "plain_base": ["word", "char"],
                     "plain_sidecars": SIDECARS}
    dirs = {}
    for label, stripped in stripped_sets.items():
        path = tmp_path_factory.mktemp(label)
        for name, data in bundled.items():
            with open(path / (name + ".bin"), "wb") as f:
                f.write(without_index(data) if name in stripped else data)
        dirs[label] = str(path)
    return dirs


def random_texts(count: int, seed: int) -> List[str]:
    """Texts spliced from the tables' keys, the first characters of words,
    characters no table holds, Latin, numbers, punctuation and spaces; a few
    are long enough for the engine's per-text memos."""
    rng = random.Random(seed)
    words = sorted(cjyp.read(os.path.join(merrow.DATA_DIR, "word.bin")))
    chars = sorted(cjyp.read(os.path.join(merrow.DATA_DIR, "char.bin")))
    candidates = sorted(cjyp.read(os.path.join(merrow.DATA_DIR, "word_candidates.bin")))
    others = ["龘", "𠀀", "𪚥", "〇", "hello", "MTR", "3", "1,000", "$20.5", "50%", "1/2", "3:1", "，", "。", "！",
              "「", "」", " ", "\n", "é", "😀", "A4", "2024年", "十"]
    texts = []
    for n in range(count):
        pieces = []
        for _ in range(rng.randint(1, 40 if n % 10 == 0 else 12)):
            kind = rng.random()
            if kind < 0.35:
                pieces.append(rng.choice(words))
            elif kind < 0.5:
                word = rng.choice(candidates)
                pieces.append(word[: rng.randint(1, len(word))])
            elif kind < 0.8:
                pieces.append(rng.choice(chars))
            else:
                pieces.append(rng.choice(others))
        texts.append("".join(pieces))
    return texts


def hkcancor_dev_texts() -> List[str]:
    """Utterances of the HKCanCor development half (the files that sort first
    by name), words joined as written."""
    pytest.importorskip("pycantonese")
    from pycantonese import CHAT

    sys.path.insert(0, os.path.join(ROOT, "bench"))
    import hkcancor_gold

    texts = []
    for path in hkcancor_gold.dev_files():
        for tokens in CHAT.from_files([path], parallel=False).tokens(by_utterance=True):
            text = "".join(t.word for t in tokens if t.word)
            if text:
                texts.append(text)
    return texts


def assert_same(reference: _merrow.PyPipeline, other: _merrow.PyPipeline, texts: List[str]) -> None:
    for method in ("convert", "convert_detailed", "convert_candidates"):
        want, got = getattr(reference, method), getattr(other, method)
        for text in texts:
            assert got(text) == want(text), (method, text)
        batch = method + "_batch"
        assert getattr(other, batch)(texts) == getattr(reference, batch)(texts), batch


@pytest.mark.parametrize("variant", ["plain", "plain_base", "plain_sidecars"])
@pytest.mark.parametrize("punc_norm", [True, False])
def test_random_mixes_read_the_same_with_and_without_indexes(data_dirs, variant, punc_norm):
    texts = random_texts(3000, seed=19)
    indexed = _merrow.PyPipeline(punc_norm=punc_norm, data_dir=data_dirs["indexed"])
    other = _merrow.PyPipeline(punc_norm=punc_norm, data_dir=data_dirs[variant])
    assert_same(other, indexed, texts)


def test_user_dictionary_reads_the_same_with_and_without_indexes(data_dirs):
    # User words that overlap the tables' words, longer and shorter ones.
    user = {"香港人": "hoeng1 gong2 jan4 USER", "銀": "ngan2 USER", "今日天氣好好": "USER", "行": "hang4 USER"}
    texts = random_texts(1000, seed=20) + ["香港人去銀行", "今日天氣好好呀", "行街"]
    indexed = _merrow.PyPipeline(data_dir=data_dirs["indexed"], user_dict=user)
    plain = _merrow.PyPipeline(data_dir=data_dirs["plain"], user_dict=user)
    assert_same(plain, indexed, texts)


def test_hkcancor_dev_half_reads_the_same_with_and_without_indexes(data_dirs):
    utterances = hkcancor_dev_texts()
    documents = ["".join(utterances[i : i + 50]) for i in range(0, len(utterances), 50)]
    indexed = _merrow.PyPipeline(data_dir=data_dirs["indexed"])
    plain = _merrow.PyPipeline(data_dir=data_dirs["plain"])
    assert_same(plain, indexed, utterances)
    assert_same(plain, indexed, documents)
