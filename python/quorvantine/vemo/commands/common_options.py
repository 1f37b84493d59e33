"""The options every command has (--report, --quiet, --plots) and the run around a command
that honours them. A command fills args.outcome: a one-line summary (printed instead of
the report under --quiet), the data of the report file and the figures to draw; a command
that fills nothing still gets a report file with the schema, the command, its exit code,
the library version and the run's warnings (report_schema)."""

import argparse
import contextlib
import dataclasses
import errno
import fcntl
import io
import json
import math
import os
import re
import secrets
import stat
import sys

from quorvantine.vemo.commands.report_schema import report_document
from quorvantine.vemo.version import __version__


@dataclasses.dataclass
class Outcome:
    summary: str = ""
    report: dict = dataclasses.field(default_factory=dict)
    # Callables taking the plot directory and returning the paths they wrote.
    figures: list = dataclasses.field(default_factory=list)


def add_common_arguments(parser: argparse.ArgumentParser) -> None:
    common = parser.add_argument_group("output")
    common.add_argument("--report", metavar="FILE.json",
                        help="also write everything the run found as JSON: the printed report's figures and more")
    common.add_argument("--quiet", action="store_true",
                        help="print a one-line summary instead of the report on standard output; of the log lines "
                             "only warnings and errors still show")
    common.add_argument("--plots", metavar="DIR",
                        help="write PNG figures (coverage, residuals, consistency) into DIR; needs matplotlib "
                             "(pip install quorvantine-vemo[plots])")


class WarningRecorder:
    """Standard error as it was, keeping the library's warning lines for the report file;
    under --quiet without the library's INFO lines (warnings and errors still show)."""

    PREFIX = "[vemo][WARNING] "
    INFO = "[vemo][INFO] "

    def __init__(self, stream, quiet: bool):
        self.stream = stream
        self.quiet = quiet
        self.warnings = []

    def write(self, text: str) -> int:
        for line in text.splitlines():
            if line.startswith(self.PREFIX):
                self.warnings.append(line[len(self.PREFIX):])
        # The library writes one whole line per call.
        if self.quiet and text.startswith(self.INFO):
            return len(text)
        return self.stream.write(text)

    def __getattr__(self, name):
        return getattr(self.stream, name)


def run(args: argparse.Namespace) -> int:
    args.outcome = Outcome()
    summary_output = sys.stdout
    code = 2
    recorder = WarningRecorder(sys.stderr, args.quiet)
    try:
        with (contextlib.redirect_stdout(io.StringIO()) if args.quiet else contextlib.nullcontext(),
              contextlib.redirect_stderr(recorder)):
            code = args.handler(args)
        if args.plots:
            written = [path for draw in args.outcome.figures for path in draw(args.plots)]
            if not args.quiet:
                print(f"plots: {len(written)} PNG files in {args.plots}", flush=True)
    # Every error the library raises (and an unreadable path) ends as one line, never a traceback.
    except (ValueError, RuntimeError, IndexError, MemoryError, OSError, ImportError) as error:
        print(f"error: {error}", file=sys.stderr)
        args.outcome.report["error"] = str(error)
        code = 2
    args.outcome.report["warnings"] = recorder.warnings
    if args.quiet and args.outcome.summary:
        print(args.outcome.summary, file=summary_output, flush=True)
    if args.report:
        try:
            write_json(args.report, report_document(args.command, code, __version__, args.outcome.report))
        except OSError as error:
            print(f"error: cannot write the report {args.report}: {error.strerror or error}", file=sys.stderr)
            code = 2
    return code


def plain(value):
    """The value with arrays as nested lists and non-finite numbers as None (JSON null)."""
    if hasattr(value, "tolist"):
        value = value.tolist()
    if isinstance(value, dict):
        return {key: plain(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(item) for item in value]
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def refined_file_name(result_file_name: str) -> str:
    return result_file_name[:-len(".json")] + "_refined.json"


def refined_result_path(output: str, result_file_name: str) -> str:
    """Where a refinement is saved beside the result file that output (a directory, or a file
    path ending in .json) names."""
    if output.endswith(".json"):
        return output[:-len(".json")] + "_refined.json"
    return os.path.join(output, refined_file_name(result_file_name))


def result_file_path(output: str, result_file_name: str) -> str:
    """Where the library saves a result for OUT: OUT itself when it has an extension and is no
    directory, else OUT/result_file_name."""
    if os.path.isdir(output) or not os.path.splitext(output)[1]:
        return os.path.join(output, result_file_name)
    return output


def write_json(path: str, data: dict) -> None:
    """Replaces the file at `path` with the data as indented JSON, never leaving it half written
    (see write_text)."""
    write_text(path, json.dumps(plain(data), indent=2) + "\n")


def write_text(path: str, text: str) -> None:
    """Replaces the file at `path` with the text, never leaving it half written.

    The file gets the mode that a plain open(path, "w") would give: 0666 less the umask for a
    new file, the replaced file's own mode otherwise (a temporary file's 0600 must not
    survive the rename, or other accounts could no longer read the results). A symbolic link
    is written through, as open() would: the file it names is replaced and the link stays."""
    path = os.path.realpath(path)
    folder = os.path.dirname(os.path.abspath(path))
    try:
        os.makedirs(folder, exist_ok=True)
    except FileExistsError:  # what makedirs says of a plain file where the folder should be
        raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), folder) from None
    with locked_folder(folder):
        remove_stale_temporaries(path)
        temporary = os.path.join(folder, f".{os.path.basename(path)}.tmp-{os.getpid()}-{secrets.token_hex(8)}")
        write_through(temporary, path, text)


@contextlib.contextmanager
def locked_folder(folder: str):
    """Holds the folder's lock, the one the library's saves into it hold (flock on the folder).
    Where the folder cannot be opened or locked (a file system without flock), it goes on
    without, as the library's saves do: the lock orders concurrent writers, and refusing the
    work would not make it safer."""
    try:
        descriptor = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
    except OSError:
        yield
        return
    try:
        with contextlib.suppress(OSError):
            fcntl.flock(descriptor, fcntl.LOCK_EX)
        yield
    finally:
        os.close(descriptor)


def remove_stale_temporaries(path: str) -> None:
    """Removes the temporary files of `path` that writers killed before their rename left:
    those whose process no longer runs. A process id since taken by another process keeps its
    file until that one ends."""
    folder, name = os.path.split(path)
    pattern = re.compile(re.escape(f".{name}.tmp-") + r"(\d+)-[0-9a-f]{16}")
    with contextlib.suppress(OSError), os.scandir(folder) as entries:
        for entry in entries:
            match = pattern.fullmatch(entry.name)
            if match and entry.is_file(follow_symlinks=False) and not process_runs(int(match.group(1))):
                with contextlib.suppress(OSError):
                    os.unlink(entry.path)


def process_runs(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError):  # another account's process; or no valid id at all
        return True
    return True


def write_through(temporary: str, path: str, text: str) -> None:
    """Writes `text` to the new file `temporary`, flushed, then renames it over `path`."""
    descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8") as stream:
            with contextlib.suppress(FileNotFoundError):
                replaced = os.stat(path)
                if stat.S_ISREG(replaced.st_mode):
                    os.fchmod(stream.fileno(), stat.S_IMODE(replaced.st_mode))
            stream.write(text)
            stream.flush()
            os.fsync(stream.fileno())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
