"""Rendered calibration image sets with known geometry, for the demo, tests and benchmarks."""

import math

import numpy as np

from _vemo import synthetic


def orbit_camera_T_targets(target, count: int, distance: float) -> list[np.ndarray]:
    """camera_T_target (4, 4) of `count` cameras circling the target's normal about `distance`
    metres away, tilted 15 to 31 degrees towards its centre (enough to pin down the focal
    length) and each rolled differently."""
    centre = np.array(synthetic.target_centre(target))
    poses = []
    for k in range(count):
        angle = 2 * math.pi * k / count
        radius = distance * (0.3 + 0.15 * (k % 3))
        offset = (radius * math.cos(angle), radius * math.sin(angle), -distance * (1.0 + 0.08 * (k % 2)))
        poses.append(synthetic.camera_T_target_looking_at(target, tuple(centre + offset), 12.0 * k - 60.0))
    return poses


def render_orbit(target, camera_matrix, dist_coeffs, image_size, count: int, distance: float) -> list[np.ndarray]:
    """(H, W, 3) uint8 BGR views of the target from orbit_camera_T_targets."""
    renderer = synthetic.Renderer(target, camera_matrix, dist_coeffs, image_size)
    return [renderer.render(camera_T_target) for camera_T_target in orbit_camera_T_targets(target, count, distance)]


__all__ = ["orbit_camera_T_targets", "render_orbit"]
