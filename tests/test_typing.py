"""The package as a type checker sees it: `mypy --strict` accepts a user
script that calls every public function and method, and rejects wrong uses."""

import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy", reason="mypy is installed with the test extra on Python 3.10+")

USER_SCRIPT = textwrap.dedent(
    """
    import os
    from typing import Dict, List, Optional, Tuple

    import _merrow
    import merrow
    from merrow import Converter, PyPipeline, UserDictError, convert_files
    from merrow.converter import CandidateToken, DetailedToken

    version: str = merrow.__version__
    data: str = merrow.DATA_DIR
    p: PyPipeline = merrow.load()
    p = merrow.load(punc_norm=False, user_dict={"香港": "hoeng1 gong2"})
    p = merrow.load(user_dict="words.tsv")
    p = _merrow.PyPipeline(punc_norm=True, data_dir=data, user_dict=None)
    p = PyPipeline.from_dir(data, punc_norm=False)
    text: str = p.convert("香港")
    texts: List[str] = p.convert_batch(["香港"])
    detailed: List[Tuple[str, str, str, str, str]] = p.convert_detailed("香港")
    candidates: List[Tuple[str, List[str], str, str, str]] = p.convert_candidates("香港")
    detailed_batch: List[List[Tuple[str, str, str, str, str]]] = p.convert_detailed_batch(["香港"])
    candidates_batch: List[List[Tuple[str, List[str], str, str, str]]] = p.convert_candidates_batch(["香港"])

    c = Converter(data, punc_norm=True, user_dict={"香港": "hoeng1 gong2"})
    c = Converter(os.path.join(data), user_dict="words.tsv")
    same: PyPipeline = c.pipeline
    where: Optional[str] = c.data_dir
    flag: bool = c.punc_norm
    words: Optional[Dict[str, str]] = c.user_dict
    text = c.convert("香港")
    texts = c.convert_batch(iter(["香港"]))
    d: List[DetailedToken] = c.convert_detailed("香港")
    cs: List[CandidateToken] = c.convert_candidates("香港")
    db: List[List[DetailedToken]] = c.convert_detailed_batch(("香港",))
    cb: List[List[CandidateToken]] = c.convert_candidates_batch(["香港"])
    outputs: List[str] = convert_files(["a.txt"], "out", c, partition_lines=10)
    aligned: List[merrow.Alignment] = merrow.align("香港", punc_norm=False) + c.align("香港")
    aligned_batch: List[List[merrow.Alignment]] = merrow.align_batch(["香港"]) + c.align_batch(["香港"])
    start: int = aligned[0].start
    ipa: str = merrow.jyutping_to_ipa("hoeng1")
    yale: List[str] = merrow.jyutping_to_yale(["hoeng1"], tone_marks=False)
    tone: int = merrow.parse_jyutping("hoeng1").tone
    try:
        merrow.load(user_dict={"x": "y"})
    except UserDictError as e:
        problems: List[str] = e.problems
    """
)


def mypy(tmp_path, source):
    script = tmp_path / "user_script.py"
    script.write_text(source, encoding="utf-8")
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         str(script)],
        capture_output=True, text=True, timeout=600, cwd=tmp_path,
    )


def test_strict_mypy_accepts_every_public_call(tmp_path):
    r = mypy(tmp_path, USER_SCRIPT)
    assert r.returncode == 0, r.stdout + r.stderr


@pytest.mark.parametrize(
    "line, error",
    [
        ('n: int = merrow.load().convert("x")', 'Incompatible types in assignment (expression has type "str"'),
        ('merrow.load().convert(1)', 'Argument 1 to "convert" of "PyPipeline" has incompatible type "int"'),
        ('merrow.Converter().convert_batch(1)', 'Argument 1 to "convert_batch" of "Converter"'),
        ('s: str = merrow.load().convert_detailed("x")[0][1][0].real', 'has no attribute "real"'),
        ('merrow.load(punc_norm="yes")', 'Argument "punc_norm" to "load" has incompatible type "str"'),
    ],
)
def test_strict_mypy_catches_wrong_uses(tmp_path, line, error):
    r = mypy(tmp_path, "import merrow\n" + line + "\n")
    assert r.returncode == 1
    assert error in r.stdout, r.stdout
