"""Synthetic dictionaries and texts shared by the benchmark scripts."""

import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
from merrow import cjyp  # noqa: E402

# Common CJK block; syllables are made up but shaped like Jyutping.
HAN = [chr(c) for c in range(0x4E00, 0x4E00 + 6000)]
INITIALS = ["b", "p", "m", "f", "d", "t", "n", "l", "g", "k", "ng", "h", "gw", "kw", "w", "z", "c", "s", "j", ""]
FINALS = ["aa", "aai", "aau", "aam", "aan", "aang", "ai", "au", "am", "an", "ang", "e", "ei", "i", "iu", "in", "ing",
          "o", "oi", "ou", "on", "ong", "u", "ui", "un", "ung", "oe", "eoi", "eon", "yu", "yun"]


def syllable(rng):
    return rng.choice(INITIALS) + rng.choice(FINALS) + str(rng.randint(1, 6))


def make_words(count, seed=1, max_chars=4):
    """count distinct Han words of 2..max_chars characters with readings."""
    rng = random.Random(seed)
    words = {}
    while len(words) < count:
        n = rng.randint(2, max_chars)
        w = "".join(rng.choice(HAN) for _ in range(n))
        words[w] = " ".join(syllable(rng) for _ in range(n))
    return words


def write_data_dir(path, word_count, seed=1):
    os.makedirs(path, exist_ok=True)
    rng = random.Random(seed)
    words = make_words(word_count, seed)
    chars = {c: syllable(rng) for c in HAN}
    cjyp.write(os.path.join(path, "word.bin"), words)
    cjyp.write(os.path.join(path, "char.bin"), chars)
    return words


def mixed_text(words, n_chars, seed=2, digits=False):
    """Han words with Latin words, punctuation and (optionally) numbers."""
    rng = random.Random(seed)
    word_list = list(words)
    latin = ["Hello", "OK", "email", "Facebook", "MTR", "app", "Wi-Fi"]
    punct = ["，", "。", "！", "？", "「", "」", "、", ",", ".", " "]
    numeric = ["$100", "3.5kg", "50%", "2024年", "1/2", "10:30", "HK$2,500.50", "12km", "30°C", "第3號"]
    parts, size = [], 0
    while size < n_chars:
        r = rng.random()
        if r < 0.70:
            piece = rng.choice(word_list)
        elif r < 0.80:
            piece = rng.choice(HAN)
        elif r < 0.87:
            piece = " " + rng.choice(latin) + " "
        elif digits and r < 0.95:
            piece = rng.choice(numeric)
        else:
            piece = rng.choice(punct)
        parts.append(piece)
        size += len(piece)
    return "".join(parts)


def number_heavy_text(n_chars, seed=3):
    rng = random.Random(seed)
    templates = ["價錢係${a}", "重{b}.{c}kg", "升咗{d}%", "{y}年{m}月{dd}日", "HK${a},{e:03d}.{c}{c}",
                 "跑咗{d}km", "{d}/{f}", "比分{d}:{f}", "第{d}號", "溫度{d}°C", "USD {a}", "{g}"]
    parts, size = [], 0
    while size < n_chars:
        t = rng.choice(templates).format(
            a=rng.randint(1, 99999), b=rng.randint(0, 99), c=rng.randint(0, 9), d=rng.randint(1, 999),
            e=rng.randint(0, 999), f=rng.randint(1, 99), y=rng.randint(1990, 2030), m=rng.randint(1, 12),
            dd=rng.randint(1, 31), g=rng.randint(0, 10 ** rng.randint(1, 12)))
        parts.append(t + rng.choice(["，", "。", " "]))
        size += len(parts[-1])
    return "".join(parts)
