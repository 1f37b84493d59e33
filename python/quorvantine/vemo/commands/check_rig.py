"""`vemo check` of a multi-camera calibration on a new capture directory.

Held fixed, the rig places every camera; what new frames must determine is where each frame's
board was: the mean over the cameras that saw it of reference_T_camera @ camera_T_board.
Re-solved with the intrinsics held (the pairwise stereo solves), the frames say where each
camera is now; the bundle adjustment's sigma says how well they say it."""

import contextlib
import io
import pathlib

import numpy as np

import _vemo
from quorvantine.vemo.commands.calibration_drift import drift
from quorvantine.vemo.commands.check_figures import CheckFigures, reprojection_errors
from quorvantine.vemo.commands.intrinsics_option import rig_options
from quorvantine.vemo.commands.rig import camera_count
from quorvantine.vemo.commands.rig_frames import load_rig_frames



def board_poses(target, images: list, camera_matrix, dist_coeffs) -> list:
    """camera_T_board per image, None where the board was not found."""
    # Solved one image at a time, so that each pose stays with its frame; only where the
    # board shows, so that the solver's warnings name real failures.
    shown = set(_vemo.IntrinsicCalibrator(target).find_corners(images).successful_indices)
    finder = _vemo.EyeInHandCalibrator(target)
    poses = [None] * len(images)
    for index in sorted(shown):
        found = finder.compute_camera_T_target_list([images[index]], [np.eye(4)], camera_matrix, dist_coeffs)
        if found.camera_T_target_list:
            poses[index] = found.camera_T_target_list[0]
    return poses


def predicted_camera_T_boards(reference_T_cameras: list, camera_T_boards: list) -> list:
    """[camera][frame] camera_T_board with the rig held and each frame's board placed by the
    cameras that saw it (None for a frame no camera saw)."""
    predicted = [[None] * len(camera_T_boards[0]) for _ in reference_T_cameras]
    for frame in range(len(camera_T_boards[0])):
        seen = [reference_T_camera @ boards[frame] for reference_T_camera, boards
                in zip(reference_T_cameras, camera_T_boards) if boards[frame] is not None]
        if not seen:
            continue
        reference_T_board = _vemo.tf.average_pose(seen)
        for camera, reference_T_camera in enumerate(reference_T_cameras):
            predicted[camera][frame] = np.linalg.inv(reference_T_camera) @ reference_T_board
    return predicted


def check_rig(args, stored, target, resolve_intrinsics) -> CheckFigures:
    """resolve_intrinsics([an image per camera]) gives [the Intrinsics to hold per camera]."""
    if not isinstance(target, _vemo.CharucoTarget):
        raise ValueError("check: a rig is checked with a ChArUco target (--target charuco), whose board poses "
                         "every camera solves on its own")
    data_dir = pathlib.Path(args.data_dir)
    count = len(stored.cameras)
    if camera_count(data_dir) != count:
        raise ValueError(f"check: {data_dir} holds {camera_count(data_dir)} camera folders (cam_00, cam_01, ...) "
                         f"but {stored.file_name} calibrates {count} cameras")
    reference_T_cameras = stored.matrices["reference_T_camera_list"]
    unplaced = [index for index, pose in enumerate(reference_T_cameras) if pose is None]
    if unplaced:
        raise ValueError(f"check: {stored.file_name} places no camera {unplaced[0]}: its pair was not calibrated")
    image_lists = load_rig_frames(data_dir, count)
    cameras = resolve_intrinsics([images[0] for images in image_lists])
    matrices = [camera.camera_matrix for camera in cameras]
    coefficients = [camera.dist_coeffs for camera in cameras]
    camera_T_boards = [board_poses(target, images, K, d) for images, K, d in zip(image_lists, matrices, coefficients)]
    predicted = predicted_camera_T_boards(reference_T_cameras, camera_T_boards)
    errors = [reprojection_errors(target, images, poses, K, d)
              for images, poses, K, d in zip(image_lists, predicted, matrices, coefficients)]
    rows = [(f"frame_{frame:02d}", [camera_errors[frame] for camera_errors in errors])
            for frame in range(len(image_lists[0]))]

    # Every lens held, so that the refinement's sigma is that of the poses alone.
    calibrator = _vemo.MultiCameraCalibrator(target, count, stored.reference_index, rig_options(intrinsics_given=True))
    # The check prints its own figures; the runs' reports would only repeat the re-solve.
    with contextlib.redirect_stdout(io.StringIO()):
        result = calibrator.calibrate(image_lists, matrices, coefficients)
        refinement = calibrator.refine() if result.ok else None
    if refinement is None or not refinement.ok:
        raise ValueError(f"check: the new frames in {data_dir} do not calibrate the rig on their own, which the "
                         "check needs to tell a move; capture more frames that every camera sees")
    drifts = [drift(f"reference_T_camera_list[{camera}]", reference_T_cameras[camera],
                    result.reference_T_camera_list[camera], refinement.sigma_translation_mm[camera],
                    refinement.sigma_rotation_deg[camera], args.tolerance_mm, args.tolerance_deg)
              for camera in range(count) if camera != stored.reference_index]
    columns = [f"cam_{camera:02d}" for camera in range(count)]
    return CheckFigures("each frame's board pose fitted", columns, rows, drifts)
