"""`benchmark DATA_DIR`: cross-validated intrinsic error and hand-eye round trip of a dataset directory."""

import argparse
import contextlib
import io
import os

import _vemo
from quorvantine.vemo.commands import report_data
from quorvantine.vemo.commands.dataset import add_dataset_arguments, load_captures
from quorvantine.vemo.commands.intrinsics_option import add_intrinsics_argument, calibrate_arguments, given_intrinsics
from quorvantine.vemo.commands.target_options import add_target_arguments, build_target

UNITS_LINE = ("RPE, Held and RT in px, each the mean per view of (residual norm / corners): RPE of the full "
              "calibration, Held of the views held out by the cross-validation, RT of the views predicted through "
              "the hand-eye result (- not measured)")


def seed_value(text: str) -> int:
    value = int(text)
    if not 0 <= value < 2 ** 32:
        raise argparse.ArgumentTypeError(f"seed must be an integer from 0 to {2 ** 32 - 1}, got {text}")
    return value


def fold_count(text: str) -> int:
    value = int(text)
    if value < 2:
        raise argparse.ArgumentTypeError(f"cross-validation needs at least 2 folds, got {text}")
    return value


def run(args: argparse.Namespace) -> int:
    target = build_target(args)
    images, robot_T_tcp_list = load_captures(args)
    if args.splits > len(images):
        raise ValueError(f"benchmark: --splits {args.splits} is more than the {len(images)} captures")
    intrinsics = given_intrinsics(args, images)
    options = _vemo.IntrinsicOptions()
    # The eye-in-hand step prints its full report; the table is what this command shows.
    with contextlib.redirect_stdout(io.StringIO()):
        result = _vemo.CalibrationBenchmark().run(images, target, options, robot_T_tcp_list, options,
                                                  args.backend_name, args.splits, args.seed,
                                                  **calibrate_arguments(intrinsics))
    print(_vemo.CalibrationBenchmark.format_results([result]), end="")
    print(UNITS_LINE, flush=True)
    path = args.output or os.path.join(args.data_dir, "benchmark.json")
    _vemo.CalibrationBenchmark.save_json([result], path)
    args.outcome.report.update({"splits": args.splits, "seed": args.seed, "benchmark_file": str(path),
                                "results": [report_data.benchmark(result)]})
    return 0


def add_command(commands) -> None:
    benchmark = commands.add_parser(
        "benchmark", help="cross-validation and hand-eye round trip of a dataset directory",
        description="Calibrates the camera intrinsics from a dataset directory (as hand-eye reads it), measures "
                    "the held-out reprojection error by seeded k-fold cross-validation and the reprojection error "
                    "of every view predicted through the hand-eye result, prints the table and saves the JSON. "
                    "With --intrinsics nothing is calibrated or cross-validated: both errors are those of the "
                    "file's intrinsics over every image, and the hand-eye run holds them.")
    add_dataset_arguments(benchmark)
    add_target_arguments(benchmark)
    add_intrinsics_argument(benchmark)
    benchmark.add_argument("--splits", type=fold_count, default=5, help="cross-validation folds (default 5)")
    benchmark.add_argument("--seed", type=seed_value, default=0, help="seed of the fold shuffle (default 0)")
    benchmark.add_argument("--backend-name", default="OpenCV", help="label of the run (default OpenCV)")
    benchmark.add_argument("--output", metavar="FILE.json",
                           help="where to save the results (default DATA_DIR/benchmark.json)")
    benchmark.set_defaults(handler=run)
