"""`rig DATA_DIR`: extrinsic calibration of a multi-camera capture directory."""

import argparse
import pathlib
import sys

import _vemo
import numpy as np
from quorvantine.vemo import plots
from quorvantine.vemo.commands import report_data
from quorvantine.vemo.commands.common_options import refined_file_name, refined_result_path, write_json
from quorvantine.vemo.commands.export_output import add_export_option, export_beside
from quorvantine.vemo.commands.intrinsics_option import (add_camera_intrinsics_argument, given_camera_intrinsics,
                                                         rig_options)
from quorvantine.vemo.commands.number_options import integer, positive
from quorvantine.vemo.commands.reprojection_rms import format_rig_rms_lines
from quorvantine.vemo.commands.rig_frames import load_rig_frames
from quorvantine.vemo.commands.target_options import add_target_arguments, build_target
from quorvantine.vemo.version import __version__

RESULT_FILE_NAME = "multi_camera_calibration.json"


def camera_count(data_dir: pathlib.Path) -> int:
    """Number of consecutive camera folders cam_00, cam_01, ... in data_dir."""
    count = 0
    while (data_dir / f"cam_{count:02d}").is_dir():
        count += 1
    return count


def subset_sizes(text: str) -> list[int]:
    try:
        sizes = [integer(size) for size in text.split(",")]
    except (ValueError, argparse.ArgumentTypeError):
        raise argparse.ArgumentTypeError(f"expected camera counts separated by commas, such as 2,3; got {text!r}")
    if any(size < 2 for size in sizes):
        raise argparse.ArgumentTypeError(f"a subset needs at least 2 cameras; got {text!r}")
    return sizes


def run(args: argparse.Namespace) -> int:
    if args.loss_scale is not None and not args.refine:
        args.target_parser.error("--loss-scale needs --refine")
    data_dir = pathlib.Path(args.data_dir)
    cameras = camera_count(data_dir)
    if cameras < 2:
        print(f"error: {data_dir} holds {cameras} camera folders (cam_00, cam_01, ...); a rig needs at least 2",
              file=sys.stderr)
        return 2
    image_lists = load_rig_frames(data_dir, cameras)
    target = build_target(args)
    given = given_camera_intrinsics(args, [images[0] for images in image_lists]) or []
    calibrator = _vemo.MultiCameraCalibrator(target, cameras, args.reference, rig_options(bool(given)))
    # The stereo solves hold given intrinsics fixed (the calibrator's default flags).
    result = calibrator.calibrate(image_lists, [camera.camera_matrix for camera in given],
                                  [camera.dist_coeffs for camera in given], output_path=args.output or data_dir)
    print(format_rig_rms_lines(result), end="", flush=True)
    if args.subsets:
        calibrator.calibrate_subsets(image_lists, args.subsets)
        calibrator.print_results()
    code = 0 if result.ok else 1
    if args.refine:
        code = refine_rig(args, calibrator, result, data_dir) or code
    if result.ok:
        height, width = image_lists[0][0].shape[:2]
        # code is 0 here only when a refinement asked for was saved.
        export_beside(args, str(args.output or data_dir), RESULT_FILE_NAME, args.refine and code == 0, (width, height))
    placed = sum(1 for pose in result.reference_T_camera_list if pose.size)
    args.outcome.summary = f"rig: {'ok' if result.ok else 'failed'}, {placed} of {cameras} cameras placed"
    args.outcome.report.update({
        "ok": result.ok, "reference_index": result.reference_index, "frames": len(image_lists[0]),
        "reference_T_camera_list": [pose if pose.size else None for pose in result.reference_T_camera_list],
        "intrinsic_matrices": result.intrinsic_matrices,
        "distortion_coefficients": [np.ravel(d) for d in result.distortion_coefficients],
        "intrinsic_reprojection_errors": result.intrinsic_reprojection_errors,
        "pair_reprojection_errors": result.pair_reprojection_errors,
        "cameras": report_data.rig_cameras(result)})
    args.outcome.figures.append(lambda directory: coverage_figures(directory, target, image_lists))
    return code


def refine_rig(args: argparse.Namespace, calibrator, result, data_dir: pathlib.Path) -> int:
    """Under --refine, the bundle adjustment of a solved rig, printed after the pairwise report,
    put into the report data and saved beside the pairwise file; 1 when it could not run."""
    if not result.ok:
        print("\nRig bundle adjustment skipped: the pairwise calibration did not place every camera.")
        return 1
    refinement = calibrator.refine(loss_scale_px=args.loss_scale)
    print(calibrator.format_refinement(), end="")
    names = ("ok", "converged", "iterations", "loss_scale_px", "reference_index", "reference_T_camera_list",
             "intrinsic_matrices", "distortion_coefficients", "corner_count", "rms_before_px", "rms_after_px",
             "per_camera_rms_px", "per_camera_corner_count", "sigma_translation_mm", "sigma_rotation_deg",
             "image_noise_px")
    data = {name: getattr(refinement, name) for name in names}
    data["distortion_coefficients"] = [np.ravel(d) for d in refinement.distortion_coefficients]
    args.outcome.report["refinement"] = data
    if not refinement.ok:
        return 1
    write_json(refined_result_path(str(args.output or data_dir), RESULT_FILE_NAME), {**data, "library_version": __version__})
    return 0


def coverage_figures(directory: str, target, image_lists: list) -> list:
    """cam_NN_coverage.png: where each camera saw the target's corners."""
    written = []
    for camera, images in enumerate(image_lists):
        corners = _vemo.IntrinsicCalibrator(target).find_corners(images).image_points
        height, width = images[0].shape[:2]
        path = pathlib.Path(directory) / f"cam_{camera:02d}_coverage.png"
        written.append(plots.coverage(corners, (width, height), path, f"cam_{camera:02d} corner coverage"))
    return written


def add_command(commands) -> None:
    rig = commands.add_parser(
        "rig", help="extrinsic calibration of a multi-camera capture directory",
        description="Calibrates every camera of a synchronized rig and its pose reference_T_camera in the frame of "
                    "the reference camera, from a capture directory (cam_00/image_00.png, cam_01/image_00.png, ... "
                    "as io.save_multi_camera_capture writes it, or .jpg, .bmp, .tif, ... frames; every camera folder "
                    "holds the same captures). Each camera's intrinsics are calibrated from its own images unless "
                    "--intrinsics gives them. Prints the report and saves multi_camera_calibration.json. Lengths are "
                    "in metres.")
    rig.add_argument("data_dir", metavar="DATA_DIR", help="the capture directory")
    add_target_arguments(rig)
    add_camera_intrinsics_argument(rig, "calibrating them")
    rig.add_argument("--reference", type=integer, default=0, metavar="INDEX",
                     help="index of the camera whose frame the poses are given in (default 0)")
    rig.add_argument("--subsets", type=subset_sizes, metavar="SIZES",
                     help="also calibrate every combination of this many cameras as a rig of its own, for each "
                          "comma-separated size (for example 2,3), and end with their summary")
    rig.add_argument("--output", metavar="OUT",
                     help="where to save multi_camera_calibration.json: a directory, or a file path ending in .json "
                          "(default DATA_DIR)")
    rig.add_argument("--refine", action="store_true",
                     help="then refine the rig as one bundle adjustment (every camera's intrinsics and pose and every "
                          "frame's board pose against the corner pixels), print it after the report with each "
                          f"camera's 1-sigma uncertainty and save it as {refined_file_name(RESULT_FILE_NAME)} beside "
                          f"{RESULT_FILE_NAME}")
    rig.add_argument("--loss-scale", type=positive, metavar="PX",
                     help="with --refine: Huber loss scale in pixels (default: 1.345 times the corners' robust "
                          "noise after a first fit, which the report prints)")
    add_export_option(rig, RESULT_FILE_NAME)
    rig.set_defaults(handler=run)
