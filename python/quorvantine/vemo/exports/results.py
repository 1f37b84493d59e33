"""The project's result files, read into what every export format draws on.

Which file it is shows in its keys: "camera_matrix" (intrinsics.json), "tcp_T_camera_list"
(hand_eye.json), "tcp_T_camera" (hand_eye_refined.json), "base_T_camera" (eye_to_hand.json
and eye_to_hand_refined.json), "reference_T_camera_list" (multi_camera_calibration.json and
its _refined.json)."""

import dataclasses
import json
import os

import numpy as np

RESULT_FILES = ("intrinsics.json, hand_eye.json, eye_to_hand.json, multi_camera_calibration.json or one of their "
                "_refined.json files")


@dataclasses.dataclass
class Camera:
    name: str  # camera_name of a ROS camera_info: "camera", or "camera_NN" in a rig
    camera_matrix: np.ndarray  # 3x3
    distortion_coefficients: np.ndarray  # flat, as calibrated


@dataclasses.dataclass
class Transform:
    """parent_T_child. Frames are roles: "tcp", "base", "camera", "target", or a camera's
    index in a rig (or in a hand-eye file of several cameras)."""
    key: str
    parent: str | int
    child: str | int
    matrix: np.ndarray  # 4x4, metres


@dataclasses.dataclass
class CalibrationResult:
    path: str
    kind: str  # "intrinsics", "eye-in-hand", "eye-to-hand" or "rig"
    cameras: list
    transforms: list
    # Every matrix of the file under its key: a matrix, or a list of them (None where the file has null).
    matrices: dict
    image_size: tuple | None = None  # (width, height), pixels
    reference_index: int = 0

    @property
    def file_name(self) -> str:
        return os.path.basename(self.path)


def load_result(path: str, image_size: tuple | None = None, operation: str = "export") -> CalibrationResult:
    """Reads a result file; ValueError naming the operation and the file when it cannot be
    read or is not one. image_size (width, height) stands in for a file that does not record it."""
    try:
        with open(path, encoding="utf-8") as stream:
            data = json.load(stream)
    except OSError as error:
        raise ValueError(f"{operation}: cannot read {path}: {error.strerror or error}") from None
    except (UnicodeDecodeError, json.JSONDecodeError) as error:
        raise ValueError(f"{operation}: {path} is not a JSON result file ({error}); expected {RESULT_FILES}") from None
    if not isinstance(data, dict):
        raise ValueError(f"{operation}: {path} is not a vemo result file; expected {RESULT_FILES}")
    reader = next((read for key, read in READERS if key in data), None)
    if reader is None:
        raise ValueError(f"{operation}: {path} is not a vemo result file; expected {RESULT_FILES}")
    try:
        result = reader(path, data)
    except KeyError as error:
        raise ValueError(f"{operation}: {path} is not a complete result file: it lacks {error.args[0]!r}") from None
    except (TypeError, ValueError, IndexError) as error:
        raise ValueError(f"{operation}: {path} is not a complete result file: {error}") from None
    if result.image_size is None and image_size is not None:
        result.image_size = tuple(image_size)
    return result


def matrix(data: dict, key: str, shape: tuple) -> np.ndarray:
    value = np.array(data[key], dtype=float)
    return checked(value, key, shape)


def checked(value: np.ndarray, key: str, shape: tuple) -> np.ndarray:
    if value.shape != shape or not np.all(np.isfinite(value)):
        raise ValueError(f"{key} is not a finite {'x'.join(map(str, shape))} matrix")
    if shape == (4, 4):
        rotation = value[:3, :3]
        if (np.abs(rotation.T @ rotation - np.eye(3)).max() > 1e-6 or np.linalg.det(rotation) < 0
                or np.abs(value[3] - [0, 0, 0, 1]).max() > 1e-12):
            raise ValueError(f"{key} is not a rigid transform")
    return value


def distortion(value, key: str) -> np.ndarray:
    coefficients = np.ravel(np.array(value, dtype=float))
    if not np.all(np.isfinite(coefficients)):
        raise ValueError(f"{key} holds a number that is not finite")
    return coefficients


def read_intrinsics(path: str, data: dict) -> CalibrationResult:
    camera = Camera("camera", matrix(data, "camera_matrix", (3, 3)),
                    distortion(data["distortion_coefficients"], "distortion_coefficients"))
    width, height = (int(size) for size in data["image_size"])
    return CalibrationResult(path, "intrinsics", [camera], [],
                             {"camera_matrix": camera.camera_matrix,
                              "distortion_coefficients": camera.distortion_coefficients}, (width, height))


def refined_camera(data: dict) -> list:
    """The camera of a refined hand-eye file; a closed-form one records none."""
    if "intrinsic_matrix" not in data:
        return []
    return [Camera("camera", matrix(data, "intrinsic_matrix", (3, 3)),
                   distortion(data["distortion_coefficients"], "distortion_coefficients"))]


def camera_matrices(cameras: list) -> dict:
    return {"intrinsic_matrix": cameras[0].camera_matrix,
            "distortion_coefficients": cameras[0].distortion_coefficients} if cameras else {}


def read_hand_eye(path: str, data: dict) -> CalibrationResult:
    poses = [None if pose is None else checked(np.array(pose, dtype=float), f"tcp_T_camera_list[{index}]", (4, 4))
             for index, pose in enumerate(data["tcp_T_camera_list"])]
    single = len(poses) == 1
    transforms = [Transform("tcp_T_camera" if single else f"tcp_T_camera_list[{index}]", "tcp",
                            "camera" if single else index, pose)
                  for index, pose in enumerate(poses) if pose is not None]
    return CalibrationResult(path, "eye-in-hand", [], transforms, {"tcp_T_camera_list": poses})


def read_refined_hand_eye(path: str, data: dict) -> CalibrationResult:
    cameras = refined_camera(data)
    transforms = [Transform("tcp_T_camera", "tcp", "camera", matrix(data, "tcp_T_camera", (4, 4))),
                  Transform("base_T_target", "base", "target", matrix(data, "base_T_target", (4, 4)))]
    return CalibrationResult(path, "eye-in-hand", cameras, transforms,
                             {**camera_matrices(cameras), **{t.key: t.matrix for t in transforms}})


def read_eye_to_hand(path: str, data: dict) -> CalibrationResult:
    cameras = refined_camera(data)
    transforms = [Transform(key, parent, child, matrix(data, key, (4, 4)))
                  for key, parent, child in (("base_T_camera", "base", "camera"), ("tcp_T_target", "tcp", "target"))
                  if data.get(key) is not None]
    return CalibrationResult(path, "eye-to-hand", cameras, transforms,
                             {**camera_matrices(cameras), **{t.key: t.matrix for t in transforms}})


def read_rig(path: str, data: dict) -> CalibrationResult:
    reference = int(data["reference_index"])
    intrinsic_matrices = [checked(np.array(K, dtype=float), f"intrinsic_matrices[{index}]", (3, 3))
                          for index, K in enumerate(data["intrinsic_matrices"])]
    coefficients = [distortion(d, f"distortion_coefficients[{index}]")
                    for index, d in enumerate(data["distortion_coefficients"])]
    poses = [None if pose is None else checked(np.array(pose, dtype=float), f"reference_T_camera_list[{index}]",
                                               (4, 4))
             for index, pose in enumerate(data["reference_T_camera_list"])]
    if len(poses) < 2:
        raise ValueError(f"a rig has at least 2 cameras, not {len(poses)}")
    if not 0 <= reference < len(poses) or not len(intrinsic_matrices) == len(coefficients) == len(poses):
        raise ValueError("reference_index, intrinsic_matrices, distortion_coefficients and reference_T_camera_list "
                         "do not describe the same cameras")
    cameras = [Camera(f"camera_{index:02d}", K, d) for index, (K, d) in enumerate(zip(intrinsic_matrices,
                                                                                      coefficients))]
    transforms = [Transform(f"reference_T_camera_list[{index}]", reference, index, pose)
                  for index, pose in enumerate(poses) if pose is not None and index != reference]
    return CalibrationResult(path, "rig", cameras, transforms,
                             {"intrinsic_matrices": intrinsic_matrices, "distortion_coefficients": coefficients,
                              "reference_T_camera_list": poses}, reference_index=reference)


# The key that tells each result file from the others, and its reader.
READERS = (("camera_matrix", read_intrinsics), ("reference_T_camera_list", read_rig),
           ("tcp_T_camera_list", read_hand_eye), ("tcp_T_camera", read_refined_hand_eye),
           ("base_T_camera", read_eye_to_hand))
