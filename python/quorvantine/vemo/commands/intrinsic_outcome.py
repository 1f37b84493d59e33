"""An intrinsic calibration run for a command's outcome: its --report data and --plots figures."""

import argparse

import _vemo
from quorvantine.vemo import plots
from quorvantine.vemo.commands import report_data


def add_intrinsic_outcome(args: argparse.Namespace, target, images: list, options, names: list, key: str | None):
    """Calibrates the intrinsics of `images`, puts the report data under args.outcome.report[key]
    (or at its top level) and adds the intrinsic figures. Returns the IntrinsicResult."""
    calibrator = _vemo.IntrinsicCalibrator(target, options)
    intrinsics = calibrator.calibrate(images)
    if not intrinsics.ok:
        return intrinsics
    threshold = options.per_view_error_threshold
    data = report_data.intrinsics(intrinsics, threshold, names)
    if key:
        args.outcome.report[key] = data
    else:
        args.outcome.report.update(data)
    height, width = images[0].shape[:2]
    view_names = [names[index] for index in intrinsics.successful_indices]
    residuals = calibrator.reprojection_residuals(intrinsics.intrinsic_matrix, intrinsics.distortion_coefficients)
    args.outcome.figures.append(lambda directory: plots.intrinsic_figures(
        directory, intrinsics, residuals, (width, height), threshold, view_names))
    return intrinsics
