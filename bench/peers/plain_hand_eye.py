"""The script a user would write instead of the library: eye-in-hand calibration with cv2
alone, making the same OpenCV calls (grey conversion, detection, sub-pixel refinement for a
chessboard, calibrateCamera, solvePnP per view, calibrateHandEye); intrinsics() is its first
half, the intrinsic calibration alone.

    python plain_hand_eye.py DATA_DIR chessboard COLS ROWS SQUARE [EXTENSION]
    python plain_hand_eye.py DATA_DIR charuco SQUARES_X SQUARES_Y SQUARE MARKER DICTIONARY [EXTENSION]

DATA_DIR is a hand-eye dataset folder (image_00.png, ... and calibration_data.npz with
robot_T_tcp_list); EXTENSION (default png) is that of its images. Prints tcp_T_camera.
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
    """The ChArUco detector of this cv2: CharucoDetector from 4.7 on; before (Debian 12's 4.6)
    the contrib module's functions, as a script written for that release calls them."""
    markers = cv2.aruco.getPredefinedDictionary(getattr(cv2.aruco, dictionary))
    if not hasattr(cv2.aruco, "CharucoDetector"):
        old_board = cv2.aruco.CharucoBoard_create(squares_x, squares_y, square, marker, markers)
        old_board_corners = old_board.chessboardCorners

        def detect_before_4_7(grey):
            marker_corners, marker_ids, _ = cv2.aruco.detectMarkers(grey, markers)
            if marker_ids is None:
                return None
            count, corners, ids = cv2.aruco.interpolateCornersCharuco(marker_corners, marker_ids, grey, old_board)
            if ids is None or count < 4:
                return None
            return old_board_corners[ids.ravel()], corners

        return detect_before_4_7

    board = cv2.aruco.CharucoBoard((squares_x, squares_y), square, marker, markers)
    detector = cv2.aruco.CharucoDetector(board)
    board_corners = board.getChessboardCorners()

    def detect(grey):
        corners, ids, _, _ = detector.detectBoard(grey)
        if corners is None or len(corners) < 4:
            return None
        return board_corners[ids.ravel()], corners

    return detect


def detector_from_arguments(arguments: list[str]):
    """The detector of the target arguments; an image extension after them is left for load_dataset."""
    kind, *values = arguments
    if kind == "chessboard":
        return chessboard_detector(int(values[0]), int(values[1]), float(values[2]))
    return charuco_detector(int(values[0]), int(values[1]), float(values[2]), float(values[3]), values[4])


def intrinsics(images: list, detect) -> tuple:
    """(camera_matrix, dist_coeffs, object_points, image_points, indices of the views found)
    from BGR images."""
    object_points, image_points, found_views = [], [], []
    for index, image in enumerate(images):
        found = detect(cv2.cvtColor(image, cv2.COLOR_BGR2GRAY))
        if found is not None:
            object_points.append(found[0])
            image_points.append(found[1])
            found_views.append(index)
    height, width = images[0].shape[:2]
    _, camera_matrix, dist_coeffs, _, _ = cv2.calibrateCamera(object_points, image_points, (width, height), None,
                                                              None, criteria=CRITERIA)
    return camera_matrix, dist_coeffs, object_points, image_points, found_views


def calibrate(images: list, robot_T_tcp_list: list, detect) -> np.ndarray:
    """tcp_T_camera from BGR images and the flange poses they were taken at."""
    camera_matrix, dist_coeffs, object_points, image_points, found_views = intrinsics(images, detect)
    poses = [robot_T_tcp_list[index] for index in found_views]
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


def load_dataset(data_dir: pathlib.Path, extension: str = "png") -> tuple[list, list]:
    robot_T_tcp_list = list(np.load(data_dir / "calibration_data.npz")["robot_T_tcp_list"])
    images = [cv2.imread(str(data_dir / f"image_{i:02d}.{extension}")) for i in range(len(robot_T_tcp_list))]
    return images, robot_T_tcp_list


def main(arguments: list[str]) -> None:
    target_arguments = arguments[1:]
    # An image extension may follow the target's values: four of a chessboard, six of a ChArUco board.
    extension = target_arguments[-1] if len(target_arguments) in (5, 7) else "png"
    images, robot_T_tcp_list = load_dataset(pathlib.Path(arguments[0]), extension)
    print(calibrate(images, robot_T_tcp_list, detector_from_arguments(target_arguments)))


if __name__ == "__main__":
    main(sys.argv[1:])
