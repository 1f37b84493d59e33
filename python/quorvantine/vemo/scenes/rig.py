"""Rendered multi-camera rigs with known ground truth: synchronized cameras with their own
lenses, converging on a target that moves through their shared field of view. Some
frames hide the target from one camera, or half of it, as people and tools do in a cell.
Used by the demo, the tests and the benchmarks."""

import dataclasses
import math

import numpy as np

from _vemo import synthetic, tf

# Per camera: focal length (pixels), principal point offset from the image centre
# (pixels), distortion k1 k2 p1 p2 k3, and position in the rig frame (metres; x right,
# y down, z forward). Neighbouring baselines of 0.1 to 0.2 m, 0.3 m end to end.
_LENSES = (
    (1100.0, (4.0, -3.0), (-0.12, 0.05, 0.0005, -0.0003, 0.0)),
    (950.0, (-6.0, 5.0), (-0.21, 0.09, -0.0004, 0.0006, 0.0)),
    (1150.0, (2.5, 7.0), (0.04, -0.03, 0.0002, 0.0002, 0.0)),
    (1020.0, (-3.0, -4.5), (-0.16, 0.06, 0.0003, -0.0005, 0.0)),
)
_POSITIONS = ((0.0, 0.0, 0.0), (0.12, 0.02, 0.01), (0.30, -0.02, 0.03), (0.17, -0.16, -0.02))


@dataclasses.dataclass
class RigScene:
    target: object                  # the calibration target seen by every camera
    camera_matrices: list           # (3, 3) per camera
    dist_coeffs: list               # (1, 5) per camera
    image_size: tuple               # (width, height), every camera
    rig_T_camera_list: list         # (4, 4) per camera: the truth, in the rig frame
    rig_T_target_list: list         # (4, 4) per frame
    image_lists: list               # image_lists[c][f]: (H, W, 3) uint8 BGR, frame f of camera c

    def reference_T_camera(self, reference: int, camera: int) -> np.ndarray:
        """The true pose of a camera in the frame of the reference camera."""
        return np.linalg.inv(self.rig_T_camera_list[reference]) @ self.rig_T_camera_list[camera]


def looking_at(position, point, roll_deg: float) -> np.ndarray:
    """rig_T_camera of a camera at position whose optical axis passes through point, image y
    axis as close to the rig's y (down) as the axis allows, then rolled by roll_deg."""
    z = np.asarray(point, float) - np.asarray(position, float)
    z /= np.linalg.norm(z)
    x = np.cross((0.0, 1.0, 0.0), z)
    x /= np.linalg.norm(x)
    y = np.cross(z, x)
    pose = np.eye(4)
    pose[:3, :3] = np.column_stack([x, y, z])
    pose[:3, 3] = position
    return pose @ tf.pose_to_transformation_matrix([0, 0, 0, 0, 0, roll_deg])


def target_poses(target, count: int, centre, rng: np.random.Generator) -> list:
    """rig_T_target of count frames: the target's centre within about 0.15 m of centre,
    facing the rig, tilted 12 to 35 degrees about varied axes and rolled."""
    board_centre = np.array(synthetic.target_centre(target))
    poses = []
    for k in range(count):
        angle = 2 * math.pi * k / count
        tilt = 12.0 + 23.0 * (k % 3) / 2
        rotation = tf.pose_to_transformation_matrix(
            [0, 0, 0, tilt * math.cos(angle), tilt * math.sin(angle), rng.uniform(-30.0, 30.0)])[:3, :3]
        where = np.asarray(centre) + (0.15 * math.cos(1.7 * angle), 0.1 * math.sin(2.3 * angle), rng.uniform(-0.1, 0.1))
        pose = np.eye(4)
        pose[:3, :3] = rotation
        pose[:3, 3] = where - rotation @ board_centre
        poses.append(pose)
    return poses


def make_rig_scene(target, num_cameras: int = 3, frames: int = 18, image_size=(1280, 960), distance: float = 0.65,
                   occluded: dict | None = None, supersampling: int = 2, image_noise: float = 2.0,
                   blur_sigma: float = 0.4, seed: int = 11, rig_T_camera_list: list | None = None) -> RigScene:
    """Renders frames synchronized captures of target by num_cameras (2 to 4) cameras
    converging distance metres ahead of the rig. occluded maps (camera, frame) to "all"
    (the camera misses the target) or "half" (the left half of its image is covered);
    default: camera 1 misses frame 5, camera 2 sees half of frame 9 and camera 0 half of
    frame 12 (frames that exist). Frame 0 is never occluded by default: the rig's check
    triangulates it. Images carry Gaussian noise of image_noise grey levels after a blur.
    The default supersampling 2 leaves some aliasing on the edges: with the default noise the
    corners come out about 0.12 px RMS off. Supersampling 1 gives about 0.3 px, but errors
    correlated along the board's rows; grey-level noise strong enough for that slows marker
    detection tenfold. rig_T_camera_list replaces the cameras' default poses (a camera knocked
    out of place); the frames stay those of the seed."""
    if not 2 <= num_cameras <= len(_LENSES):
        raise ValueError(f"make_rig_scene: num_cameras must be 2 to {len(_LENSES)}, got {num_cameras}")
    if occluded is None:
        occluded = {key: kind for key, kind in {(1, 5): "all", (2, 9): "half", (0, 12): "half"}.items()
                    if key[0] < num_cameras and key[1] < frames}
    rng = np.random.default_rng(seed)
    width, height = image_size
    scale = width / 1280.0
    centre = (0.15, -0.01, distance)
    camera_matrices, dist_coeffs, poses = [], [], []
    for camera in range(num_cameras):
        focal, (dx, dy), distortion = _LENSES[camera]
        camera_matrices.append(np.array([[focal * scale, 0.0, width / 2 + dx * scale],
                                         [0.0, focal * scale * 1.001, height / 2 + dy * scale], [0.0, 0.0, 1.0]]))
        dist_coeffs.append(np.array([distortion]))
        default_pose = looking_at(_POSITIONS[camera], centre, roll_deg=4.0 * camera - 3.0)
        poses.append(default_pose if rig_T_camera_list is None else np.asarray(rig_T_camera_list[camera], float))

    rig_T_target_list = target_poses(target, frames, centre, rng)
    image_lists = []
    for camera in range(num_cameras):
        renderer = synthetic.Renderer(target, camera_matrices[camera], dist_coeffs[camera], image_size)
        camera_T_rig = np.linalg.inv(poses[camera])
        images = []
        for frame, rig_T_target in enumerate(rig_T_target_list):
            image = renderer.render(camera_T_rig @ rig_T_target, supersampling=supersampling, blur_sigma=blur_sigma,
                                    noise_sigma=image_noise, seed=seed + 1000 * camera + frame)
            cover = occluded.get((camera, frame))
            if cover == "all":
                image[:] = 128
            elif cover == "half":
                image[:, : width // 2] = 128
            images.append(image)
        image_lists.append(images)
    return RigScene(target, camera_matrices, dist_coeffs, tuple(image_size), poses, rig_T_target_list,
                    image_lists)
