"""Rendered eye-in-hand datasets with known ground truth: a target fixed in the robot cell,
a camera on the flange at a known tcp_T_camera, and flange poses from which the camera
sees the target under varied rotations. Used by the demo and the tests."""

import dataclasses
import math

import numpy as np

from _vemo import synthetic, tf


@dataclasses.dataclass
class HandEyeScene:
    target: object                 # the calibration target (ChessboardTarget, CharucoTarget or ArucoTarget)
    camera_matrix: np.ndarray      # (3, 3)
    dist_coeffs: np.ndarray        # (1, 5): k1 k2 p1 p2 k3
    image_size: tuple              # (width, height)
    tcp_T_camera: np.ndarray       # (4, 4) the truth to recover, metres
    robot_T_target: np.ndarray     # (4, 4) where the target lies in the robot base frame
    camera_T_target_list: list     # (4, 4) per capture, exact
    robot_T_tcp_list: list         # (4, 4) per capture, with the robot's repeatability noise
    images: list                   # (H, W, 3) uint8 BGR per capture


def default_tcp_T_camera() -> np.ndarray:
    """A camera 10 cm out along the flange axis, offset sideways and turned a little."""
    return tf.pose_to_transformation_matrix([0.032, -0.047, 0.105, 4.0, -3.0, 88.0])


def viewpoints(count: int, distance: float, rng: np.random.Generator, roll_range_deg: float = 45.0) -> list:
    """Camera positions around the target's normal (board frame, z < 0) with rolls within
    +-roll_range_deg, so that the motions between captures rotate about all three axes."""
    points = []
    for k in range(count):
        azimuth = 2 * math.pi * (k / count) + rng.uniform(-0.2, 0.2)
        tilt = math.radians(rng.uniform(12.0, 35.0))
        reach = distance * rng.uniform(0.9, 1.15)
        offset = (reach * math.sin(tilt) * math.cos(azimuth), reach * math.sin(tilt) * math.sin(azimuth),
                  -reach * math.cos(tilt))
        points.append((offset, rng.uniform(-roll_range_deg, roll_range_deg)))
    return points


def perturbed(pose: np.ndarray, rng: np.random.Generator, rotation_deg: float, translation_m: float) -> np.ndarray:
    """pose followed by a small random motion: what a real robot reports."""
    noise = tf.pose_to_transformation_matrix(list(rng.normal(0, translation_m, 3)) + list(rng.normal(0, rotation_deg, 3)))
    return pose @ noise


def make_hand_eye_scene(target, count: int = 18, image_size=(1280, 960), distance: float = 0.45,
                        tcp_T_camera: np.ndarray | None = None, robot_noise_deg: float = 0.01,
                        robot_noise_m: float = 0.0001, image_noise: float = 2.0, blur_sigma: float = 0.6,
                        seed: int = 7, roll_range_deg: float = 45.0) -> HandEyeScene:
    """Renders `count` captures of `target` from a flange-mounted camera, rolled about its
    view direction by up to +-roll_range_deg. Noise: the robot's reported poses carry a
    random motion of robot_noise_deg / robot_noise_m (standard deviations), the images
    Gaussian noise of image_noise grey levels after a blur."""
    rng = np.random.default_rng(seed)
    width, height = image_size
    focal = 0.9 * width
    camera_matrix = np.array([[focal, 0, width / 2 - 3.5], [0, focal * 1.002, height / 2 + 2.5], [0, 0, 1]])
    dist_coeffs = np.array([[-0.08, 0.06, 0.0004, -0.0003, -0.01]])
    tcp_T_camera = default_tcp_T_camera() if tcp_T_camera is None else tcp_T_camera
    robot_T_target = tf.pose_to_transformation_matrix([0.62, 0.05, 0.02, 180.0, 0.0, 15.0])

    centre = np.array(synthetic.target_centre(target))
    renderer = synthetic.Renderer(target, camera_matrix, dist_coeffs, image_size)
    camera_T_targets, robot_T_tcps, images = [], [], []
    for k, (offset, roll) in enumerate(viewpoints(count, distance, rng, roll_range_deg)):
        camera_T_target = synthetic.camera_T_target_looking_at(target, tuple(centre + offset), roll)
        robot_T_tcp = robot_T_target @ np.linalg.inv(camera_T_target) @ np.linalg.inv(tcp_T_camera)
        camera_T_targets.append(camera_T_target)
        robot_T_tcps.append(perturbed(robot_T_tcp, rng, robot_noise_deg, robot_noise_m))
        images.append(renderer.render(camera_T_target, blur_sigma=blur_sigma, noise_sigma=image_noise, seed=seed + k))
    return HandEyeScene(target, camera_matrix, dist_coeffs, tuple(image_size), tcp_T_camera, robot_T_target,
                        camera_T_targets, robot_T_tcps, images)


def pose_error(estimate: np.ndarray, truth: np.ndarray) -> tuple:
    """(rotation error in degrees, translation error in metres) between two transforms."""
    relative = np.linalg.inv(truth) @ estimate
    cosine = np.clip((np.trace(relative[:3, :3]) - 1) / 2, -1.0, 1.0)
    return math.degrees(math.acos(cosine)), float(np.linalg.norm(estimate[:3, 3] - truth[:3, 3]))
