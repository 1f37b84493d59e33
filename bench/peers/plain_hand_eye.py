"""The script a user would write instead of the library: eye-in-hand calibration with cv2
alone, making the same OpenCV calls (grey conversion, detection, sub-pixel refinement for a
chessboard, calibrateCamera, solvePnP per view, calibrateHandEye).

    python plain_hand_eye.py DATA_DIR chessboard COLS ROWS SQUARE
    python plain_hand_eye.py DATA_DIR charuco SQUARES_X SQUARES_Y SQUARE MARKER DICTIONARY

DATA_DIR is a hand-eye dataset folder (image_00.png, ... and calibration_data.npz with
robot_T_tcp_list). Prints tcp_T_camera.
"""

import pathlib
import sys

import cv2
import numpy as np

CRITERIA = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 30, 0.001)


def chessboard_detector(cols: int, rows: int, square: float):
    grid = np.zeros((cols * rows, 3), np.float32)
    grid[:, :2] = np.mgrid[0:cols, 0:rows].T.reshape(-1, 2) * square

    def detect(grey):
        found, corners = cv2.findChessboardCorners(grey, (cols, rows), None, 0)
        if not found:
            return None
        return grid, cv2.cornerSubPix(grey, corners, (11, 11), (-1, -1), CRITERIA)

    return detect


def charuco_detector(squares_x: int, squares_y: int, square: float, marker: float, dictionary: str):
    board = cv2.aruco.CharucoBoard((squares_x, squares_y), square, marker,
                                   cv2.aruco.getPredefinedDictionary(getattr(cv2.aruco, dictionary)))
    detector = cv2.aruco.CharucoDetector(board)
    board_corners = board.getChessboardCorners()

    def detect(grey):
        corners, ids, _, _ = detector.detectBoard(grey)
        if corners is None or len(corners) < 4:
            return None
        return board_corners[ids.ravel()], corners

    return detect


def detector_from_arguments(arguments: list[str]):
    kind, *values = arguments
    if kind == "chessboard":
        return chessboard_detector(int(values[0]), int(values[1]), float(values[2]))
    return charuco_detector(int(values[0]), int(values[1]), float(values[2]), float(values[3]), values[4])


def calibrate(images: list, robot_T_tcp_list: list, detect) -> np.ndarray:
    """tcp_T_camera from BGR images and the flange poses they were taken at."""
    object_points, image_points, poses = [], [], []
    for image, robot_T_tcp in zip(images, robot_T_tcp_list):
        found = detect(cv2.cvtColor(image, cv2.COLOR_BGR2GRAY))
        if found is not None:
            object_points.append(found[0])
            image_points.append(found[1])
            poses.append(robot_T_tcp)
    height, width = images[0].shape[:2]
    _, camera_matrix, dist_coeffs, _, _ = cv2.calibrateCamera(object_points, image_points, (width, height), None,
                                                              None, criteria=CRITERIA)
    r_target2cam, t_target2cam = [], []
    for objects, corners in zip(object_points, image_points):
        _, rvec, tvec = cv2.solvePnP(objects, corners, camera_matrix, dist_coeffs)
        r_target2cam.append(cv2.Rodrigues(rvec)[0])
        t_target2cam.append(tvec)
    r_cam2gripper, t_cam2gripper = cv2.calibrateHandEye([p[:3, :3] for p in poses], [p[:3, 3] for p in poses],
                                                        r_target2cam, t_target2cam, method=cv2.CALIB_HAND_EYE_TSAI)
    tcp_T_camera = np.eye(4)
    tcp_T_camera[:3, :3] = r_cam2gripper
    tcp_T_camera[:3, 3] = t_cam2gripper.ravel()
    return tcp_T_camera


def load_dataset(data_dir: pathlib.Path) -> tuple[list, list]:
    robot_T_tcp_list = list(np.load(data_dir / "calibration_data.npz")["robot_T_tcp_list"])
    images = [cv2.imread(str(data_dir / f"image_{i:02d}.png")) for i in range(len(robot_T_tcp_list))]
    return images, robot_T_tcp_list


def main(arguments: list[str]) -> None:
    images, robot_T_tcp_list = load_dataset(pathlib.Path(arguments[0]))
    print(calibrate(images, robot_T_tcp_list, detector_from_arguments(arguments[1:])))


if __name__ == "__main__":
    main(sys.argv[1:])
