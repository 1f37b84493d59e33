"""check_charuco_layout on rendered views: the residual it measures, the layout it names."""

import cv2
import numpy as np
import pytest

import _vemo
from quorvantine.vemo.scenes.views import render_orbit

CAMERA = np.array([[1010.0, 0, 641.3], [0, 1005.0, 478.9], [0, 0, 1]])
DISTORTION = np.array([-0.18, 0.07, 0.0008, -0.0006, -0.01])
SQUARE, MARKER = 0.03, 0.022


def charuco(squares_x, squares_y):
    return _vemo.CharucoTarget(squares_x, squares_y, SQUARE, MARKER, "DICT_5X5_100")


def homography_residual_in_squares(image, squares):
    """RMS distance of cv2's marker corners from cv2's least-squares homography of their board
    positions, over the mean marker edge scaled to a square."""
    dictionary = cv2.aruco.getPredefinedDictionary(cv2.aruco.DICT_5X5_100)
    board = cv2.aruco.CharucoBoard(squares, SQUARE, MARKER, dictionary)
    on_board = {marker_id: np.array(corners)[:, :2] for marker_id, corners in zip(board.getIds(), board.getObjPoints())}
    corners, ids, _ = cv2.aruco.ArucoDetector(dictionary).detectMarkers(image)
    seen = np.concatenate([c.reshape(4, 2) for c in corners]).astype(np.float64)
    placed = np.concatenate([on_board[marker_id] for marker_id in ids.ravel()]).astype(np.float64)
    homography, _ = cv2.findHomography(placed, seen, 0)
    mapped = cv2.perspectiveTransform(placed[None], homography)[0]
    rms = np.sqrt(((mapped - seen) ** 2).sum(axis=1).mean())
    quads = seen.reshape(-1, 4, 2)
    marker_edge = np.linalg.norm(np.roll(quads, -1, axis=1) - quads, axis=2).mean()
    return rms / (marker_edge * SQUARE / MARKER)


def test_the_residual_is_what_a_homography_leaves_and_a_turned_board_is_named():
    images = render_orbit(charuco(12, 9), CAMERA, DISTORTION, (1280, 960), count=4, distance=0.6, pan_deg=10)

    right = _vemo.check_charuco_layout(charuco(12, 9), images)
    assert (right.fits, right.images_used, right.fitting_layout, right.warning) == (True, 4, (12, 9), "")
    [fit] = right.layouts
    expected = np.median([homography_residual_in_squares(image, (12, 9)) for image in images])
    assert (fit.squares_x, fit.squares_y, fit.residual_squares) == (12, 9, pytest.approx(expected, rel=0.01))

    turned = _vemo.check_charuco_layout(charuco(9, 12), images)
    assert not turned.fits and turned.fitting_layout == (12, 9)
    assert turned.warning == ("ChArUco markers do not fit a 9x12 board; they fit a 12x9 board "
                              "(squares_x x squares_y)")
    assert isinstance(turned.layouts[0], _vemo.CharucoLayoutFit) and turned.layouts[0].residual_squares > 1

    blank = _vemo.check_charuco_layout(charuco(12, 9), [np.full((480, 640), 200, np.uint8)])
    assert (blank.fits, blank.images_used, blank.layouts, blank.fitting_layout) == (True, 0, [], None)
