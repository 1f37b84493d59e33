"""Rendered eye-to-hand datasets with known ground truth: a camera fixed in the robot cell
at a known base_T_camera, a target on the flange at a known tcp_T_target, and flange poses
that show the target to the camera under varied rotations. Used by the demo and the tests."""

import dataclasses

import numpy as np

from _vemo import synthetic, tf
from quorvantine.vemo.scenes.hand_eye import perturbed, viewpoints


@dataclasses.dataclass
class EyeToHandScene:
    target: object                 # the calibration target (ChessboardTarget, CharucoTarget or ArucoTarget)
    camera_matrix: np.ndarray      # (3, 3)
    dist_coeffs: np.ndarray        # (1, 5): k1 k2 p1 p2 k3
    image_size: tuple              # (width, height)
    base_T_camera: np.ndarray      # (4, 4) the camera in the robot base frame, metres: a truth to recover
    tcp_T_target: np.ndarray       # (4, 4) the target on the flange, metres: the other truth
    camera_T_target_list: list     # (4, 4) per capture, exact
    robot_T_tcp_list: list         # (4, 4) per capture, with the robot's repeatability noise
    images: list                   # (H, W, 3) uint8 BGR per capture


def default_base_T_camera() -> np.ndarray:
    """A camera on a stand 1.2 m above the floor, 0.9 m in front of the robot, looking down
    and back at the robot's workspace."""
    return tf.pose_to_transformation_matrix([0.9, -0.1, 1.2, -150.0, 2.0, 95.0])


def default_tcp_T_target() -> np.ndarray:
    """A board held 8 cm out from the flange, off-centre and turned."""
    return tf.pose_to_transformation_matrix([-0.06, -0.04, 0.08, 3.0, -4.0, 30.0])


def make_eye_to_hand_scene(target, count: int = 18, image_size=(1280, 960), distance: float = 0.5,
                           base_T_camera: np.ndarray | None = None, tcp_T_target: np.ndarray | None = None,
                           robot_noise_deg: float = 0.01, robot_noise_m: float = 0.0001, image_noise: float = 2.0,
                           blur_sigma: float = 0.6, seed: int = 7, roll_range_deg: float = 45.0) -> EyeToHandScene:
    """Renders `count` captures of the flange-held `target` seen by the fixed camera about
    `distance` metres away, the flange turning the target by up to +-roll_range_deg about
    the view direction. Noise as in make_hand_eye_scene."""
    rng = np.random.default_rng(seed)
    width, height = image_size
    focal = 0.9 * width
    camera_matrix = np.array([[focal, 0, width / 2 + 4.5], [0, focal * 0.998, height / 2 - 3.0], [0, 0, 1]])
    dist_coeffs = np.array([[-0.07, 0.05, -0.0003, 0.0004, -0.01]])
    base_T_camera = default_base_T_camera() if base_T_camera is None else base_T_camera
    tcp_T_target = default_tcp_T_target() if tcp_T_target is None else tcp_T_target

    centre = np.array(synthetic.target_centre(target))
    renderer = synthetic.Renderer(target, camera_matrix, dist_coeffs, image_size)
    camera_T_targets, robot_T_tcps, images = [], [], []
    for k, (offset, roll) in enumerate(viewpoints(count, distance, rng, roll_range_deg)):
        camera_T_target = synthetic.camera_T_target_looking_at(target, tuple(centre + offset), roll)
        robot_T_tcp = base_T_camera @ camera_T_target @ np.linalg.inv(tcp_T_target)
        camera_T_targets.append(camera_T_target)
        robot_T_tcps.append(perturbed(robot_T_tcp, rng, robot_noise_deg, robot_noise_m))
        images.append(renderer.render(camera_T_target, blur_sigma=blur_sigma, noise_sigma=image_noise, seed=seed + k))
    return EyeToHandScene(target, camera_matrix, dist_coeffs, tuple(image_size), base_T_camera, tcp_T_target,
                          camera_T_targets, robot_T_tcps, images)
