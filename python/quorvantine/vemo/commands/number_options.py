"""Types of the numeric options. Each refuses, as a usage error (exit code 2), a value that the
library cannot take or that would make the run meaningless; what the library itself checks
(a board of 0 squares, a reference camera beyond the rig) it still says in its own words."""

import argparse
import math

# The library's int: a larger number given on the command line would not even reach it.
INT_MIN, INT_MAX = -2 ** 31, 2 ** 31 - 1


def integer(text: str) -> int:
    value = int(text)
    if not INT_MIN <= value <= INT_MAX:
        raise argparse.ArgumentTypeError(f"must be an integer from {INT_MIN} to {INT_MAX}, got {text}")
    return value


def positive(text: str) -> float:
    value = float(text)
    # NaN compares false with everything: a NaN threshold would pass and fail nothing.
    if not (math.isfinite(value) and value > 0):
        raise argparse.ArgumentTypeError(f"must be a finite number above 0, got {text}")
    return value


def non_negative(text: str) -> float:
    value = float(text)
    if not (math.isfinite(value) and value >= 0):
        raise argparse.ArgumentTypeError(f"must be a finite number not below 0, got {text}")
    return value
