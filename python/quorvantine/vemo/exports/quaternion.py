"""Rotation matrix to unit quaternion, as ROS writes rotations."""

import math

import numpy as np


def quaternion_xyzw(rotation: np.ndarray) -> tuple[float, float, float, float]:
    """(x, y, z, w) of a 3x3 rotation, w >= 0. Shepperd's method: the component computed by a
    square root is the largest of the four, so no division loses precision at any angle
    (near 180 degrees the trace-only formula divides by almost zero)."""
    m = np.asarray(rotation, dtype=float)
    trace = m[0, 0] + m[1, 1] + m[2, 2]
    largest = int(np.argmax([trace, m[0, 0], m[1, 1], m[2, 2]]))
    if largest == 0:
        w = 0.5 * math.sqrt(1.0 + trace)
        x, y, z = (m[2, 1] - m[1, 2]) / (4 * w), (m[0, 2] - m[2, 0]) / (4 * w), (m[1, 0] - m[0, 1]) / (4 * w)
    elif largest == 1:
        x = 0.5 * math.sqrt(1.0 + m[0, 0] - m[1, 1] - m[2, 2])
        w, y, z = (m[2, 1] - m[1, 2]) / (4 * x), (m[0, 1] + m[1, 0]) / (4 * x), (m[0, 2] + m[2, 0]) / (4 * x)
    elif largest == 2:
        y = 0.5 * math.sqrt(1.0 - m[0, 0] + m[1, 1] - m[2, 2])
        w, x, z = (m[0, 2] - m[2, 0]) / (4 * y), (m[0, 1] + m[1, 0]) / (4 * y), (m[1, 2] + m[2, 1]) / (4 * y)
    else:
        z = 0.5 * math.sqrt(1.0 - m[0, 0] - m[1, 1] + m[2, 2])
        w, x, y = (m[1, 0] - m[0, 1]) / (4 * z), (m[0, 2] + m[2, 0]) / (4 * z), (m[1, 2] + m[2, 1]) / (4 * z)
    sign = -1.0 if w < 0 else 1.0
    norm = math.sqrt(x * x + y * y + z * z + w * w)
    return tuple(float(sign * value / norm) for value in (x, y, z, w))


def translation_and_quaternion(transform: np.ndarray) -> tuple:
    """((x, y, z), (qx, qy, qz, qw)) of a 4x4 transform: what a ROS transform holds."""
    return tuple(float(value) for value in transform[:3, 3]), quaternion_xyzw(transform[:3, :3])
