"""`intrinsic IMAGES...`: intrinsic calibration of one camera from image files."""

import argparse

import numpy as np

import _vemo
from quorvantine.vemo.commands.common_options import result_file_path, write_json
from quorvantine.vemo.commands.export_output import add_export_option, export_beside
from quorvantine.vemo.commands.intrinsic_outcome import calibrate_intrinsics
from quorvantine.vemo.commands.number_options import positive
from quorvantine.vemo.commands.reprojection_rms import format_rms_line
from quorvantine.vemo.commands.verdict_outcome import add_verdict
from quorvantine.vemo.commands.target_options import (MINIMUM_VIEWS, add_target_arguments, build_target,
                                                      print_no_detection_hint)
from quorvantine.vemo.version import __version__

RESULT_FILE_NAME = "intrinsics.json"


def format_result(result, data: dict, image_count: int) -> str:
    with np.printoptions(precision=4, suppress=True):
        return (f"\nINTRINSIC CALIBRATION: {len(result.successful_indices)} of {image_count} images show the target\n"
                f"\nCamera Matrix:\n{result.intrinsic_matrix}\n"
                f"\nDistortion Coefficients (k1 k2 p1 p2 k3 ...):\n{data['distortion_coefficients']}\n"
                f"\nReprojection Error (mean per view): {result.reprojection_error:.4f} px\n"
                f"{format_rms_line(data)}"
                f"Views within {data['per_view_error_threshold_px']} px: {len(result.low_view_error_indices)} of "
                f"{len(result.successful_indices)}\n")


def run(args: argparse.Namespace) -> int:
    if args.export and not args.output:
        args.target_parser.error("--export needs --output")
    target = build_target(args)
    images, paths = _vemo.io.load_images(args.images)
    options = _vemo.IntrinsicOptions()
    if args.threshold is not None:
        options.per_view_error_threshold = args.threshold
    names = [str(path) for path in paths]
    result = calibrate_intrinsics(args, target, images, options, names)
    if len(result.successful_indices) < MINIMUM_VIEWS:
        print_no_detection_hint(args, len(images), len(result.successful_indices))
    if not result.ok:
        args.outcome.summary = (f"intrinsic: failed, the target was found in {len(result.successful_indices)} of "
                                f"{len(images)} images")
        args.outcome.report.update({"ok": False, "image_count": len(images)})
        return 1

    data = args.outcome.report
    height, width = images[0].shape[:2]
    data.update({"ok": True, "image_size": [width, height], "image_count": len(images),
                 "used_images": [names[index] for index in result.successful_indices]})
    print(format_result(result, data, len(images)), end="", flush=True)
    code = add_verdict(args, result.verdict, names)
    K = result.intrinsic_matrix
    args.outcome.summary = (f"intrinsic: ok, {len(result.successful_indices)} of {len(images)} images; "
                            f"fx {K[0, 0]:.2f} fy {K[1, 1]:.2f} cx {K[0, 2]:.2f} cy {K[1, 2]:.2f}; "
                            f"RMS {data['rms_px']:.4f} px")
    if args.output:
        write_json(result_file_path(args.output, RESULT_FILE_NAME), {
            "camera_matrix": K, "distortion_coefficients": data["distortion_coefficients"],
            "image_size": [width, height], "reprojection_error": result.reprojection_error,
            "rms_px": data["rms_px"], "per_view_errors": result.per_view_errors, "image_count": len(images),
            "used_images": data["used_images"], "library_version": __version__})
        export_beside(args, args.output, RESULT_FILE_NAME, False)
    return code


def add_command(commands) -> None:
    intrinsic = commands.add_parser(
        "intrinsic", help="intrinsic calibration of one camera from image files",
        description="Calibrates one camera's matrix and distortion from images of a target (PNG or JPEG) and "
                    "prints the result; --output saves intrinsics.json.")
    intrinsic.add_argument("images", metavar="IMAGES", nargs="+",
                           help="image files, folders (their .png, .jpg and .jpeg files) or glob patterns")
    add_target_arguments(intrinsic)
    intrinsic.add_argument("--threshold", type=positive, metavar="PX",
                           help="per-view RMS error (pixels) under which a view counts as good (default 1.0)")
    intrinsic.add_argument("--output", metavar="OUT",
                           help="where to save intrinsics.json: a directory, or a file path ending in .json")
    add_export_option(intrinsic, RESULT_FILE_NAME, ("ros-camera-info", "opencv-yaml"))
    intrinsic.set_defaults(handler=run)
