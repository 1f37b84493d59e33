"""`check CALIBRATION DATA_DIR`: new captures against an existing calibration, to tell whether
it still holds or which part of the cell moved, and by how much."""

import argparse

import _vemo
from quorvantine.vemo.commands.check_hand_eye import check_hand_eye
from quorvantine.vemo.commands.check_rig import check_rig
from quorvantine.vemo.commands.dataset import add_dataset_arguments
from quorvantine.vemo.commands.intrinsics_option import (add_camera_intrinsics_argument, announce,
                                                          given_camera_intrinsics)
from quorvantine.vemo.commands.number_options import positive
from quorvantine.vemo.commands.target_options import add_target_arguments, build_target
from quorvantine.vemo.commands.verdict_outcome import UNTRUSTED_EXIT_CODE
from quorvantine.vemo.exports import load_result
from quorvantine.vemo.intrinsics_files import Intrinsics, check_image_size


def stored_intrinsics(stored, first_images: list) -> list:
    """Per camera, the intrinsics the calibration file records, announced."""
    if not stored.cameras:
        raise ValueError(f"check: {stored.file_name} records no intrinsics; give --intrinsics FILE or check the "
                         "refined file, which records them")
    cameras = []
    for index, (camera, image) in enumerate(zip(stored.cameras, first_images)):
        intrinsics = Intrinsics(stored.path, camera.camera_matrix, camera.distortion_coefficients.reshape(1, -1),
                                stored.image_size)
        check_image_size(intrinsics, image)
        announce(intrinsics, index, len(stored.cameras))
        cameras.append(intrinsics)
    return cameras


def run(args: argparse.Namespace) -> int:
    stored = load_result(args.calibration, operation="check")
    if stored.kind == "intrinsics":
        raise ValueError(f"check: {stored.file_name} holds intrinsics only; check a hand-eye, eye-to-hand or rig "
                         "calibration")
    target = build_target(args)
    print(f"Check of {stored.path} ({stored.kind}) on {args.data_dir}", flush=True)

    def resolve(first_images: list) -> list:
        # The closed-form hand-eye files record no intrinsics; every other file does.
        return given_camera_intrinsics(args, first_images) or stored_intrinsics(stored, first_images)

    figures = (check_rig if stored.kind == "rig" else check_hand_eye)(args, stored, target, resolve)
    print(figures.text(), end="", flush=True)
    args.outcome.report.update({"calibration": stored.path, "kind": stored.kind, "tolerance_mm": args.tolerance_mm,
                                "tolerance_deg": args.tolerance_deg, **figures.data()})
    args.outcome.summary = f"check: {figures.verdict()}"
    return 0 if figures.still_valid else UNTRUSTED_EXIT_CODE


def add_command(commands) -> None:
    check = commands.add_parser(
        "check", help="check new captures against an existing calibration",
        description="Checks an eye-in-hand (hand_eye.json), eye-to-hand (eye_to_hand.json) or rig "
                    "(multi_camera_calibration.json) calibration, or its _refined.json, against new captures in "
                    "DATA_DIR (laid out as the calibrating command reads it). Prints each capture's reprojection "
                    "error with the calibration held fixed (only what the new captures must determine is fitted: "
                    "the target's pose in the base frame for eye-in-hand, each frame's board pose for a rig), then "
                    "re-solves each stored transform from the new captures with the intrinsics held and calls it "
                    "moved when it lies farther from the stored one than both 3 sigma of the new estimate and the "
                    "tolerance. Exit code 0: still valid; 3: moved; 2: error.")
    check.add_argument("calibration", metavar="CALIBRATION", help="the calibration file to check")
    add_dataset_arguments(check)
    add_target_arguments(check)
    add_camera_intrinsics_argument(check, "those the calibration file records (which the closed-form "
                                          "hand_eye.json does not)")
    check.add_argument("--method", choices=sorted(_vemo.hand_eye_method_by_name_map()),
                       help="hand-eye solver of the re-solve, which the refinement then polishes (default TSAI "
                            "eye-in-hand, PARK eye-to-hand)")
    check.add_argument("--tolerance-mm", type=positive, default=1.0, metavar="MM",
                       help="a transform that moved by less is still valid (default 1.0)")
    check.add_argument("--tolerance-deg", type=positive, default=0.1, metavar="DEG",
                       help="the same for its rotation (default 0.1)")
    check.set_defaults(handler=run)
