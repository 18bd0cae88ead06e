"""A small synthetic lexicon and a deterministic corpus drawn from it, for
the converter, corpus and cluster tests."""

import random

CHAR = {
    "我": "ngo5", "你": "nei5", "佢": "keoi5", "哋": "dei6", "好": "hou2",
    "食": "sik6", "飯": "faan6", "飲": "jam2", "茶": "caa4", "去": "heoi3",
    "學": "hok6", "校": "haau6", "返": "faan1", "工": "gung1", "今": "gam1",
    "日": "jat6", "天": "tin1", "氣": "hei3", "一": "jat1", "百": "baak3",
    "二": "ji6", "十": "sap6", "三": "saam1", "元": "jyun4", "行": "hang4",
}
WORD = {
    "我哋": "ngo5 dei6", "你哋": "nei5 dei6", "佢哋": "keoi5 dei6",
    "食飯": "sik6 faan6", "飲茶": "jam2 caa4", "學校": "hok6 haau6",
    "返工": "faan1 gung1", "今日": "gam1 jat6", "天氣": "tin1 hei3",
    "好天氣": "hou2 tin1 hei3", "銀行": "ngan4 hong4",
}
# Readings that differ from the bundled ones, so that a user entry shows.
USER = {"飲茶": "jam3 caa1", "去學校": "heoi1 hok1 haau1"}

_PIECES = list(WORD) + list(CHAR) + ["hello", "MTR", "3", "100", "$20", "，", "。", "！", " "]


def corpus_lines(count, seed=0):
    """`count` lines of words, characters, Latin, numbers and punctuation;
    about one line in fifty is empty."""
    rng = random.Random(seed)
    lines = []
    for _ in range(count):
        if rng.random() < 0.02:
            lines.append("")
        else:
            lines.append("".join(rng.choice(_PIECES) for _ in range(rng.randint(1, 12))))
    return lines


def write_corpus(path, lines):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("".join(line + "\n" for line in lines))
    return str(path)
