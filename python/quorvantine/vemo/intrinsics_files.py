"""Camera intrinsics read from the files other tools hand over: the project's intrinsics.json
(and the refined hand-eye files, which carry intrinsic_matrix), a ROS camera_info YAML and an
OpenCV cv::FileStorage YAML. All three come down to one mapping with a camera matrix, the
distortion coefficients and, where recorded, the image size, so one reader serves them."""

import dataclasses
import json

import numpy as np
import yaml

LAYOUTS = "intrinsics.json, a ROS camera_info YAML or an OpenCV FileStorage YAML"
MATRIX_KEYS = ("camera_matrix", "intrinsic_matrix")
DISTORTION_KEYS = ("distortion_coefficients", "dist_coeffs")
DISTORTION_COUNTS = (0, 4, 5, 8, 12, 14)
# ROS names for OpenCV's pinhole model; another (equidistant, for instance) is a different lens model.
ROS_DISTORTION_MODELS = ("plumb_bob", "rational_polynomial")


@dataclasses.dataclass
class Intrinsics:
    path: str
    camera_matrix: np.ndarray  # (3, 3) float64, pixels
    dist_coeffs: np.ndarray  # (1, N) float64, N in DISTORTION_COUNTS
    image_size: tuple | None  # (width, height) when the file records it


class OpenCvLoader(yaml.SafeLoader):
    """YAML as cv::FileStorage writes it: an !!opencv-matrix is read as its plain mapping."""


OpenCvLoader.add_constructor("tag:yaml.org,2002:opencv-matrix",
                             lambda loader, node: loader.construct_mapping(node, deep=True))


def parse(path: str, text: str) -> dict:
    if path.endswith(".json") or text.lstrip().startswith("{"):
        return json.loads(text)
    # PyYAML knows only "%YAML 1.x" directives; OpenCV writes "%YAML:1.0".
    if text.startswith("%YAML:"):
        text = text.split("\n", 1)[1] if "\n" in text else ""
    return yaml.load(text, Loader=OpenCvLoader)


def matrix_value(value) -> np.ndarray:
    """A nested list (JSON) or a {rows, cols, data} mapping (camera_info, opencv-matrix)."""
    if isinstance(value, dict):
        return np.array(value["data"], dtype=float).reshape(int(value["rows"]), int(value["cols"]))
    return np.array(value, dtype=float)


def first_key(data: dict, keys: tuple):
    return next((key for key in keys if key in data), None)


def recorded_image_size(data: dict) -> tuple | None:
    if "image_size" in data:
        width, height = data["image_size"]
    elif "image_width" in data and "image_height" in data:
        width, height = data["image_width"], data["image_height"]
    else:
        return None
    return int(width), int(height)


def read_intrinsics(path: str) -> Intrinsics:
    """The intrinsics in the file at path; ValueError naming the file when it cannot be read,
    is none of the accepted layouts or holds no usable camera."""
    try:
        with open(path, encoding="utf-8") as stream:
            data = parse(path, stream.read())
    except OSError as error:
        raise ValueError(f"intrinsics: cannot read {path}: {error.strerror or error}") from None
    except (UnicodeDecodeError, json.JSONDecodeError, yaml.YAMLError) as error:
        raise ValueError(f"intrinsics: cannot parse {path} ({error}); expected {LAYOUTS}") from None
    matrix_key = first_key(data, MATRIX_KEYS) if isinstance(data, dict) else None
    distortion_key = first_key(data, DISTORTION_KEYS) if matrix_key else None
    if distortion_key is None:
        raise ValueError(f"intrinsics: {path} has no camera_matrix (or intrinsic_matrix) with "
                         f"distortion_coefficients (or dist_coeffs); expected {LAYOUTS}")
    model = data.get("distortion_model")
    if model is not None and model not in ROS_DISTORTION_MODELS:
        raise ValueError(f"intrinsics: {path} has distortion_model {model!r}; expected "
                         f"{' or '.join(ROS_DISTORTION_MODELS)}")
    try:
        camera_matrix = matrix_value(data[matrix_key])
        dist_coeffs = matrix_value(data[distortion_key])
        image_size = recorded_image_size(data)
    except (KeyError, TypeError, ValueError) as error:
        raise ValueError(f"intrinsics: {path} holds a malformed matrix or image size ({error})") from None
    return Intrinsics(path, checked_camera_matrix(path, camera_matrix, matrix_key),
                      checked_distortion(path, dist_coeffs, distortion_key), image_size)


def checked_camera_matrix(path: str, camera_matrix: np.ndarray, key: str) -> np.ndarray:
    if camera_matrix.shape != (3, 3):
        raise ValueError(f"intrinsics: {path}: {key} is {'x'.join(map(str, camera_matrix.shape))}, expected 3x3")
    if not np.all(np.isfinite(camera_matrix)):
        raise ValueError(f"intrinsics: {path}: {key} holds a number that is not finite")
    if camera_matrix[0, 0] <= 0 or camera_matrix[1, 1] <= 0 or np.any(camera_matrix[2] != [0, 0, 1]):
        raise ValueError(f"intrinsics: {path}: {key} is no camera matrix (positive fx and fy, last row 0 0 1)")
    return camera_matrix


def checked_distortion(path: str, dist_coeffs: np.ndarray, key: str) -> np.ndarray:
    if dist_coeffs.ndim > 2 or (dist_coeffs.ndim == 2 and 1 not in dist_coeffs.shape):
        raise ValueError(f"intrinsics: {path}: {key} is {'x'.join(map(str, dist_coeffs.shape))}, expected one row")
    dist_coeffs = dist_coeffs.reshape(1, -1)
    if dist_coeffs.shape[1] not in DISTORTION_COUNTS:
        raise ValueError(f"intrinsics: {path}: {key} has {dist_coeffs.shape[1]} coefficients; expected "
                         f"{', '.join(map(str, DISTORTION_COUNTS[:-1]))} or {DISTORTION_COUNTS[-1]}")
    if not np.all(np.isfinite(dist_coeffs)):
        raise ValueError(f"intrinsics: {path}: {key} holds a number that is not finite")
    return dist_coeffs


def check_image_size(intrinsics: Intrinsics, image) -> None:
    """ValueError when the file records an image size other than that of image ((H, W, ...))."""
    height, width = image.shape[:2]
    if intrinsics.image_size is not None and intrinsics.image_size != (width, height):
        file_width, file_height = intrinsics.image_size
        raise ValueError(f"intrinsics: {intrinsics.path} is for {file_width}x{file_height} images, but the images "
                         f"are {width}x{height}")
