"""The script a user would write instead of the library's rig calibration: cv2 alone, making
the same OpenCV calls (grey conversion and ChArUco detection per image, calibrateCamera
with per-view errors per camera, corners paired by id over the frames both cameras saw
with a per-view error within 3 px and at least 15 shared corners, stereoCalibrate with
fixed intrinsics per pair, and frame 0 triangulated linearly as a check: undistortPoints,
DLT by SVD, the reprojection RMS per camera and the board's thickness).

A rig of subsets reuses each camera's detections and intrinsics for every subset, as a
user calibrating the subsets of one capture would.
"""

import itertools

import cv2
import numpy as np

CRITERIA = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 30, 1e-6)
PER_VIEW_ERROR_THRESHOLD = 3.0
MINIMUM_SHARED_CORNERS = 15


def charuco_board(squares_x: int, squares_y: int, square: float, marker: float, dictionary: str):
    return cv2.aruco.CharucoBoard((squares_x, squares_y), square, marker,
                                  cv2.aruco.getPredefinedDictionary(getattr(cv2.aruco, dictionary)))


class Camera:
    """One camera's ChArUco corners per frame (ids -> pixels) and its intrinsics."""

    def __init__(self, frames: list, board):
        detector = cv2.aruco.CharucoDetector(board)
        board_corners = board.getChessboardCorners()
        self.corners = {}
        for index, image in enumerate(frames):
            corners, ids, _, _ = detector.detectBoard(cv2.cvtColor(image, cv2.COLOR_BGR2GRAY))
            if corners is not None and len(corners) >= 4:
                self.corners[index] = dict(zip(ids.ravel().tolist(), corners.reshape(-1, 2)))
        object_points = [board_corners[list(seen)] for seen in self.corners.values()]
        image_points = [np.array(list(seen.values()), np.float32) for seen in self.corners.values()]
        height, width = frames[0].shape[:2]
        _, self.K, self.D, _, _, _, _, per_view = cv2.calibrateCameraExtended(
            object_points, image_points, (width, height), None, None, criteria=CRITERIA)
        self.good_frames = {frame for frame, error in zip(self.corners, per_view.ravel())
                            if error <= PER_VIEW_ERROR_THRESHOLD}


def stereo(reference: Camera, camera: Camera, board_corners, image_size) -> tuple[np.ndarray, float]:
    """reference_T_camera and the pair's RMS."""
    objects, first, second = [], [], []
    for frame in sorted(reference.good_frames & camera.good_frames):
        shared = sorted(reference.corners[frame].keys() & camera.corners[frame].keys())
        if len(shared) < MINIMUM_SHARED_CORNERS:
            continue
        objects.append(board_corners[shared])
        first.append(np.array([reference.corners[frame][i] for i in shared], np.float32))
        second.append(np.array([camera.corners[frame][i] for i in shared], np.float32))
    rms, *_, R, T, _, _ = cv2.stereoCalibrate(objects, first, second, reference.K, reference.D, camera.K, camera.D,
                                              image_size, flags=cv2.CALIB_FIX_INTRINSIC, criteria=CRITERIA)
    camera_T_reference = np.eye(4)
    camera_T_reference[:3, :3], camera_T_reference[:3, 3] = R, T.ravel()
    return np.linalg.inv(camera_T_reference), rms


def check_frame_zero(cameras: list, poses: list) -> tuple[list[float], float]:
    """Frame 0 triangulated: the reprojection RMS per camera and the board's thickness."""
    seen = {}
    for c, camera in enumerate(cameras):
        for corner_id, pixel in camera.corners.get(0, {}).items():
            seen.setdefault(corner_id, []).append((c, pixel))
    projections = [camera.K @ np.linalg.inv(pose)[:3] for camera, pose in zip(cameras, poses)]
    points, per_camera = [], [([], []) for _ in cameras]
    for observations in seen.values():
        if len(observations) < 2:
            continue
        rows = []
        for c, pixel in observations:
            ideal = cv2.undistortPoints(pixel.reshape(1, 1, 2).astype(np.float64), cameras[c].K, cameras[c].D,
                                        P=cameras[c].K).ravel()
            rows += [ideal[0] * projections[c][2] - projections[c][0], ideal[1] * projections[c][2] - projections[c][1]]
        X = np.linalg.svd(np.array(rows))[2][3]
        points.append(X[:3] / X[3])
        for c, pixel in observations:
            per_camera[c][0].append(points[-1])
            per_camera[c][1].append(pixel)
    rms = []
    for camera, pose, (objects, pixels) in zip(cameras, poses, per_camera):
        if not objects:
            rms.append(float("nan"))
            continue
        camera_T_reference = np.linalg.inv(pose)
        projected = cv2.projectPoints(np.array(objects), cv2.Rodrigues(camera_T_reference[:3, :3])[0],
                                      camera_T_reference[:3, 3], camera.K, camera.D)[0].reshape(-1, 2)
        rms.append(float(np.sqrt(np.mean(np.sum((projected - np.array(pixels)) ** 2, axis=1)))))
    points = np.array(points)
    return rms, np.linalg.svd(points - points.mean(axis=0), compute_uv=False)[2]


def calibrate_rig(cameras: list, board_corners, image_size) -> tuple[list[float], tuple[list[float], float]]:
    """The pair RMS of each camera against the first, and the check of frame 0."""
    poses, errors = [np.eye(4)], []
    for camera in cameras[1:]:
        pose, rms = stereo(cameras[0], camera, board_corners, image_size)
        poses.append(pose)
        errors.append(rms)
    return errors, check_frame_zero(cameras, poses)


def image_size_of(image_lists) -> tuple[int, int]:
    height, width = image_lists[0][0].shape[:2]
    return width, height


def calibrate(image_lists: list, board):
    """The whole rig against camera 0: calibrate_rig's figures."""
    cameras = [Camera(frames, board) for frames in image_lists]
    return calibrate_rig(cameras, board.getChessboardCorners(), image_size_of(image_lists))


def calibrate_subsets(image_lists: list, board, sizes: list[int]) -> list:
    """Every combination of the given sizes as a rig of its own: calibrate_rig's figures of each."""
    cameras = [Camera(frames, board) for frames in image_lists]
    return [calibrate_rig([cameras[c] for c in subset], board.getChessboardCorners(), image_size_of(image_lists))
            for size in sizes for subset in itertools.combinations(range(len(cameras)), size)]
