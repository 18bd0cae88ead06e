"""The `merrow` command: Cantonese text in, Jyutping out.

    merrow 佢哋去銀行攞錢                 # convert the arguments
    echo 香港 | merrow                     # or standard input, line by line
    merrow -i in.txt -o out.jsonl --format detailed

Every input line gives exactly one output line. Input is read in blocks as
it arrives; the complete lines of a block are converted together through
the batch methods of `merrow.Converter` and written at once, so the command
streams in a pipe and uses every core on a file. Plain Jyutping goes the
shortest way: a block's bytes go to the extension and come back converted,
with no Python object per line. Everything runs on the main
thread, so Ctrl-C and a closed pipe end the run cleanly.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import TYPE_CHECKING, Any, BinaryIO, Callable, Dict, Iterator, List, Optional, Sequence, Tuple

from . import _pieces, _signals
from ._lines import ERROR_MODES, BadLine, LineReader

if TYPE_CHECKING:
    from .converter import Converter

PROG = "merrow"
FORMATS = ("plain", "detailed", "candidates", "align")
ROMANISATIONS = ("jyutping", "ipa", "yale")
DEFAULT_CHUNK = 100_000
# Characters converted by one batch call at most. Large batches keep every
# core busy; the detailed and candidates results take some 100 times the
# memory of the plain ones, so their batches are smaller.
CHUNK_CHARS = {"plain": 1 << 22, "detailed": 1 << 18, "candidates": 1 << 18, "align": 1 << 18}
READ_BLOCK = 1 << 23


class CliError(Exception):
    """A problem with the user's input, reported as one message."""


def _parser() -> argparse.ArgumentParser:
    from ._version import __version__

    p = argparse.ArgumentParser(
        prog=PROG,
        description="Convert Cantonese text (Traditional Chinese characters) to Jyutping.",
        epilog="With no TEXT and no --input, standard input is converted line by line. Input lines end at LF, "
        "CR LF or CR; every input line gives one output line, ended by LF.",
    )
    p.add_argument("text", nargs="*", help="text to convert (the arguments are joined by spaces)")
    p.add_argument("-i", "--input", metavar="FILE", help="read lines from FILE ('-' for standard input)")
    p.add_argument("-o", "--output", metavar="FILE",
                   help="write results to FILE instead of standard output; FILE is replaced only when the "
                        "run succeeds, and must not be the input")
    p.add_argument(
        "-f", "--format", choices=FORMATS, default="plain",
        help="plain: one line of Jyutping per input line; detailed / candidates: one JSON object "
             "per input line with the tokens and their reading / ranked readings; align: one JSON object per "
             "input line with every syllable and the span of the input it came from (default: plain)",
    )
    p.add_argument("--romanisation", choices=ROMANISATIONS, default="jyutping",
                   help="readings of the plain and align formats in Jyutping, IPA or Yale (default: jyutping)")
    p.add_argument("--no-punc-norm", action="store_true", help="keep punctuation as it is written")
    p.add_argument("--user-dict", metavar="FILE",
                   help="tab-separated file of word and Jyutping reading per line; these readings win")
    p.add_argument("--data-dir", metavar="DIR", help="dictionary directory (default: the bundled data)")
    p.add_argument("--errors", choices=ERROR_MODES, default="strict",
                   help="input that is not UTF-8: strict stops with the line number; replace converts the "
                        "line with U+FFFD for the bad bytes; skip gives an empty line for it (default: strict)")
    p.add_argument("--chunk-size", type=int, default=DEFAULT_CHUNK, metavar="N",
                   help="convert at most N lines per batch (default: %(default)s)")
    group = p.add_mutually_exclusive_group()
    group.add_argument("--progress", dest="progress", action="store_true", default=None,
                       help="show progress on standard error (default: when standard error is a terminal "
                            "that neither the input nor the output uses)")
    group.add_argument("--no-progress", dest="progress", action="store_false", help="never show progress")
    p.add_argument("--version", action="version", version=f"{PROG} {__version__}")
    return p


def _user_dict(path: str) -> Dict[str, str]:
    from .user_dict import UserDictError, parse_file

    try:
        entries, duplicates = parse_file(path)
    except OSError as e:
        raise CliError(f"cannot read user dictionary {path}: {e.strerror or e}") from None
    except UserDictError as e:
        raise CliError(str(e)) from None
    for note in duplicates:
        sys.stderr.write(f"{PROG}: warning: user dictionary {note}\n")
    return entries


def _converter(args: argparse.Namespace) -> Converter:
    from .converter import Converter

    user_dict = _user_dict(args.user_dict) if args.user_dict else None
    converter = Converter(args.data_dir, punc_norm=not args.no_punc_norm, user_dict=user_dict)
    try:
        # Loaded now, so that a bad directory fails before any input is read.
        _ = converter.pipeline
    except RuntimeError as e:
        raise CliError(str(e)) from None
    return converter


# Output lines.

_NO_BREAKS = {ord("\n"): " ", ord("\r"): " "}


def _one_line(results: List[str]) -> str:
    """The results, one per line: a line break inside a result (a custom
    dictionary's reading may hold LF or CR) becomes a space."""
    text = "\n".join(results)
    if text.count("\n") != len(results) - 1 or "\r" in text:
        text = "\n".join(r.translate(_NO_BREAKS) for r in results)
    return text + "\n" if results else ""


def _json_records(line: str, tokens: Sequence[Tuple[Any, ...]], field: str) -> str:
    import json

    return json.dumps(
        {
            "text": line,
            "tokens": [
                {"token": t[0], field: t[1], "lang": t[2], "confidence": t[3], "source": t[4]} for t in tokens
            ],
        },
        ensure_ascii=False,
    )


class Writer:
    """Converts lists of lines and writes one output line for each."""

    def __init__(
        self, converter: Converter, fmt: str, out: BinaryIO, chunk_lines: int, romanisation: str = "jyutping"
    ) -> None:
        self.converter = converter
        self.fmt = fmt
        self.romanisation = romanisation
        self.out = out
        self.chunk_lines = chunk_lines
        self.field = "jyutping" if fmt == "detailed" else "candidates"
        self.chunk_chars = CHUNK_CHARS[fmt]
        self._bytes_pipeline: Any = None
        if fmt == "plain" and romanisation == "jyutping":
            from .alignment import converter_pipeline

            self._bytes_pipeline = converter_pipeline(converter)

    def block(self, body: bytes) -> bool:
        """Converts and writes the LF-separated lines of `body` in one call,
        when the format allows and `body` is valid UTF-8; else False, and
        the caller decodes the lines and gives them to `lines`."""
        if self._bytes_pipeline is None:
            return False
        converted = self._bytes_pipeline.convert_plain_lines(body)
        if converted is None:
            return False
        self.out.write(converted)
        return True

    def lines(self, lines: List[str]) -> None:
        lengths = list(map(len, lines))
        # Aligned lines are converted whole: their offsets count from the line's start.
        if lengths and max(lengths) > _pieces.PIECE_CHARS and self.fmt != "align":
            # Long lines on their own, in pieces; the lines between them as usual.
            start = 0
            for i in [i for i, n in enumerate(lengths) if n > _pieces.PIECE_CHARS]:
                self._short_lines(lines[start:i], lengths[start:i])
                self._long_line(lines[i])
                start = i + 1
            self._short_lines(lines[start:], lengths[start:])
        else:
            self._short_lines(lines, lengths)

    def _short_lines(self, lines: List[str], lengths: List[int]) -> None:
        """Batches of at most `chunk_lines` lines and about `chunk_chars` characters."""
        import bisect
        import itertools

        ends = list(itertools.accumulate(lengths))
        start = 0
        while start < len(lines):
            budget = (ends[start - 1] if start else 0) + self.chunk_chars
            end = min(bisect.bisect_right(ends, budget, lo=start), start + self.chunk_lines, len(lines))
            end = max(end, start + 1)
            self._chunk(lines[start:end])
            start = end

    def _chunk(self, chunk: List[str]) -> None:
        if self.fmt == "plain":
            text = _one_line(self._romanised(self.converter.convert_batch(chunk)))
        elif self.fmt == "align":
            from .alignment import align_lines

            text = "".join(line + "\n" for line in align_lines(self.converter, chunk, self.romanisation))
        else:
            records: Sequence[Sequence[Tuple[Any, ...]]] = (
                self.converter.convert_detailed_batch(chunk)
                if self.fmt == "detailed"
                else self.converter.convert_candidates_batch(chunk)
            )
            text = "".join(_json_records(line, t, self.field) + "\n" for line, t in zip(chunk, records))
        self.out.write(text.encode("utf-8"))

    def _romanised(self, results: List[str]) -> List[str]:
        if self.romanisation == "jyutping":
            return results
        from .alignment import plain_lines

        return plain_lines(results, self.romanisation)

    def _groups(self, pieces: List[str]) -> Iterator[List[str]]:
        step = max(1, self.chunk_chars // _pieces.PIECE_CHARS)
        for i in range(0, len(pieces), step):
            yield pieces[i : i + step]

    def _long_line(self, line: str) -> None:
        """One line in pieces, converted a group of pieces at a time and
        written as it goes: the same output as for the whole line, in
        memory bounded by the group instead of the line."""
        pieces = _pieces.cut(line)
        write = self.out.write
        if self.fmt == "plain":
            first = True
            for group in self._groups(pieces):
                results = self.converter.convert_batch(group)
                kept = _pieces.join_plain(group, results, lambda p: bool(self.converter.convert_detailed(p)))
                if kept:
                    text = _one_line(self._romanised([" ".join(kept)]))[:-1]
                    write(((" " if not first else "") + text).encode("utf-8"))
                    first = False
            write(b"\n")
            return
        import json

        convert = self.converter.convert_detailed_batch if self.fmt == "detailed" else \
            self.converter.convert_candidates_batch
        write(('{"text": ' + json.dumps(line, ensure_ascii=False) + ', "tokens": [').encode("utf-8"))
        separator = ""
        for group in self._groups(pieces):
            for tokens in convert(group):
                for t in tokens:
                    record = {"token": t[0], self.field: t[1], "lang": t[2], "confidence": t[3], "source": t[4]}
                    write((separator + json.dumps(record, ensure_ascii=False)).encode("utf-8"))
                    separator = ", "
        write(b"]}\n")


# Input and output files.


def _reader(args: argparse.Namespace) -> "tuple[LineReader, Optional[BinaryIO], Optional[int]]":
    """The line reader, the file to close afterwards, and the input's size
    in bytes when it is a regular file."""
    if args.text:
        blocks = [" ".join(args.text).encode("utf-8", "surrogateescape")]
        return LineReader(lambda: blocks.pop() if blocks else b"", "the arguments", args.errors), None, None
    if args.input and args.input != "-":
        try:
            stream: BinaryIO = open(args.input, "rb")
        except OSError as e:
            raise CliError(f"cannot read {args.input}: {e.strerror or e}") from None
        name, close = args.input, stream
    else:
        stream, name, close = sys.stdin.buffer, "standard input", None
    size = None
    try:
        info = os.fstat(stream.fileno())
        import stat

        if stat.S_ISREG(info.st_mode):
            size = info.st_size
    except (OSError, ValueError):
        pass
    return LineReader(_block_reader(stream), name, args.errors), close, size


def _block_reader(stream: BinaryIO) -> Callable[[], bytes]:
    """Reads what has arrived, up to READ_BLOCK bytes: waits only while
    nothing has, so an interactive line is converted at once and a file or
    a fast pipe fills large batches. A descriptor that select() takes is
    read directly (nothing has read the stream before), so that waiting
    for input can also watch for Ctrl-C."""
    import select

    fd: Optional[int]
    try:
        fd = stream.fileno()
        select.select([fd], [], [], 0)
    except (OSError, ValueError, AttributeError):
        fd = None
    if fd is None:
        return lambda: getattr(stream, "read1", stream.read)(READ_BLOCK)

    def read_fd(size: int) -> Optional[bytes]:
        try:
            return os.read(fd, size)
        except BlockingIOError:  # a descriptor left non-blocking by the caller
            return None

    ended = False

    def read() -> bytes:
        nonlocal ended
        if ended:
            return b""
        block = None
        while block is None:
            _signals.wait_readable(fd)
            block = read_fd(READ_BLOCK)
        if not block:
            return block
        parts, size = [block], len(block)
        while size < READ_BLOCK and select.select([fd], [], [], 0)[0]:
            more = read_fd(READ_BLOCK - size)
            if more is None:
                break
            if not more:
                # End of input; a terminal reports it only once.
                ended = True
                break
            parts.append(more)
            size += len(more)
        return b"".join(parts) if len(parts) > 1 else block

    return read


def _refuse_same_file(args: argparse.Namespace, input_file: Optional[BinaryIO]) -> None:
    if not args.output or args.output == "-" or args.text:
        return
    try:
        target = os.stat(args.output)
    except OSError:
        return
    try:
        fd = input_file.fileno() if input_file is not None else sys.stdin.fileno()
        source = os.fstat(fd)
    except (OSError, ValueError, AttributeError):
        return
    if (source.st_dev, source.st_ino) == (target.st_dev, target.st_ino):
        raise CliError(f"the output {args.output} is the input file; write to another file")


def run(args: argparse.Namespace) -> int:
    from . import _progress
    from ._atomic_output import AtomicOutput

    if args.chunk_size < 1:
        raise CliError("--chunk-size must be at least 1")
    if args.text and args.input:
        raise CliError("give either TEXT or --input, not both")
    converter = _converter(args)
    reader, close_in, total = _reader(args)
    atomic: Optional[AtomicOutput] = None
    progress = _progress.Progress(False, None)
    try:
        _refuse_same_file(args, close_in)
        to_stdout = not args.output or args.output == "-"
        if to_stdout:
            out: BinaryIO = sys.stdout.buffer
        else:
            try:
                atomic = AtomicOutput(args.output)
            except OSError as e:
                raise CliError(f"cannot write {args.output}: {e.strerror or e}") from None
            out = atomic.file
        show = not args.text and _progress.wanted(args.progress, to_stdout, close_in is None)
        progress = _progress.Progress(show, total)
        writer = Writer(converter, args.format, out, args.chunk_size, args.romanisation)
        try:
            for body in reader.bodies():
                if writer.block(body):
                    count = reader.count(body)
                    chars = len(body.decode("utf-8")) - count + 1 if progress.shown else 0
                else:
                    lines = reader.decode(body)
                    writer.lines(lines)
                    count, chars = len(lines), sum(map(len, lines))
                if to_stdout:
                    out.flush()
                progress.update(reader.bytes, count, chars)
                reader.check()
                _signals.raise_received()
        except BadLine as e:
            raise CliError(str(e)) from None
        _signals.raise_received()
        if atomic is not None:
            atomic.commit()
            atomic = None
    finally:
        progress.close()
        if atomic is not None:
            atomic.discard()
        if close_in is not None:
            close_in.close()
    if reader.bad:
        what = "converted with U+FFFD" if args.errors == "replace" else "given as empty lines"
        sys.stderr.write(
            f"{PROG}: warning: {reader.bad:,} line{'s' if reader.bad != 1 else ''} of {reader.name} "
            f"not valid UTF-8 ({what}); the first is line {reader.first_bad}\n"
        )
    return 0


def _quiet_stdout() -> None:
    # Nothing more can reach the reader; the interpreter's final flush of
    # standard output must not fail again.
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


def main(argv: Optional[Sequence[str]] = None) -> int:
    with _signals.handling():
        try:
            return _main(argv)
        except _signals.Terminated:
            import signal

            return 128 + signal.SIGTERM


def _main(argv: Optional[Sequence[str]]) -> int:
    try:
        args = _parser().parse_args(argv)
        return run(args)
    except CliError as e:
        sys.stderr.write(f"{PROG}: error: {e}\n")
        return 1
    except BrokenPipeError:
        # The reader went away (for example `merrow ... | head`): stop
        # quietly, as Unix filters do.
        _quiet_stdout()
        return 0
    except KeyboardInterrupt:
        return 130
    except ImportError as e:
        sys.stderr.write(f"{PROG}: error: the _merrow extension is not installed ({e})\n")
        return 1
    except OSError as e:
        sys.stderr.write(f"{PROG}: error: {e.strerror or e}\n")
        return 1


if __name__ == "__main__":
    sys.exit(main())
