"""What the hand-eye commands on a dataset directory (eye-in-hand and eye-to-hand) share:
their options and the run."""

import argparse

import _vemo
from quorvantine.vemo import plots
from quorvantine.vemo.commands import report_data
from quorvantine.vemo.commands.common_options import refined_file_name, refined_result_path, write_json
from quorvantine.vemo.commands.dataset import add_dataset_arguments, load_captures
from quorvantine.vemo.commands.intrinsic_outcome import add_intrinsic_outcome
from quorvantine.vemo.commands.intrinsics_option import add_intrinsics_argument, calibrate_arguments, given_intrinsics
from quorvantine.vemo.commands.number_options import non_negative, positive
from quorvantine.vemo.commands.reprojection_rms import format_rms_line
from quorvantine.vemo.commands.verdict_outcome import add_verdict
from quorvantine.vemo.commands.target_options import (MINIMUM_VIEWS, add_target_arguments, build_target,
                                                      print_no_detection_hint)
from quorvantine.vemo.version import __version__


def add_hand_eye_arguments(parser: argparse.ArgumentParser, result_file_name: str, default_method: str) -> None:
    add_dataset_arguments(parser)
    add_target_arguments(parser)
    add_intrinsics_argument(parser)
    parser.add_argument("--method", default=default_method, choices=sorted(_vemo.hand_eye_method_by_name_map()),
                        help=f"hand-eye solver (default {default_method})")
    parser.add_argument("--robot-repeatability-mm", type=non_negative, default=0.1, metavar="MM",
                        help="standard deviation per axis of the robot's reported flange position, which the "
                             "verdict counts as noise (default 0.1)")
    parser.add_argument("--robot-repeatability-deg", type=non_negative, default=0.01, metavar="DEG",
                        help="the same for its orientation (default 0.01)")
    parser.add_argument("--output", metavar="OUT",
                        help=f"where to save {result_file_name}: a directory, or a file path ending in .json "
                             "(default DATA_DIR)")


def add_refine_arguments(parser: argparse.ArgumentParser, transforms: str, result_file_name: str) -> None:
    refined_name = refined_file_name(result_file_name)
    parser.add_argument("--refine", action="store_true",
                        help=f"then refine {transforms} jointly with the intrinsics against the corner pixels, print "
                             f"the refined transform with its 1-sigma uncertainty and save both as {refined_name} "
                             f"beside {result_file_name} (which keeps the closed-form result)")
    parser.add_argument("--refine-intrinsics", action="store_true",
                        help="with --refine: also refine the camera matrix and distortion (they always are unless "
                             "--intrinsics gives them: the commands calibrate them from the same images)")
    parser.add_argument("--loss-scale", type=positive, metavar="PX",
                        help="with --refine: Huber loss scale in pixels (default: 1.345 times the corners' robust "
                             "noise after a first fit, which the report prints)")


def check_refine_arguments(args: argparse.Namespace) -> None:
    # Options that only tune the refinement would otherwise be ignored without a word.
    if not args.refine and (args.refine_intrinsics or args.loss_scale is not None):
        args.target_parser.error("--refine-intrinsics and --loss-scale need --refine")


def refine_solved(args: argparse.Namespace, calibrator, code: int, transform_names: tuple,
                  result_file_name: str) -> int:
    """Under --refine, refines the solved run with its intrinsics (calibrated from the same
    images, so their own error belongs in the sigma; held, unless asked otherwise, when
    --intrinsics gave them), prints the refinement, reports it and saves it beside the result
    file; the exit code."""
    if not args.refine:
        return code
    refine_intrinsics = args.intrinsics is None or args.refine_intrinsics
    # Detected corners have heavy tails: without a scale given, one near the core's noise.
    refinement = (calibrator.refine_at_noise_scale(refine_intrinsics=refine_intrinsics) if args.loss_scale is None
                  else calibrator.refine(refine_intrinsics=refine_intrinsics, loss_scale_px=args.loss_scale))
    print(calibrator.format_refinement(), end="")
    data = report_data.refinement(refinement, transform_names)
    args.outcome.report["refinement"] = report_data.with_poses(data, transform_names)
    if not refinement.ok:
        return 1
    write_json(refined_result_path(args.output or args.data_dir, result_file_name),
               {**data, "library_version": __version__})
    return code


def calibrate_dataset(args: argparse.Namespace, title: str, calibrator_class, transform_names: tuple):
    """Runs calibrator_class(target).calibrate on the dataset (intrinsics from the same
    images, or from --intrinsics), prints the verdict of a solved run after its report and
    fills args.outcome; transform_names are the result's solved transforms. Returns the
    calibrator, the result and the exit code (0, 1 when not solved, 3 when not trusted)."""
    target = build_target(args)
    images, robot_T_tcp_list = load_captures(args)
    # The report itself names neither: say which solver ran on how much data.
    print(f"{title}: method {args.method}, {len(images)} captures", flush=True)
    intrinsics = given_intrinsics(args, images)
    calibrator = calibrator_class(target)
    calibrator.verdict_options = _vemo.VerdictOptions(args.robot_repeatability_mm / 1000.0,
                                                      args.robot_repeatability_deg)
    result = calibrator.calibrate(robot_T_tcp_list, images, args.method, output_path=args.output or args.data_dir,
                                  **calibrate_arguments(intrinsics))
    names = [f"image_{index:02d}.png" for index in range(len(images))]
    code = add_verdict(args, result.verdict, names) if result.ok else 1
    if not result.ok:
        found = len(result.valid_image_list if intrinsics else calibrator.last_intrinsic_result().successful_indices)
        if found < MINIMUM_VIEWS:
            print_no_detection_hint(args, len(images), found)
    args.outcome.report.update(report_data.hand_eye(result, args.method, len(images), transform_names))
    used = report_data.captures_used(result)
    if result.ok:
        first = transform_names[0]
        pose = ", ".join(f"{x:.4f}" for x in _vemo.tf.transformation_matrix_to_pose(getattr(result, first)))
        c = result.consistency
        args.outcome.summary = (f"{args.command}: ok, {args.method}, {used} of {len(images)} captures used; "
                                f"{first} [x, y, z, rx, ry, rz] = [{pose}]; consistency max "
                                f"{1000 * c.max_translation_m:.3f} mm, {c.max_rotation_deg:.3f} deg")
    else:
        args.outcome.summary = f"{args.command}: failed, {used} of {len(images)} captures usable"
    args.outcome.figures.append(lambda directory: plots.hand_eye_figures(directory, result))
    # Intrinsics from a file have no calibration of their own to report.
    if intrinsics is None:
        add_intrinsic_outcome(args, calibrator.last_intrinsic_result(), calibrator.intrinsic_reprojection_residuals,
                              images, _vemo.IntrinsicOptions(), [name[:-4] for name in names], "intrinsics")
    if result.ok and "intrinsics" in args.outcome.report:
        print(format_rms_line(args.outcome.report["intrinsics"]), end="", flush=True)
    return calibrator, result, code
