"""`vemo check` of an eye-in-hand or eye-to-hand calibration on a new dataset directory.

Held fixed, the calibration predicts every capture's target pose from its robot pose: eye-in-
hand once the target's place in the base frame is known (the one thing new captures must
determine, as the mean over the captures of robot_T_tcp @ tcp_T_camera @ camera_T_target),
eye-to-hand outright. Re-solved with the intrinsics held, the captures say where the camera
is now; the refinement's sigma says how well they say it."""

import contextlib
import dataclasses
import io

import numpy as np

import _vemo
from quorvantine.vemo.commands.calibration_drift import drift
from quorvantine.vemo.commands.check_figures import CheckFigures, reprojection_errors
from quorvantine.vemo.commands.dataset import load_captures


@dataclasses.dataclass
class HandEyeKind:
    calibrator_class: type
    method: str  # the solver the calibrating command defaults to
    # (key in the file, sigma of the refinement's translation, of its rotation) per stored transform
    transforms: tuple


KINDS = {
    "eye-in-hand": HandEyeKind(_vemo.EyeInHandCalibrator, "TSAI",
                               (("tcp_T_camera", "sigma_translation_mm", "sigma_rotation_deg"),)),
    "eye-to-hand": HandEyeKind(_vemo.EyeToHandCalibrator, "PARK",
                               (("base_T_camera", "sigma_translation_mm", "sigma_rotation_deg"),
                                ("tcp_T_target", "sigma_target_translation_mm", "sigma_target_rotation_deg")))}


def stored_transforms(stored, kind: HandEyeKind) -> dict:
    transforms = {transform.key: transform.matrix for transform in stored.transforms}
    missing = [key for key, _, _ in kind.transforms if key not in transforms]
    if missing:
        raise ValueError(f"check: {stored.file_name} holds no single {' or '.join(missing)} to check (a file of "
                         "several cameras' transforms is checked one camera at a time)")
    return transforms


def predicted_camera_T_targets(kind_name: str, transforms: dict, result, robot_T_tcp_list: list) -> tuple:
    """(what was fitted, camera_T_target per capture) with the calibration held fixed."""
    if kind_name == "eye-to-hand":
        camera_T_base = np.linalg.inv(transforms["base_T_camera"])
        return "nothing fitted", [camera_T_base @ robot_T_tcp @ transforms["tcp_T_target"]
                                  for robot_T_tcp in robot_T_tcp_list]
    tcp_T_camera = transforms["tcp_T_camera"]
    base_T_target = _vemo.tf.average_pose([robot_T_tcp @ tcp_T_camera @ camera_T_target for robot_T_tcp, camera_T_target
                                           in zip(result.valid_robot_T_tcp_list, result.camera_T_target_list)])
    camera_T_tcp = np.linalg.inv(tcp_T_camera)
    return "base_T_target fitted", [camera_T_tcp @ np.linalg.inv(robot_T_tcp) @ base_T_target
                                    for robot_T_tcp in robot_T_tcp_list]


def check_hand_eye(args, stored, target, resolve_intrinsics) -> CheckFigures:
    """resolve_intrinsics([an image]) gives [the Intrinsics to hold]."""
    kind = KINDS[stored.kind]
    transforms = stored_transforms(stored, kind)
    images, robot_T_tcp_list = load_captures(args)
    intrinsics = resolve_intrinsics(images[:1])[0]
    camera_matrix, dist_coeffs = intrinsics.camera_matrix, intrinsics.dist_coeffs
    calibrator = kind.calibrator_class(target)
    method = args.method or kind.method
    # The check prints its own figures; the run's report would only repeat the re-solve.
    with contextlib.redirect_stdout(io.StringIO()):
        result = calibrator.calibrate(robot_T_tcp_list, images, method, intrinsic_matrix=camera_matrix,
                                      distortion_coefficients=dist_coeffs)
        refinement = calibrator.refine(refine_intrinsics=False) if result.ok else None
    if refinement is None or not refinement.ok:
        raise ValueError(f"check: the {len(images)} new captures in {args.data_dir} do not solve a calibration of "
                         f"their own ({method}, then refined), which the check needs to tell a move; capture more "
                         "views, with more varied rotations")
    fitted, predicted = predicted_camera_T_targets(stored.kind, transforms, result, robot_T_tcp_list)
    errors = reprojection_errors(target, images, predicted, camera_matrix, dist_coeffs)
    rows = [(f"image_{index:02d}", [error]) for index, error in enumerate(errors)]
    drifts = [drift(key, transforms[key], getattr(refinement, key), getattr(refinement, sigma_t),
                    getattr(refinement, sigma_r), args.tolerance_mm, args.tolerance_deg)
              for key, sigma_t, sigma_r in kind.transforms]
    return CheckFigures(fitted, ["camera"], rows, drifts)
