"""Speed of merrow.align against convert_detailed, and of the ordinary
conversions before and after the span-tracking flavour was added.

    python bench/align_speed.py [BASELINE_EXTENSION [CURRENT_EXTENSION]]

Texts as in compare.py: the HKCanCor development half joined into documents
of 50 utterances, and a number-heavy text. Every runner takes its turn in
each round of one run (compare.rates), so outside load falls on all alike.

BASELINE_EXTENSION is a `_merrow` extension file built from an earlier
commit: its convert, convert_detailed and convert_batch are timed in the
same rounds as the installed ones, or as those of CURRENT_EXTENSION, a
build of this tree made the same way as the baseline (the installed wheel is
built with other flags, and code layout alone moves these figures by a few
per cent).
"""

import gc
import importlib.machinery
import importlib.util
import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
from compare import corpora, each, rates  # noqa: E402

import merrow  # noqa: E402
from merrow.alignment import align, align_batch  # noqa: E402


def load_extension(path):
    """Another build of _merrow, beside the installed one."""
    loader = importlib.machinery.ExtensionFileLoader("_merrow", path)
    spec = importlib.util.spec_from_file_location("_merrow", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def main():
    baseline = load_extension(sys.argv[1]) if len(sys.argv) > 1 else None
    texts = corpora()
    gc.collect()
    gc.freeze()
    p = merrow.load()
    if len(sys.argv) > 2:
        p = load_extension(sys.argv[2]).PyPipeline(data_dir=merrow.DATA_DIR)
    runners = [
        ("convert_detailed", each(p.convert_detailed)),
        ("align", each(align)),
        ("align_batch", align_batch),
        ("convert", each(p.convert)),
        ("convert_batch", p.convert_batch),
    ]
    if baseline is not None:
        b = baseline.PyPipeline(data_dir=merrow.DATA_DIR)
        runners += [
            ("baseline convert_detailed", each(b.convert_detailed)),
            ("baseline convert", each(b.convert)),
            ("baseline convert_batch", b.convert_batch),
        ]
    for name, docs in texts.items():
        print(f"\n{name}: {len(docs)} documents, {sum(map(len, docs)):,} characters")
        found = rates(runners, docs)
        for label, r in found.items():
            print(f"  {label:<28} {r / 1e6:8.3f} M chars/s")
        print(f"  align / convert_detailed: {found['align'] / found['convert_detailed']:.2f}")
        if baseline is not None:
            for method in ("convert", "convert_detailed", "convert_batch"):
                print(f"  {method} now / baseline: {found[method] / found['baseline ' + method]:.3f}")


if __name__ == "__main__":
    main()
