"""--intrinsics FILE: the commands on captured images take the camera's intrinsics from a file
instead of calibrating them from the same images."""

import argparse
import os

import _vemo

from quorvantine.vemo.intrinsics_files import Intrinsics, check_image_size, read_intrinsics

ACCEPTED_FILES = ("intrinsics.json (as the intrinsic command writes it), a ROS camera_info YAML or an OpenCV "
                  "FileStorage YAML (camera_matrix or intrinsic_matrix, distortion_coefficients or dist_coeffs)")


def add_intrinsics_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--intrinsics", metavar="FILE",
                        help=f"take the camera matrix and distortion from FILE and hold them fixed instead of "
                             f"calibrating them from the images: {ACCEPTED_FILES}")


def announce(intrinsics: Intrinsics, camera: int, cameras: int) -> None:
    # The report that follows shows the matrices; this says where they came from.
    which = f" of camera {camera}" if cameras > 1 else ""
    print(f"Intrinsics{which}: from {intrinsics.path}, held fixed (not calibrated)", flush=True)


def read_for_image(path: str, image, camera: int = 0, cameras: int = 1) -> Intrinsics:
    """The intrinsics in path for the camera that took image, announced on standard output;
    ValueError naming the file when it cannot serve them."""
    intrinsics = read_intrinsics(path)
    check_image_size(intrinsics, image)
    announce(intrinsics, camera, cameras)
    return intrinsics


def given_intrinsics(args: argparse.Namespace, images: list) -> Intrinsics | None:
    """The intrinsics of --intrinsics, or None without it; recorded for the report file."""
    if args.intrinsics is None:
        return None
    intrinsics = read_for_image(args.intrinsics, images[0])
    args.outcome.report["intrinsics_file"] = intrinsics.path
    return intrinsics


def calibrate_arguments(intrinsics: Intrinsics | None) -> dict:
    """The keyword arguments of a hand-eye calibrate() that hand it the intrinsics."""
    if intrinsics is None:
        return {}
    return {"intrinsic_matrix": intrinsics.camera_matrix, "distortion_coefficients": intrinsics.dist_coeffs}


def add_camera_intrinsics_argument(parser: argparse.ArgumentParser, instead_of: str) -> None:
    parser.add_argument("--intrinsics", metavar="FILE", action="append",
                        help=f"take each camera's matrix and distortion from a file and hold them fixed instead of "
                             f"{instead_of}: one FILE per camera, repeated in camera order, or once a folder "
                             "of camera_00.yaml, camera_01.yaml, ... (as the ros-camera-info export of a rig writes "
                             f"them); each file is {ACCEPTED_FILES}")


def intrinsics_file_paths(paths: list, cameras: int) -> list:
    if len(paths) == 1 and os.path.isdir(paths[0]):
        return [os.path.join(paths[0], f"camera_{camera:02d}.yaml") for camera in range(cameras)]
    if len(paths) != cameras:
        raise ValueError(f"intrinsics: {len(paths)} --intrinsics files for {cameras} camera{'s' * (cameras != 1)}; "
                         "give one per camera in camera order, or one folder of camera_NN.yaml files")
    return paths


def given_camera_intrinsics(args: argparse.Namespace, first_images: list) -> list | None:
    """[Intrinsics] per camera from the repeatable --intrinsics, or None without it; recorded
    for the report file. first_images: an image of each camera, for the image size."""
    if not args.intrinsics:
        return None
    paths = intrinsics_file_paths(args.intrinsics, len(first_images))
    cameras = [read_for_image(path, image, camera, len(paths))
               for camera, (path, image) in enumerate(zip(paths, first_images))]
    args.outcome.report["intrinsics_files"] = [intrinsics.path for intrinsics in cameras]
    return cameras


# cv::CALIB_FIX_PRINCIPAL_POINT, ZERO_TANGENT_DIST, FIX_FOCAL_LENGTH, FIX_K1 to K6 and
# FIX_S1_S2_S3_S4. With intrinsics given no camera is calibrated, and these flags then only
# tell the rig's bundle adjustment to hold every lens.
HOLD_LENSES = 4 | 8 | 16 | 32 | 64 | 128 | 2048 | 4096 | 8192 | 65536


def rig_options(intrinsics_given: bool):
    """The rig calibrator's options: its defaults, with every lens held where the intrinsics
    came from files, as the hand-eye commands hold them."""
    options = _vemo.MultiCameraCalibrator.default_options()
    if intrinsics_given:
        options.calibrate_camera_flags = HOLD_LENSES
    return options
