"""The `merrow` command: Cantonese text in, Jyutping out.

    merrow 佢哋去銀行攞錢                 # convert the arguments
    echo 香港 | merrow                     # or standard input, line by line
    merrow -i in.txt -o out.jsonl --format detailed

Input is converted one line at a time and each result is written as soon as
its line is converted, so the command works in a pipe. Lines that are already
waiting are converted together through the batch methods, up to
``--chunk-size`` lines at a time, which keeps large files fast.
"""

from __future__ import annotations

import argparse
import json
import os
import queue
import sys
import threading
from typing import BinaryIO, Dict, Iterator, List, Optional, Sequence, Tuple

PROG = "merrow"
FORMATS = ("plain", "detailed", "candidates")
DEFAULT_CHUNK = 512


class CliError(Exception):
    """A problem with the user's input, reported as one line."""


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog=PROG,
        description="Convert Cantonese text (Traditional Chinese characters) to Jyutping.",
        epilog="With no TEXT and no --input, standard input is converted line by line.",
    )
    p.add_argument("text", nargs="*", help="text to convert (the arguments are joined by spaces)")
    p.add_argument("-i", "--input", metavar="FILE", help="read lines from FILE ('-' for standard input)")
    p.add_argument("-o", "--output", metavar="FILE", help="write results to FILE instead of standard output")
    p.add_argument(
        "-f", "--format", choices=FORMATS, default="plain",
        help="plain: one line of Jyutping per input line; detailed / candidates: one JSON object "
             "per input line with the tokens and their reading / ranked readings (default: plain)",
    )
    p.add_argument("--no-punc-norm", action="store_true", help="keep punctuation as it is written")
    p.add_argument("--user-dict", metavar="FILE",
                   help="tab-separated file of word and reading per line; these readings win")
    p.add_argument("--data-dir", metavar="DIR", help="dictionary directory (default: the bundled data)")
    p.add_argument("--chunk-size", type=int, default=DEFAULT_CHUNK, metavar="N",
                   help="convert at most N waiting lines per batch (default: %(default)s)")
    p.add_argument("--progress", choices=("auto", "always", "never"), default="auto",
                   help="progress on standard error; auto shows it when standard error is a terminal")
    return p


def read_user_dict(path: str) -> Dict[str, str]:
    entries: Dict[str, str] = {}
    try:
        with open(path, "rb") as f:
            raw_lines = f.read().split(b"\n")
    except OSError as e:
        raise CliError(f"cannot read user dictionary {path}: {e.strerror or e}") from None
    for number, raw in enumerate(raw_lines, 1):
        line = _decode(raw, f"{path}, line {number}").rstrip("\r")
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 2 or not fields[0] or not fields[1].strip():
            raise CliError(f"{path}, line {number}: expected 'word<TAB>reading', got {line!r}")
        entries[fields[0]] = fields[1].strip()
    return entries


def _decode(raw: bytes, where: str) -> str:
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as e:
        raise CliError(f"{where}: not valid UTF-8 (byte {e.start + 1})") from None


def _lines(stream: BinaryIO, name: str) -> Iterator[str]:
    for number, raw in enumerate(stream, 1):
        if raw.endswith(b"\n"):
            raw = raw[:-1]
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        if number == 1 and raw.startswith(b"\xef\xbb\xbf"):
            raw = raw[3:]
        yield _decode(raw, f"{name}, line {number}")


_END = object()


def _chunks(lines: Iterator[str], size: int) -> Iterator[List[str]]:
    """Lists of lines: waits for one line, then takes every line already
    read, up to ``size``. A reader thread keeps reading meanwhile, so a slow
    pipe gets each line converted at once and a fast file fills the chunks."""
    waiting: "queue.Queue[object]" = queue.Queue(maxsize=4 * size)

    def read() -> None:
        try:
            for line in lines:
                waiting.put(line)
            waiting.put(_END)
        except BaseException as e:  # handed to the consumer, which reports it
            waiting.put(e)

    threading.Thread(target=read, name="merrow-reader", daemon=True).start()
    while True:
        item = waiting.get()
        chunk: List[str] = []
        while True:
            if item is _END:
                if chunk:
                    yield chunk
                return
            if isinstance(item, BaseException):
                if chunk:
                    yield chunk
                raise item
            chunk.append(item)  # type: ignore[arg-type]
            if len(chunk) >= size:
                break
            try:
                item = waiting.get_nowait()
            except queue.Empty:
                break
        yield chunk


def _records(line: str, tokens: Sequence[Tuple], field: str) -> str:
    return json.dumps(
        {
            "text": line,
            "tokens": [
                {"token": t[0], field: t[1], "lang": t[2], "confidence": t[3], "source": t[4]}
                for t in tokens
            ],
        },
        ensure_ascii=False,
    )


def _convert(pipeline, chunk: List[str], fmt: str) -> List[str]:
    if fmt == "plain":
        return pipeline.convert_batch(chunk)
    if fmt == "detailed":
        return [_records(l, t, "jyutping") for l, t in zip(chunk, pipeline.convert_detailed_batch(chunk))]
    return [_records(l, t, "candidates") for l, t in zip(chunk, pipeline.convert_candidates_batch(chunk))]


class _Progress:
    def __init__(self, enabled: bool, total_bytes: Optional[int]):
        self.enabled = enabled
        self.total = total_bytes
        self.lines = 0
        self.bytes = 0

    def update(self, chunk: List[str]) -> None:
        if not self.enabled:
            return
        self.lines += len(chunk)
        self.bytes += sum(len(l.encode("utf-8")) + 1 for l in chunk)
        text = f"{PROG}: {self.lines:,} lines"
        if self.total:
            text += f" ({min(100.0, 100.0 * self.bytes / self.total):5.1f}%)"
        sys.stderr.write("\r" + text)
        sys.stderr.flush()

    def finish(self) -> None:
        if self.enabled and self.lines:
            sys.stderr.write("\n")
            sys.stderr.flush()


def _load_pipeline(args):
    user_dict = read_user_dict(args.user_dict) if args.user_dict else None
    punc_norm = not args.no_punc_norm
    try:
        if args.data_dir is not None:
            from _merrow import PyPipeline

            return PyPipeline(punc_norm=punc_norm, data_dir=args.data_dir, user_dict=user_dict)
        import merrow

        return merrow.load(punc_norm=punc_norm, user_dict=user_dict)
    except RuntimeError as e:
        where = args.data_dir if args.data_dir is not None else "the bundled data"
        raise CliError(f"cannot load dictionaries from {where}: {e}") from None


def run(args) -> int:
    if args.chunk_size < 1:
        raise CliError("--chunk-size must be at least 1")
    if args.text and args.input:
        raise CliError("give either TEXT or --input, not both")
    pipeline = _load_pipeline(args)

    total = None
    close_in = None
    if args.text:
        lines: Iterator[str] = iter([" ".join(args.text)])
    elif args.input and args.input != "-":
        try:
            stream = open(args.input, "rb")
        except OSError as e:
            raise CliError(f"cannot read {args.input}: {e.strerror or e}") from None
        close_in = stream
        try:
            total = os.fstat(stream.fileno()).st_size
        except OSError:
            total = None
        lines = _lines(stream, args.input)
    else:
        lines = _lines(sys.stdin.buffer, "standard input")

    if args.output and args.output != "-":
        try:
            out: BinaryIO = open(args.output, "wb")
        except OSError as e:
            raise CliError(f"cannot write {args.output}: {e.strerror or e}") from None
    else:
        out = sys.stdout.buffer

    show = args.progress == "always" or (args.progress == "auto" and sys.stderr.isatty())
    progress = _Progress(show and not args.text, total)
    try:
        for chunk in _chunks(lines, args.chunk_size):
            results = _convert(pipeline, chunk, args.format)
            out.write("".join(r + "\n" for r in results).encode("utf-8"))
            out.flush()
            progress.update(chunk)
    finally:
        progress.finish()
        if close_in is not None:
            close_in.close()
        if out is not sys.stdout.buffer:
            out.close()
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = _parser().parse_args(argv)
    try:
        return run(args)
    except CliError as e:
        sys.stderr.write(f"{PROG}: error: {e}\n")
        return 1
    except BrokenPipeError:
        # The reader went away (for example `merrow ... | head`): stop quietly.
        try:
            sys.stdout = None  # type: ignore[assignment]
            os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
        except OSError:
            pass
        return 0
    except KeyboardInterrupt:
        sys.stderr.write("\n")
        return 130
    except ImportError as e:
        sys.stderr.write(f"{PROG}: error: the _merrow extension is not installed ({e})\n")
        return 1
    except OSError as e:
        sys.stderr.write(f"{PROG}: error: {e.strerror or e}\n")
        return 1


if __name__ == "__main__":
    sys.exit(main())
