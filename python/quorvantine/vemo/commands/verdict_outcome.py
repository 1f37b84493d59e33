"""The verdict a calibration command prints after its report, writes to the report file and
turns into its exit code: 3 when the result is saved but not trusted."""

import argparse

import _vemo

UNTRUSTED_EXIT_CODE = 3


def verdict_data(verdict, capture_names: list) -> dict:
    return {"trusted": verdict.trusted, "reasons": list(verdict.reasons),
            "suspects": [{"capture": suspect.capture,
                          "image": capture_names[suspect.capture] if suspect.capture < len(capture_names) else None,
                          "residual_without_m": suspect.residual_without_m} for suspect in verdict.suspects]}


def add_verdict(args: argparse.Namespace, verdict, capture_names: list) -> int:
    """Prints the verdict, puts it in the report file and returns the command's exit code."""
    print(_vemo.format_verdict(verdict, capture_names), end="", flush=True)
    args.outcome.report["verdict"] = verdict_data(verdict, capture_names)
    return 0 if verdict.trusted else UNTRUSTED_EXIT_CODE
