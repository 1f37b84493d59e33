"""Command line: `python -m quorvantine.vemo COMMAND ...`, or `vemo COMMAND ...` where the
package is installed; each command lives in its own module of quorvantine.vemo.commands."""

import argparse
import os
import sys

from quorvantine.vemo.commands import (benchmark, check, common_options, compare, demo, export, eye_to_hand,
                                        hand_eye, intrinsic, rig)
from quorvantine.vemo.version import __version__

COMMANDS = (demo, hand_eye, rig, compare, benchmark, eye_to_hand, intrinsic, export, check)


def main(argv: list[str] | None = None, prog: str = "python -m quorvantine.vemo") -> int:
    parser = argparse.ArgumentParser(prog=prog,
                                     description="Camera calibration for robot cells.")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True)
    for command in COMMANDS:
        command.add_command(commands)
    for command_parser in commands.choices.values():
        common_options.add_common_arguments(command_parser)
    for argument in sys.argv[1:] if argv is None else argv:
        # The library takes text as UTF-8: other bytes (kept by Python as lone surrogates)
        # would reach it only as a TypeError.
        try:
            argument.encode("utf-8")
        except UnicodeEncodeError:
            parser.error(f"{os.fsencode(argument)!r} is not UTF-8; file names and values must be UTF-8 text")
    return common_options.run(parser.parse_args(argv))


def console() -> None:
    """The `vemo` command that `pip install` puts on PATH."""
    sys.exit(main(prog="vemo"))
