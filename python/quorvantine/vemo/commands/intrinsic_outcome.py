"""An intrinsic calibration's part of a command's outcome: its --report data and --plots figures."""

import argparse

import _vemo
from quorvantine.vemo import plots
from quorvantine.vemo.commands import report_data


def calibrate_intrinsics(args: argparse.Namespace, target, images: list, options, names: list):
    """Calibrates the intrinsics of `images` and adds the outcome at the report's top level.
    Returns the IntrinsicResult."""
    calibrator = _vemo.IntrinsicCalibrator(target, options)
    intrinsics = calibrator.calibrate(images)
    add_intrinsic_outcome(args, intrinsics, calibrator.reprojection_residuals, images, options, names, None)
    return intrinsics


def add_intrinsic_outcome(args: argparse.Namespace, intrinsics, residuals_of, images: list, options, names: list,
                          key: str | None) -> None:
    """Puts the report data of a successful IntrinsicResult of `images` under
    args.outcome.report[key] (or at its top level) and adds the intrinsic figures;
    residuals_of(intrinsic_matrix, distortion_coefficients) gives its per-view residuals."""
    if not intrinsics.ok:
        return
    threshold = options.per_view_error_threshold
    data = report_data.intrinsics(intrinsics, threshold, names)
    if key:
        args.outcome.report[key] = data
    else:
        args.outcome.report.update(data)
    height, width = images[0].shape[:2]
    view_names = [names[index] for index in intrinsics.successful_indices]
    residuals = residuals_of(intrinsics.intrinsic_matrix, intrinsics.distortion_coefficients)
    args.outcome.figures.append(lambda directory: plots.intrinsic_figures(
        directory, intrinsics, residuals, (width, height), threshold, view_names))
