"""The layouts in which robot controllers and capture scripts write one flange pose as numbers,
and their conversion to a 4x4 homogeneous matrix (translation in the file's own unit).

Spellings (the `pose_format` of load_robot_poses and the command line's --pose-format):

- ``matrix``: the 16 numbers of the 4x4 matrix, row by row;
- ``xyz-quat-xyzw``: x y z qx qy qz qw (a unit quaternion, scalar last);
- ``xyz-quat-wxyz``: x y z qw qx qy qz (scalar first);
- ``xyz-rotvec``: x y z rx ry rz (rotation vector: axis times angle, radians);
- ``xyz-euler:AXES:intrinsic|extrinsic:deg|rad``: x y z a b c, the angles a, b, c about the
  three AXES in the order written (for example ``xyz-euler:ZYX:intrinsic:deg``). Intrinsic
  turns about the axes of the frame as it turns, R = R_1(a) R_2(b) R_3(c); extrinsic turns
  about the fixed axes, R = R_3(c) R_2(b) R_1(a);
- ``kuka-abc``: x y z A B C as a KUKA controller gives them: A about Z, B about Y', C about
  X'' (``xyz-euler:ZYX:intrinsic:deg``).
"""

import dataclasses
import math
from typing import Callable

import numpy as np

QUATERNION_NORM_TOLERANCE = 1e-3
ROTATION_TOLERANCE = 1e-6


class PoseRowError(ValueError):
    """A row that does not fit its layout; the caller adds which file and row."""


@dataclasses.dataclass(frozen=True)
class PoseLayout:
    name: str
    # The numbers of a row in order; also the keys of a row written as a mapping.
    fields: tuple[str, ...]
    # The row's numbers (as many as fields) to a 4x4 matrix.
    to_matrix: Callable[[np.ndarray], np.ndarray]
    # What the numbers are, where their names say too little.
    meaning: str = ""

    def expected(self) -> str:
        return f"{len(self.fields)} ({self.meaning or ' '.join(self.fields)})"


def homogeneous(rotation: np.ndarray, translation: np.ndarray) -> np.ndarray:
    matrix = np.eye(4)
    matrix[:3, :3] = rotation
    matrix[:3, 3] = translation
    return matrix


def checked_matrix(values: np.ndarray) -> np.ndarray:
    matrix = values.reshape(4, 4)
    if np.abs(matrix[3] - [0, 0, 0, 1]).max() > ROTATION_TOLERANCE:
        raise PoseRowError(f"bottom row {' '.join(f'{v:g}' for v in matrix[3])}, expected 0 0 0 1")
    rotation = matrix[:3, :3]
    deviation = np.abs(rotation.T @ rotation - np.eye(3)).max()
    determinant = np.linalg.det(rotation)
    if deviation > ROTATION_TOLERANCE or abs(determinant - 1) > ROTATION_TOLERANCE:
        raise PoseRowError(f"the upper-left 3x3 is not a rotation (R^T R differs from the identity by up to "
                           f"{deviation:.3g}, det {determinant:.9g}; expected within {ROTATION_TOLERANCE:g} and "
                           f"det 1)")
    return matrix.copy()


def quaternion_matrix(x: float, y: float, z: float, w: float) -> np.ndarray:
    norm = math.sqrt(x * x + y * y + z * z + w * w)
    if abs(norm - 1) > QUATERNION_NORM_TOLERANCE:
        raise PoseRowError(f"quaternion norm {norm:.6f}, expected 1 (within {QUATERNION_NORM_TOLERANCE:g})")
    x, y, z, w = x / norm, y / norm, z / norm, w / norm
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
                     [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
                     [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]])


def rotation_vector_matrix(vector: np.ndarray) -> np.ndarray:
    angle = float(np.linalg.norm(vector))
    if angle == 0:
        return np.eye(3)
    kx, ky, kz = vector / angle
    k = np.array([[0, -kz, ky], [kz, 0, -kx], [-ky, kx, 0]])
    return np.eye(3) + math.sin(angle) * k + (1 - math.cos(angle)) * (k @ k)


def axis_rotation(axis: str, angle: float) -> np.ndarray:
    c, s = math.cos(angle), math.sin(angle)
    if axis == "X":
        return np.array([[1, 0, 0], [0, c, -s], [0, s, c]])
    if axis == "Y":
        return np.array([[c, 0, s], [0, 1, 0], [-s, 0, c]])
    return np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]])


def euler_layout(name: str, axes: str, intrinsic: bool, degrees: bool, fields: tuple[str, ...]) -> PoseLayout:
    def to_matrix(values: np.ndarray) -> np.ndarray:
        angles = np.radians(values[3:]) if degrees else values[3:]
        turns = [axis_rotation(axis, angle) for axis, angle in zip(axes, angles)]
        first, second, third = turns if intrinsic else turns[::-1]
        return homogeneous(first @ second @ third, values[:3])
    return PoseLayout(name, fields, to_matrix)


EULER_PREFIX = "xyz-euler"
EULER_SPELLING = f"{EULER_PREFIX}:AXES:intrinsic|extrinsic:deg|rad (AXES such as ZYX)"

FIXED_LAYOUTS = {
    "matrix": PoseLayout("matrix", tuple(f"m{row}{column}" for row in range(4) for column in range(4)),
                         checked_matrix, "a 4x4 matrix, row by row"),
    "xyz-quat-xyzw": PoseLayout("xyz-quat-xyzw", ("x", "y", "z", "qx", "qy", "qz", "qw"),
                                lambda v: homogeneous(quaternion_matrix(*v[3:]), v[:3])),
    "xyz-quat-wxyz": PoseLayout("xyz-quat-wxyz", ("x", "y", "z", "qw", "qx", "qy", "qz"),
                                lambda v: homogeneous(quaternion_matrix(v[4], v[5], v[6], v[3]), v[:3])),
    "xyz-rotvec": PoseLayout("xyz-rotvec", ("x", "y", "z", "rx", "ry", "rz"),
                             lambda v: homogeneous(rotation_vector_matrix(v[3:]), v[:3])),
    "kuka-abc": euler_layout("kuka-abc", "ZYX", True, True, ("x", "y", "z", "a", "b", "c")),
}

FORMAT_NAMES = (*FIXED_LAYOUTS, EULER_SPELLING)


def pose_layout(pose_format: str) -> PoseLayout:
    """The layout a --pose-format spelling names; ValueError naming the spellings otherwise."""
    if pose_format in FIXED_LAYOUTS:
        return FIXED_LAYOUTS[pose_format]
    parts = pose_format.split(":")
    if (len(parts) == 4 and parts[0] == EULER_PREFIX and len(parts[1]) == 3 and set(parts[1]) <= set("XYZ")
            and parts[1][0] != parts[1][1] and parts[1][1] != parts[1][2]
            and parts[2] in ("intrinsic", "extrinsic") and parts[3] in ("deg", "rad")):
        return euler_layout(pose_format, parts[1], parts[2] == "intrinsic", parts[3] == "deg",
                            ("x", "y", "z", "a", "b", "c"))
    raise ValueError(f"robot poses: unknown pose format {pose_format!r}; expected one of "
                     f"{', '.join(FORMAT_NAMES)}")
