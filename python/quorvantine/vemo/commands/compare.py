"""`compare DATA_DIR`: the five hand-eye solvers on a saved dataset directory, side by side."""

import argparse
import contextlib
import io
import math
import pathlib

import _vemo
import numpy as np
from quorvantine.vemo import plots
from quorvantine.vemo.commands import report_data
from quorvantine.vemo.commands.dataset import add_dataset_arguments, load_captures
from quorvantine.vemo.commands.intrinsics_option import add_intrinsics_argument, given_intrinsics
from quorvantine.vemo.commands.number_options import positive
from quorvantine.vemo.commands.reprojection_rms import format_shared_rms_line
from quorvantine.vemo.commands.target_options import add_target_arguments, build_target
from quorvantine.vemo.commands.verdict_outcome import UNTRUSTED_EXIT_CODE, verdict_data


def format_consistency(method_results: dict) -> str:
    """Each method's target consistency residual: how far the captures' world_T_target scatter."""
    lines = ["  Target consistency residual (mean / max):"]
    for name, result in method_results.items():
        if result is None:
            lines.append(f"  {name:<12}(failed)")
            continue
        c = result.consistency
        lines.append(f"  {name:<12}{1000 * c.mean_translation_m:8.3f} / {1000 * c.max_translation_m:.3f} mm"
                     f"{c.mean_rotation_deg:9.3f} / {c.max_rotation_deg:.3f} deg")
    return "\n".join(lines) + "\n"


def run(args: argparse.Namespace) -> int:
    target = build_target(args)
    images, robot_T_tcp_list = load_captures(args)
    intrinsics = given_intrinsics(args, images)
    # Target poses, and without --intrinsics the intrinsics too, come from the images.
    no_matrix = np.zeros((0, 0))
    camera_matrix, dist_coeffs = (no_matrix, no_matrix) if intrinsics is None else (intrinsics.camera_matrix,
                                                                                   intrinsics.dist_coeffs)
    # The five runs' own reports would bury the comparison; their log lines still show.
    with contextlib.redirect_stdout(io.StringIO()):
        results = _vemo.diagnostics.compare_hand_eye_methods(target, robot_T_tcp_list, images, [], camera_matrix,
                                                             dist_coeffs)
    diagnostics = _vemo.diagnostics
    print(diagnostics.format_method_comparison(results, args.consensus_threshold_deg))
    agreement = diagnostics.assess_method_agreement(results, args.translation_threshold_mm,
                                                    args.rotation_threshold_deg)
    print(diagnostics.format_method_agreement(agreement))
    print(format_consistency(results), end="")
    shared_rms = next((result.intrinsic_rms_px for result in results.values() if result is not None), math.nan)
    print(format_shared_rms_line(shared_rms), end="")

    solved = {name: result for name, result in results.items() if result is not None}
    args.outcome.summary = f"compare: {len(solved)} of {len(results)} methods solved on {len(images)} captures"
    trusted = [name for name, result in solved.items() if result.verdict.trusted]
    args.outcome.report.update({
        "captures_total": len(images), "intrinsic_rms_px": shared_rms,
        "methods": report_data.method_results(results, lambda verdict: verdict_data(verdict, [])),
        "agreement": report_data.method_agreement(agreement), "trusted_methods": trusted})
    if solved:
        print(f"  Trusted results: {', '.join(trusted) or 'none'}")
    if agreement is not None:
        poses = {name: result.tcp_T_camera for name, result in solved.items()}
        # Against the median the text measures from, which one wild solver cannot drag along.
        args.outcome.figures.append(lambda directory: [plots.comparison(
            poses, pathlib.Path(directory) / "comparison.png", median=agreement.median_tcp_T_camera)])
    if not solved:
        return 1
    return 0 if trusted else UNTRUSTED_EXIT_CODE


def add_command(commands) -> None:
    compare = commands.add_parser(
        "compare", help="run all five hand-eye solvers on a dataset directory and compare them",
        description="Calibrates tcp_T_camera from a dataset directory (as hand-eye reads it) with each of the five "
                    "hand-eye solvers, then prints them side by side with the verdict on rz, the agreement in "
                    "translation and rotation, and each solver's target consistency residual. The camera "
                    "intrinsics (unless --intrinsics gives them) and target poses are calibrated once, from the same "
                    "images.")
    add_dataset_arguments(compare)
    add_target_arguments(compare)
    add_intrinsics_argument(compare)
    compare.add_argument("--consensus-threshold-deg", type=positive, default=1.5,
                         help="rz within this of the median agrees (default 1.5)")
    compare.add_argument("--translation-threshold-mm", type=positive, default=5.0,
                         help="translation farther than this from the median is an outlier (default 5)")
    compare.add_argument("--rotation-threshold-deg", type=positive, default=0.5,
                         help="rotation farther than this from the median is an outlier (default 0.5)")
    compare.set_defaults(handler=run)
