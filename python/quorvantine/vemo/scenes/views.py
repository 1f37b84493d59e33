"""Rendered calibration image sets with known geometry, for the demo, tests and benchmarks."""

import math

import numpy as np

from _vemo import synthetic


def _rotation(axis: np.ndarray, angle_deg: float) -> np.ndarray:
    """4x4 rotation about a unit axis (Rodrigues' formula)."""
    x, y, z = axis
    cross = np.array([[0.0, -z, y], [z, 0.0, -x], [-y, x, 0.0]])
    angle = math.radians(angle_deg)
    rotation = np.eye(4)
    rotation[:3, :3] = np.eye(3) + math.sin(angle) * cross + (1 - math.cos(angle)) * cross @ cross
    return rotation


def orbit_camera_T_targets(target, count: int, distance: float, pan_deg: float = 0.0) -> list[np.ndarray]:
    """camera_T_target (4, 4) of `count` cameras circling the target's normal about `distance`
    metres away, tilted 15 to 31 degrees towards its centre (enough to pin down the focal
    length) and each rolled differently. pan_deg turns each camera that far away from the
    centre, in a direction that cycles round the image, so that the target also covers
    the image's edges (where the distortion shows)."""
    centre = np.array(synthetic.target_centre(target))
    poses = []
    for k in range(count):
        angle = 2 * math.pi * k / count
        radius = distance * (0.3 + 0.15 * (k % 3))
        offset = (radius * math.cos(angle), radius * math.sin(angle), -distance * (1.0 + 0.08 * (k % 2)))
        camera_T_target = synthetic.camera_T_target_looking_at(target, tuple(centre + offset), 12.0 * k - 60.0)
        pan_direction = 2 * math.pi * (3 * k % count) / count + 0.5
        pan_axis = np.array([math.cos(pan_direction), math.sin(pan_direction), 0.0])
        poses.append(_rotation(pan_axis, pan_deg) @ camera_T_target)
    return poses


def render_orbit(target, camera_matrix, dist_coeffs, image_size, count: int, distance: float,
                 pan_deg: float = 0.0) -> list[np.ndarray]:
    """(H, W, 3) uint8 BGR views of the target from orbit_camera_T_targets."""
    renderer = synthetic.Renderer(target, camera_matrix, dist_coeffs, image_size)
    return [renderer.render(camera_T_target)
            for camera_T_target in orbit_camera_T_targets(target, count, distance, pan_deg)]


__all__ = ["orbit_camera_T_targets", "render_orbit"]
