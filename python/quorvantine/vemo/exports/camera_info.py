"""ros-camera-info: the YAML of ROS's camera_calibration_parsers, one file per camera. A
single camera is unrectified (R the identity, P = [K | 0]); in a rig, the chosen pair gets
the rotations and projections of its stereo rectification, as ROS's stereo calibrator
writes them, and every other camera is written as a single one."""

import numpy as np
import yaml

import _vemo

DISTORTION_MODELS = {5: "plumb_bob", 8: "rational_polynomial"}
# OpenCV's own scaling. Its alpha 0 (only valid pixels) gives focal lengths that differ between
# OpenCV versions (0.6 % on a rendered rig from 4.6 to 4.14); -1 gives the same everywhere.
RECTIFICATION_ALPHA = -1.0


def ros_matrix(values: np.ndarray) -> dict:
    rows, cols = values.shape
    return {"rows": rows, "cols": cols, "data": [float(value) for value in values.ravel()]}


def camera_info(camera, image_size: tuple, rectification: np.ndarray, projection: np.ndarray) -> dict:
    count = len(camera.distortion_coefficients)
    if count not in DISTORTION_MODELS:
        raise ValueError(f"export: {camera.name} has {count} distortion coefficients; a ROS camera_info takes 5 "
                         "(plumb_bob) or 8 (rational_polynomial)")
    width, height = image_size
    return {"image_width": int(width), "image_height": int(height), "camera_name": camera.name,
            "camera_matrix": ros_matrix(camera.camera_matrix), "distortion_model": DISTORTION_MODELS[count],
            "distortion_coefficients": ros_matrix(camera.distortion_coefficients.reshape(1, -1)),
            "rectification_matrix": ros_matrix(rectification), "projection_matrix": ros_matrix(projection)}


def unrectified(camera, image_size: tuple) -> dict:
    return camera_info(camera, image_size, np.eye(3), np.hstack([camera.camera_matrix, np.zeros((3, 1))]))


def rectified_pair(result, pair: tuple) -> dict:
    """{camera index: camera_info} of the rig's pair (first, second), rectified together."""
    first, second = pair
    poses = result.matrices["reference_T_camera_list"]
    for index in pair:
        if not 0 <= index < len(result.cameras):
            raise ValueError(f"export: --pair names camera {index}; {result.file_name} has cameras 0 to "
                             f"{len(result.cameras) - 1}")
        if poses[index] is None:
            raise ValueError(f"export: camera {index} has no pose in {result.file_name}: its pair was not calibrated")
    if first == second:
        raise ValueError(f"export: --pair needs two different cameras, not {first} twice")
    second_T_first = np.linalg.inv(poses[second]) @ poses[first]
    a, b = result.cameras[first], result.cameras[second]
    rectification = _vemo.stereo_rectify(a.camera_matrix, a.distortion_coefficients, b.camera_matrix,
                                         b.distortion_coefficients, result.image_size, second_T_first,
                                         RECTIFICATION_ALPHA)
    return {first: camera_info(a, result.image_size, rectification.rectified_R_first, rectification.first_projection),
            second: camera_info(b, result.image_size, rectification.rectified_R_second,
                                rectification.second_projection)}


def default_pair(result) -> tuple:
    """The reference camera and the first other one."""
    other = next(index for index in range(len(result.cameras)) if index != result.reference_index)
    return result.reference_index, other


def camera_info_files(result, pair: tuple | None = None) -> list:
    """[(file name, text)]: (None, text) for a single camera, ("camera_NN.yaml", text) per rig camera."""
    if not result.cameras:
        raise ValueError(f"export: {result.file_name} holds no camera intrinsics for a ros-camera-info (the "
                         "refined result of --refine and intrinsics.json do)")
    if result.image_size is None:
        raise ValueError(f"export: {result.file_name} does not record the image size a camera_info needs: give "
                         "--image-size WIDTHxHEIGHT")
    if result.kind != "rig":
        if pair:
            raise ValueError(f"export: --pair chooses cameras of a rig; {result.file_name} holds one camera")
        return [(None, dump(unrectified(result.cameras[0], result.image_size)))]
    infos = {index: unrectified(camera, result.image_size) for index, camera in enumerate(result.cameras)}
    infos.update(rectified_pair(result, pair or default_pair(result)))
    return [(f"{result.cameras[index].name}.yaml", dump(infos[index])) for index in sorted(infos)]


def dump(info: dict) -> str:
    # Matrix data on one line each, as ROS writes them; floats by repr, so nothing is rounded.
    return yaml.safe_dump(info, sort_keys=False, default_flow_style=None, width=1 << 16)
