"""Command line: `python -m quorvantine.vemo COMMAND ...`; each command lives in its own
module of quorvantine.vemo.commands."""

import argparse
import sys

from quorvantine.vemo.commands import benchmark, compare, demo, hand_eye, rig

COMMANDS = (demo, hand_eye, rig, compare, benchmark)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quorvantine.vemo",
                                     description="Camera calibration for robot cells.")
    commands = parser.add_subparsers(dest="command", required=True)
    for command in COMMANDS:
        command.add_command(commands)
    args = parser.parse_args(argv)
    try:
        return args.handler(args)
    except (ValueError, RuntimeError) as error:
        print(f"error: {error}", file=sys.stderr)
        return 2
