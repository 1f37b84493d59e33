"""The target classes of _vemo: names, overloads, properties, texts and detection."""

import numpy as np
import pytest

import _vemo
from _vemo import synthetic


def test_dictionary_map_has_all_22_names_in_byte_order():
    table = _vemo.aruco_dictionary_id_map()
    assert len(table) == 22
    names = list(table)
    assert names == sorted(names, key=lambda name: name.encode())
    assert names.index("DICT_4X4_100") < names.index("DICT_4X4_1000") < names.index("DICT_4X4_250")
    assert names.index("DICT_ARUCO_MIP_36H12") < names.index("DICT_ARUCO_ORIGINAL")
    assert sorted(table.values()) == list(range(22))
    assert table["DICT_4X4_1000"] == 3 and table["DICT_ARUCO_ORIGINAL"] == 16
    # A copy: changing it leaves the table alone.
    table["DICT_4X4_50"] = 99
    assert _vemo.aruco_dictionary_id_map()["DICT_4X4_50"] == 0


def test_dictionary_names_resolve_exactly():
    assert _vemo.aruco_dictionary_id_from_name("DICT_APRILTAG_36H11") == 20
    assert _vemo.aruco_dictionary_id_from_name(name="DICT_ARUCO_MIP_36H12") == 21
    for name in ("DICT_APRILTAG_36h11", " DICT_4X4_50", "dict_4x4_50", ""):
        with pytest.raises(ValueError) as error:
            _vemo.aruco_dictionary_id_from_name(name)
        assert str(error.value) == f"Unknown aruco_dict_id '{name}'"


def test_constructors_take_an_id_with_default_3_or_a_name():
    assert _vemo.CharucoTarget(5, 7, 0.04, 0.03).aruco_dict_id == 3
    assert _vemo.CharucoTarget(5, 7, 0.04, 0.03, "DICT_5X5_100").aruco_dict_id == 5
    assert _vemo.CharucoTarget(5, 7, 0.04, 0.03, 12).aruco_dict_id == 12
    keywords = _vemo.CharucoTarget(squares_x=4, squares_y=6, square_length=1, marker_length=0.5, aruco_dict_id="DICT_6X6_50")
    assert (keywords.squares_x, keywords.squares_y, keywords.square_length, keywords.aruco_dict_id) == (4, 6, 1.0, 8)

    assert _vemo.ArucoTarget((4, 3), 0.04, 0.01).aruco_dict_id == 3
    assert _vemo.ArucoTarget([4, 3], 0.04, 0.01, "DICT_7X7_50").aruco_dict_id == 12
    aruco = _vemo.ArucoTarget(board_size=(5, 2), marker_length=0.03, marker_separation=0.006, aruco_dict_id=1)
    assert (aruco.board_size, aruco.marker_length, aruco.marker_separation) == ((5, 2), 0.03, 0.006)

    chessboard = _vemo.ChessboardTarget(size=(9, 6), square_size=0.025)
    assert chessboard.size == (9, 6) and chessboard.square_size == 0.025
    # Ids are not checked when the target is made; names are.
    assert _vemo.CharucoTarget(5, 7, 0.04, 0.03, 99).aruco_dict_id == 99
    with pytest.raises(ValueError, match="Unknown aruco_dict_id 'DICT_5x5_100'"):
        _vemo.CharucoTarget(5, 7, 0.04, 0.03, "DICT_5x5_100")
    with pytest.raises(ValueError, match="Unknown aruco_dict_id 'nope'"):
        _vemo.ArucoTarget((4, 3), 0.04, 0.01, "nope")
    with pytest.raises(TypeError):
        _vemo.ChessboardTarget((9, 6, 1), 0.025)


def test_docstrings():
    assert _vemo.aruco_dictionary_id_map.__doc__.endswith(
        'Map of predefined ArUco dictionary names ("DICT_4X4_50", ...) to their OpenCV ids.\n')
    assert _vemo.aruco_dictionary_id_from_name.__doc__.endswith(
        'Resolve a dictionary name (e.g. "DICT_4X4_50") to its OpenCV id.\n')
    assert _vemo.ChessboardTarget.__doc__ == "Classic chessboard target: inner-corner grid + square size."
    assert "size: (cols, rows) of inner corners. square_size: edge length in meters." in _vemo.ChessboardTarget.__init__.__doc__
    assert _vemo.CharucoTarget.__doc__ == "ChArUco target: chessboard + embedded ArUco markers."
    assert _vemo.ArucoTarget.__doc__ == "ArUco grid-board target."
    assert _vemo.ChessboardTarget.object_points.__doc__.endswith(
        "Board-frame 3D coordinates of all inner corners, (N, 3) float32.\n")
    assert _vemo.CharucoTarget.detect_and_annotate.__doc__.endswith(
        "Detect ChArUco corners on `image` and draw them on a copy. "
        "Returns (annotated_image_bgr, num_charuco_corners).\n")


def test_repr_follows_assigned_properties():
    chessboard = _vemo.ChessboardTarget((9, 6), 0.025)
    assert repr(chessboard) == "ChessboardTarget(size=(9, 6), square_size=0.025000)"
    chessboard.size = (7, 5)
    chessboard.square_size = 0.0301234567
    assert repr(chessboard) == "ChessboardTarget(size=(7, 5), square_size=0.030123)"
    assert chessboard.object_points().shape == (35, 3)

    charuco = _vemo.CharucoTarget(5, 7, 0.04, 0.03)
    assert repr(charuco) == ("CharucoTarget(squares_x=5, squares_y=7, square_length=0.040000, "
                             "marker_length=0.030000, aruco_dict_id=3)")
    charuco.squares_x, charuco.marker_length, charuco.aruco_dict_id = 6, 0.0255, 10
    assert repr(charuco) == ("CharucoTarget(squares_x=6, squares_y=7, square_length=0.040000, "
                             "marker_length=0.025500, aruco_dict_id=10)")

    aruco = _vemo.ArucoTarget((4, 3), 0.04, 0.01)
    assert repr(aruco) == ("ArucoTarget(board_size=(4, 3), marker_length=0.040000, "
                           "marker_separation=0.010000, aruco_dict_id=3)")
    aruco.board_size = [2, 8]
    aruco.marker_separation = 1
    assert repr(aruco) == ("ArucoTarget(board_size=(2, 8), marker_length=0.040000, "
                           "marker_separation=1.000000, aruco_dict_id=3)")


def test_object_points_run_along_the_first_row_first():
    points = _vemo.ChessboardTarget((9, 6), 0.025).object_points()
    assert points.shape == (54, 3) and points.dtype == np.float32
    rows, cols = np.mgrid[0:6, 0:9]
    expected = np.stack([cols.ravel() * 0.025, rows.ravel() * 0.025, np.zeros(54)], axis=1).astype(np.float32)
    np.testing.assert_array_equal(points, expected)
    np.testing.assert_array_equal(points[9], np.float32([0, 0.025, 0]))
    np.testing.assert_allclose(points[-1], [0.2, 0.125, 0], rtol=1e-6)
    assert _vemo.ChessboardTarget((0, 6), 0.025).object_points().size == 0
    # More corners than a matrix can hold (the count overflows 32 bits): an error, not a crash.
    with pytest.raises(ValueError, match="^ChessboardTarget::objectPoints: "):
        _vemo.ChessboardTarget((65536, 65537), 0.025).object_points()


def _charuco_view(target):
    camera = np.array([[1000.0, 0, 640], [0, 1000, 480], [0, 0, 1]])
    renderer = synthetic.Renderer(target, camera, np.zeros(5), (1280, 960))
    centre = synthetic.target_centre(target)
    pose = synthetic.camera_T_target_looking_at(target, (centre[0] + 0.08, centre[1] - 0.05, -0.5), 12.0)
    return renderer.render(pose)


def test_detect_and_annotate_draws_markers_and_corners_on_a_copy():
    target = _vemo.CharucoTarget(5, 7, 0.04, 0.03)
    image = _charuco_view(target)
    original = image.copy()
    annotated, count = target.detect_and_annotate(image)
    assert count == 4 * 6
    np.testing.assert_array_equal(image, original)
    assert annotated.shape == image.shape and annotated.dtype == np.uint8
    # Renders are grey; the annotation adds pure green outlines and pure blue corner marks.
    colours = {tuple(pixel) for pixel in annotated.reshape(-1, 3)[np.any(annotated.reshape(-1, 3) != original.reshape(-1, 3), axis=1)]}
    assert (0, 255, 0) in colours and (255, 0, 0) in colours

    # BGRA in, BGRA out, alpha untouched.
    bgra = np.dstack([image, np.full(image.shape[:2], 200, np.uint8)])
    annotated_bgra, count_bgra = target.detect_and_annotate(bgra)
    assert annotated_bgra.shape == bgra.shape and count_bgra == count
    assert (annotated_bgra[..., 3] == 200).all()


def test_detect_and_annotate_on_a_blank_image_returns_an_unchanged_copy():
    blank = np.full((240, 320, 3), 180, np.uint8)
    annotated, count = _vemo.CharucoTarget(5, 7, 0.04, 0.03).detect_and_annotate(blank)
    assert count == 0
    np.testing.assert_array_equal(annotated, blank)
    annotated[0, 0] = 0
    assert blank[0, 0, 0] == 180


def test_detection_errors_reach_python():
    image = np.full((240, 320, 3), 180, np.uint8)
    # Id 21 is known to OpenCV from 4.8 on; an older one's error names it.
    try:
        _vemo.CharucoTarget(5, 7, 0.04, 0.03, 21).detect_and_annotate(image)
    except RuntimeError as error:
        assert "id 21" in str(error)
    with pytest.raises(RuntimeError, match="id 22"):
        _vemo.CharucoTarget(5, 7, 0.04, 0.03, 22).detect_and_annotate(image)
    with pytest.raises(RuntimeError):
        _vemo.CharucoTarget(5, 7, 0.04, 0.03).detect_and_annotate(image[..., 0])
    # A board needs one marker per white square (half of them, rounded down) from its
    # dictionary: DICT_4X4_50 has 50, enough for 10 x 10 squares but not for 11 x 10, and
    # a huge board is refused at once instead of being built.
    assert _vemo.CharucoTarget(10, 10, 0.04, 0.03, 0).detect_and_annotate(image)[1] == 0
    for squares in ((11, 10), (100000, 100000)):
        with pytest.raises(ValueError, match="^CharucoBoard: .* squares take .* markers, dictionary 0 has 50$"):
            _vemo.CharucoTarget(*squares, 0.04, 0.03, 0).detect_and_annotate(image)
