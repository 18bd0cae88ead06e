"""convert_files under faults: a run killed with SIGKILL at any stage, and
two runs on one output directory. The runs under test are child processes;
each stops at a chosen point (and waits there) by wrapping one internal step,
so that the kill lands exactly where intended."""

import json
import os
import shutil
import subprocess
import sys
import time

import pytest

from merrow import corpus
from merrow.converter import Converter
from synthetic_corpus import CHAR, USER, WORD, corpus_lines, write_corpus

CHILD = r"""
import json, os, sys, time
from merrow import _jobdir, corpus
from merrow.converter import Converter

args = json.loads(sys.argv[1])
converted = 0


def wait_for_release():
    open(args["paused"], "w").close()
    deadline = time.monotonic() + 120
    while not os.path.exists(args["release"]):
        if time.monotonic() > deadline:
            sys.exit("never released")
        time.sleep(0.01)


as_lines = corpus._as_lines
def counting_as_lines(results, count):
    global converted
    converted += count
    if args["pause"] == "part" and converted > args["partition_lines"]:
        wait_for_release()  # inside the second part, its temporary file open
    return as_lines(results, count)
corpus._as_lines = counting_as_lines

part_blocks = corpus._part_blocks
def paused_part_blocks(plan):
    for i, block in enumerate(part_blocks(plan)):
        if args["pause"] == "join" and i == 3:
            wait_for_release()  # three parts copied into the output's temporary file
        yield block
corpus._part_blocks = paused_part_blocks

record = _jobdir.JobDir.record
def paused_record(self, *a):
    if args["pause"] == "record":
        wait_for_release()  # output renamed into place, not recorded yet
    return record(self, *a)
_jobdir.JobDir.record = paused_record

locked = _jobdir.JobDir.locked
def announced_locked(self):
    if args.get("locking"):
        open(args["locking"], "w").close()
    return locked(self)
_jobdir.JobDir.locked = announced_locked

converter = Converter(args["data_dir"], user_dict=args["user_dict"])
corpus.convert_files(args["inputs"], args["out"], converter, partition_lines=args["partition_lines"])
print(converted)
"""

PARTITION_LINES = 100


@pytest.fixture
def job(tmp_path, make_data_dir):
    corpora = {"a.txt": corpus_lines(1000, seed=20), "b.txt": corpus_lines(450, seed=21)}
    inputs = [write_corpus(tmp_path / name, lines) for name, lines in corpora.items()]
    data_dir = make_data_dir(word=WORD, char=CHAR)
    converter = Converter(data_dir, user_dict=USER)
    expected = {name: converter.convert_batch(lines) for name, lines in corpora.items()}
    return {"inputs": inputs, "data_dir": data_dir, "out": str(tmp_path / "out"), "expected": expected,
            "converter": converter, "tmp": tmp_path}


def start(job, name, pause=None, locking=None):
    args = {
        "inputs": job["inputs"], "out": job["out"], "data_dir": job["data_dir"], "user_dict": USER,
        "partition_lines": PARTITION_LINES, "pause": pause, "locking": locking,
        "paused": str(job["tmp"] / f"{name}.paused"), "release": str(job["tmp"] / "release"),
    }
    return subprocess.Popen([sys.executable, "-c", CHILD, json.dumps(args)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def wait_for(path, process, timeout=60):
    deadline = time.monotonic() + timeout
    while not os.path.exists(path):
        if process.poll() is not None:
            pytest.fail(f"child ended early ({process.returncode}): {process.stderr.read()}")
        if time.monotonic() > deadline:
            process.kill()
            pytest.fail(f"child never reached {path}")
        time.sleep(0.01)


def finish(process):
    stdout, stderr = process.communicate(timeout=120)
    assert process.returncode == 0, stderr
    return int(stdout)


def work_files(out):
    root = os.path.join(out, ".merrow")
    files = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)
    return [f for f in files if f != "lock" and not f.startswith("done/")]


def check_outputs(job):
    for name, expected in job["expected"].items():
        with open(os.path.join(job["out"], name), encoding="utf-8") as f:
            assert f.read().split("\n")[:-1] == expected
    assert sorted(f for f in os.listdir(job["out"]) if f != ".merrow") == sorted(job["expected"])
    assert work_files(job["out"]) == []


@pytest.mark.parametrize(
    "pause, left_behind, converted_again",
    [
        ("part", "parts/a.txt/.", 1350),  # a half-written part: its temporary file
        ("join", "tmp/.a.txt.", 0),  # the half-joined output
        ("record", None, 0),  # the output of a.txt, not yet recorded
    ],
)
def test_rerun_after_kill_9_gives_the_same_output_and_clears_leftovers(
    job, monkeypatch, pause, left_behind, converted_again
):
    child = start(job, "run", pause=pause)
    wait_for(job["tmp"] / "run.paused", child)
    child.kill()
    child.wait(timeout=60)
    if left_behind:
        assert any(f.startswith(left_behind) and f.endswith(".tmp") for f in work_files(job["out"]))

    converted = []
    as_lines = corpus._as_lines
    monkeypatch.setattr(corpus, "_as_lines", lambda results, count: converted.append(count) or as_lines(results, count))
    corpus.convert_files(job["inputs"], job["out"], job["converter"], partition_lines=PARTITION_LINES)

    assert sum(converted) == converted_again
    check_outputs(job)


def test_second_run_on_the_directory_waits_for_the_first(job):
    first = start(job, "first", pause="join")
    wait_for(job["tmp"] / "first.paused", first)
    second = start(job, "second", locking=str(job["tmp"] / "second.locking"))
    wait_for(job["tmp"] / "second.locking", second)
    time.sleep(0.2)  # most likely waiting for the lock by now; the outcome is the same either way
    (job["tmp"] / "release").touch()
    assert finish(first) == 1450
    assert finish(second) == 0  # found both outputs finished and current
    check_outputs(job)


def test_simultaneous_runs_both_succeed(job):
    for _ in range(2):
        shutil.rmtree(job["out"], ignore_errors=True)
        runs = [start(job, f"run{i}") for i in range(2)]
        assert sorted(finish(run) for run in runs) == [0, 1450]  # one converts, the other finds it done
        check_outputs(job)
