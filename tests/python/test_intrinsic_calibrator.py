"""Intrinsic calibration on rendered views with known camera matrix and distortion."""

import numpy as np
import pytest

import _vemo
from quorvantine.vemo.scenes import render_orbit

IMAGE_SIZE = (640, 480)
TRUE_K = np.array([[612.0, 0.0, 323.0], [0.0, 606.0, 236.0], [0.0, 0.0, 1.0]])
TRUE_DIST = np.array([[-0.11, 0.045, 0.0008, -0.0006, 0.0]])
CALIB_USE_INTRINSIC_GUESS = 1  # OpenCV's flag value

TARGETS = {
    "chessboard": _vemo.ChessboardTarget((7, 5), 0.03),
    "charuco": _vemo.CharucoTarget(7, 5, 0.034, 0.025, "DICT_4X4_50"),
    "aruco": _vemo.ArucoTarget((4, 3), 0.045, 0.012, "DICT_4X4_50"),
}


# ArUco marker corners come unrefined from OpenCV's contour detector, on average 0.5 px inside
# the true corners (chessboard and ChArUco corners: within 0.05 px). Views that put the board
# near the image edges turn that bias into a focal-length error above 0.5 %, so the ArUco
# set stays centred while the others also cover the edges, where the distortion shows.
PAN_DEG = {"chessboard": 8.0, "charuco": 8.0, "aruco": 0.0}


def render_views(target, count=12, pan_deg=0.0):
    return render_orbit(target, TRUE_K, TRUE_DIST, IMAGE_SIZE, count, distance=0.4, pan_deg=pan_deg)


def distortion_shift(K, dist, xy):
    """Pixel shift that OpenCV's five-coefficient model applies to normalized points xy (N, 2)."""
    k1, k2, p1, p2, k3 = dist[0]
    x, y = xy[:, 0], xy[:, 1]
    r2 = x * x + y * y
    radial = k1 * r2 + k2 * r2**2 + k3 * r2**3
    dx = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x)
    dy = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y
    return np.stack([K[0, 0] * dx, K[1, 1] * dy], axis=1)


def blank(height=IMAGE_SIZE[1], width=IMAGE_SIZE[0]):
    return np.full((height, width, 3), 128, np.uint8)


@pytest.fixture(scope="module")
def views():
    return {kind: render_views(target, pan_deg=PAN_DEG[kind]) for kind, target in TARGETS.items()}


@pytest.fixture(scope="module")
def results(views):
    return {kind: _vemo.IntrinsicCalibrator(TARGETS[kind]).calibrate(views[kind]) for kind in TARGETS}


@pytest.mark.parametrize("kind", list(TARGETS))
def test_recovers_the_true_camera(results, views, kind):
    result = results[kind]
    assert result.ok
    assert result.successful_indices == list(range(len(views[kind])))
    K = result.intrinsic_matrix
    assert K.shape == (3, 3) and K.dtype == np.float64
    assert K[0, 0] == pytest.approx(TRUE_K[0, 0], rel=0.005)
    assert K[1, 1] == pytest.approx(TRUE_K[1, 1], rel=0.005)
    # The ArUco corners' inward bias also moves the principal point by a few pixels.
    centre_tolerance = 4.0 if kind == "aruco" else 2.0
    assert abs(K[0, 2] - TRUE_K[0, 2]) < centre_tolerance
    assert abs(K[1, 2] - TRUE_K[1, 2]) < centre_tolerance
    assert result.distortion_coefficients.shape == (1, 5)
    if kind != "aruco":
        # The coefficients trade off against each other; the shift they make over the
        # image area the board covered must match.
        points = np.concatenate([p.reshape(-1, 2) for p in result.image_points])
        xy = (points - TRUE_K[:2, 2]) / np.diag(TRUE_K)[:2]
        shift_error = distortion_shift(K, result.distortion_coefficients, xy) - distortion_shift(TRUE_K, TRUE_DIST, xy)
        assert np.abs(shift_error).max() < 0.2
    assert len(result.per_view_errors) == len(result.image_points) == len(views[kind])
    assert result.low_view_error_indices == list(range(len(views[kind])))  # all within 1 px
    assert result.std_deviations_intrinsics.shape[1] == 1
    assert result.std_deviations_extrinsics.shape == (6 * len(views[kind]), 1)


@pytest.mark.parametrize("kind", list(TARGETS))
def test_reprojection_error_is_the_mean_of_per_view_norm_over_count(results, kind):
    # OpenCV's per-view error is sqrt(sum of squares / N), so ||residual||_2 / N of a view is
    # that RMS divided by sqrt(N).
    result = results[kind]
    counts = np.array([len(points) for points in result.image_points])
    expected = np.mean(np.asarray(result.per_view_errors) / np.sqrt(counts))
    # Both project in float32 (the object points' type), hence the loose tolerance.
    assert result.reprojection_error == pytest.approx(expected, rel=1e-4)


def test_detection_layout_per_target_kind(views):
    charuco = _vemo.IntrinsicCalibrator(TARGETS["charuco"]).find_corners(views["charuco"][:3])
    board = TARGETS["charuco"]
    inner_width = board.squares_x - 1
    for image_points, object_points, ids in zip(charuco.image_points, charuco.object_points, charuco.point_ids):
        assert image_points.dtype == np.float32 and image_points.shape == (len(ids), 1, 2)
        assert ids.dtype == np.int32 and ids.shape[1] == 1
        # Corner id = y * (squares_x - 1) + x sits at ((x + 1), (y + 1)) squares from the board origin.
        expected = np.stack([(ids[:, 0] % inner_width + 1) * board.square_length,
                             (ids[:, 0] // inner_width + 1) * board.square_length,
                             np.zeros(len(ids))], axis=1)
        assert object_points.dtype == np.float32
        np.testing.assert_allclose(object_points, expected, atol=1e-6)

    aruco = _vemo.IntrinsicCalibrator(TARGETS["aruco"]).find_corners(views["aruco"][:3])
    assert aruco.point_ids == []
    for image_points, object_points in zip(aruco.image_points, aruco.object_points):
        assert image_points.shape == (len(object_points), 1, 2) and len(object_points) % 4 == 0
        assert len(object_points) == 4 * 12  # every marker of the 4x3 grid is in view

    chessboard = _vemo.IntrinsicCalibrator(TARGETS["chessboard"]).find_corners(views["chessboard"][:3])
    assert chessboard.point_ids == []
    for image, annotated, object_points in zip(views["chessboard"], chessboard.annotated_images,
                                               chessboard.object_points):
        np.testing.assert_array_equal(object_points, TARGETS["chessboard"].object_points())
        assert annotated.shape == image.shape and not np.array_equal(annotated, image)


def test_skipped_images_leave_gaps_and_log_their_index(views, capfd):
    for kind, warning in [
        ("chessboard", "[IntrinsicCalibrator] Chessboard not found in image "),
        ("charuco", "[CharucoIntrinsicCalibrator] Not enough ChArUco corners in image "),
        ("aruco", "[ArucoIntrinsicCalibrator] Not enough ArUco markers in image "),
    ]:
        good = views[kind]
        batch = [good[0], blank(), good[1], good[2], blank(), good[3], good[4]]
        capfd.readouterr()
        calibrator = _vemo.IntrinsicCalibrator(TARGETS[kind], _options(per_view_error_threshold=1e9))
        result = calibrator.calibrate(batch)
        lines = capfd.readouterr().err.splitlines()
        assert [line for line in lines if "image" in line] == [
            f"[vemo][WARNING] {warning}1", f"[vemo][WARNING] {warning}4"]
        assert result.ok
        assert result.successful_indices == [0, 2, 3, 5, 6]
        # Positions among the successful views, not image indices.
        assert result.low_view_error_indices == [0, 1, 2, 3, 4]
        assert calibrator.detections().successful_indices == [0, 2, 3, 5, 6]
        assert len(calibrator.corner_images()) == 5


def test_no_corners_found(capfd):
    for target in TARGETS.values():
        calibrator = _vemo.IntrinsicCalibrator(target)
        capfd.readouterr()
        result = calibrator.calibrate([blank(), blank()])
        err = capfd.readouterr().err
        assert err.splitlines()[-1] == \
            "[vemo][WARNING] [IntrinsicCalibrator] No corners found. Check the images and try again."
        assert not result.ok
        assert result.successful_indices == [] and result.image_points == []
        assert result.per_view_errors == [] and result.reprojection_error == 0.0
        assert result.intrinsic_matrix.shape == (0, 0)


def _options(**fields):
    options = _vemo.IntrinsicOptions()
    for name, value in fields.items():
        setattr(options, name, value)
    return options


def test_per_view_threshold_marks_views_without_changing_the_solve(views, capfd):
    images = views["chessboard"]
    wide = _vemo.IntrinsicCalibrator(TARGETS["chessboard"], _options(per_view_error_threshold=1e9)).calibrate(images)
    assert wide.low_view_error_indices == list(range(len(images)))

    capfd.readouterr()
    none = _vemo.IntrinsicCalibrator(TARGETS["chessboard"], _options(per_view_error_threshold=0.0)).calibrate(images)
    assert none.ok and none.low_view_error_indices == []
    assert "[vemo][WARNING] [IntrinsicCalibrator] No view with reprojection error below 0.000000. Returning " \
           "intrinsics anyway with low_view_error_indices=[]." in capfd.readouterr().err.splitlines()
    np.testing.assert_array_equal(none.intrinsic_matrix, wide.intrinsic_matrix)

    # A view exactly at the threshold counts as good.
    errors = np.asarray(wide.per_view_errors)
    threshold = float(np.median(errors))
    middle = _vemo.IntrinsicCalibrator(TARGETS["chessboard"],
                                       _options(per_view_error_threshold=threshold)).calibrate(images)
    assert middle.low_view_error_indices == [w for w, e in enumerate(errors) if e <= threshold]
    assert 0 < len(middle.low_view_error_indices) < len(images)


def test_sector_based_corners_are_not_refined(views):
    images = views["chessboard"][:4]

    def corners(detector, window):
        options = _options(chessboard_corner_detector=detector, sub_pixel_detection_window_size=window)
        return _vemo.IntrinsicCalibrator(TARGETS["chessboard"], options).find_corners(images).image_points

    for small, large in zip(corners("Sector Based", 3), corners("Sector Based", 11)):
        np.testing.assert_array_equal(small, large)
    assert any(not np.array_equal(small, large) for small, large in zip(corners("Default", 3), corners("Default", 11)))


def test_method_and_detector_names(views):
    with pytest.raises(ValueError, match=r"^IntrinsicCalibrator: chessboard_corner_detector must be 'Default' or "
                                         r"'Sector Based', got 'sector based'$"):
        _vemo.IntrinsicCalibrator(TARGETS["chessboard"],
                                  _options(chessboard_corner_detector="sector based")).find_corners([blank()])
    # An empty batch never reaches the check.
    empty = _vemo.IntrinsicCalibrator(TARGETS["chessboard"], _options(chessboard_corner_detector="x")).find_corners([])
    assert (empty.successful_indices, empty.image_points, empty.object_points, empty.point_ids,
            empty.annotated_images) == ([], [], [], [], [])

    bogus = _options(calibrate_camera_method="Bundle")
    for kind in ("chessboard", "aruco"):
        with pytest.raises(ValueError, match=r"^IntrinsicCalibrator: calibrate_camera_method must be 'Default' or "
                                             r"'Release Object', got 'Bundle'$"):
            _vemo.IntrinsicCalibrator(TARGETS[kind], bogus).calibrate(views[kind][:6])
    # ChArUco always takes the standard solver and never looks at the name.
    assert _vemo.IntrinsicCalibrator(TARGETS["charuco"], bogus).calibrate(views["charuco"][:6]).ok


def test_release_object(views, results):
    images = views["chessboard"]
    standard = results["chessboard"]
    # OpenCV releases the object points only for a fixed point within 1 to N - 2.
    unreleased = _vemo.IntrinsicCalibrator(
        TARGETS["chessboard"], _options(calibrate_camera_method="Release Object")).calibrate(images)
    np.testing.assert_allclose(unreleased.intrinsic_matrix, standard.intrinsic_matrix, rtol=1e-9)

    released = _vemo.IntrinsicCalibrator(
        TARGETS["chessboard"], _options(calibrate_camera_method="Release Object", index_of_fixed_3d_point=6)
    ).calibrate(images)
    assert released.ok
    assert not np.allclose(released.intrinsic_matrix, standard.intrinsic_matrix, rtol=1e-9)
    K = released.intrinsic_matrix
    assert K[0, 0] == pytest.approx(TRUE_K[0, 0], rel=0.005)
    assert abs(K[1, 2] - TRUE_K[1, 2]) < 2.0


def test_guesses_are_used_on_copies(views):
    guess = np.array([[560.0, 0.0, 300.0], [0.0, 560.0, 250.0], [0.0, 0.0, 1.0]])
    options = _options(intrinsic_matrix_guess=guess, distortion_coefficients_guess=np.zeros((1, 5)),
                       calibrate_camera_flags=CALIB_USE_INTRINSIC_GUESS)
    calibrator = _vemo.IntrinsicCalibrator(TARGETS["charuco"], options)
    result = calibrator.calibrate(views["charuco"])
    assert result.ok
    assert result.intrinsic_matrix[0, 0] == pytest.approx(TRUE_K[0, 0], rel=0.005)
    np.testing.assert_array_equal(calibrator.options().intrinsic_matrix_guess, guess)
    np.testing.assert_array_equal(calibrator.options().distortion_coefficients_guess, np.zeros((1, 5)))
    np.testing.assert_array_equal(options.intrinsic_matrix_guess, guess)


def test_options_defaults_and_criteria_by_reference():
    options = _vemo.IntrinsicOptions()
    assert (options.criteria.type, options.criteria.max_count, options.criteria.epsilon) == (3, 30, 0.001)
    assert options.chessboard_corner_detector == "Default"
    assert options.chessboard_flags == 0
    assert options.sub_pixel_detection_window_size == 11
    assert options.sub_pixel_detection_zero_zone_size == -1
    assert options.calibrate_camera_method == "Default"
    assert options.calibrate_camera_flags == 0
    assert options.index_of_fixed_3d_point == 0
    assert options.intrinsic_matrix_guess is None and options.distortion_coefficients_guess is None
    assert options.per_view_error_threshold == 1.0

    options.criteria.max_count = 5
    options.criteria.epsilon = 0.5
    assert (options.criteria.max_count, options.criteria.epsilon) == (5, 0.5)
    options.criteria = _vemo.TermCriteria(_vemo.TERM_CRITERIA_EPS, 7, 0.25)
    calibrator = _vemo.IntrinsicCalibrator(TARGETS["chessboard"], options)
    copy = calibrator.options()
    assert (copy.criteria.type, copy.criteria.max_count, copy.criteria.epsilon) == (2, 7, 0.25)
    copy.criteria.max_count = 99
    assert calibrator.options().criteria.max_count == 7

    options.intrinsic_matrix_guess = np.eye(3)
    options.intrinsic_matrix_guess = None
    assert options.intrinsic_matrix_guess is None


def test_accessors_before_and_after_a_run(views):
    target = TARGETS["aruco"]
    calibrator = _vemo.IntrinsicCalibrator(target)
    assert calibrator.corner_images() == [] and calibrator.detections().successful_indices == []
    assert isinstance(calibrator.target(), _vemo.ArucoTarget)
    assert calibrator.target().board_size == target.board_size

    # find_corners leaves the calibrator as it was; calibrate stores its detections.
    calibrator.find_corners(views["aruco"][:2])
    assert calibrator.detections().successful_indices == []
    calibrator.calibrate(views["aruco"][:5])
    assert calibrator.detections().successful_indices == [0, 1, 2, 3, 4]
    assert [image.shape for image in calibrator.corner_images()] == [image.shape for image in views["aruco"][:5]]


def test_aruco_markers_off_the_board_are_not_counted():
    # A 3x3 grid carries ids 0-8; a 1x3 board knows only 0-2, so three of its markers are in view.
    grid = _vemo.ArucoTarget((3, 3), 0.045, 0.012, "DICT_4X4_50")
    image = render_views(grid, count=1)[0]
    assert len(_vemo.IntrinsicCalibrator(grid).find_corners([image]).object_points[0]) == 4 * 9
    row = _vemo.ArucoTarget((3, 1), 0.045, 0.012, "DICT_4X4_50")
    assert _vemo.IntrinsicCalibrator(row).find_corners([image]).successful_indices == []

    square = _vemo.ArucoTarget((2, 2), 0.045, 0.012, "DICT_4X4_50")
    detections = _vemo.IntrinsicCalibrator(square).find_corners([image])
    assert detections.successful_indices == [0]
    assert len(detections.object_points[0]) == 4 * 4


def test_images_of_other_layouts(views):
    image = views["chessboard"][0]
    bgra = np.concatenate([image, np.full(image.shape[:2] + (1,), 255, np.uint8)], axis=2)
    calibrator = _vemo.IntrinsicCalibrator(TARGETS["chessboard"])
    assert calibrator.find_corners([bgra]).annotated_images[0].shape == bgra.shape
    with pytest.raises(RuntimeError):
        calibrator.find_corners([image, image[:, :, 0]])


def test_a_solve_without_a_finite_error_fails(views, capfd):
    # A NaN guess makes OpenCV return a NaN RMS; "RMS <= 0" alone would take that for success.
    options = _options(intrinsic_matrix_guess=np.full((3, 3), np.nan), calibrate_camera_flags=CALIB_USE_INTRINSIC_GUESS)
    capfd.readouterr()
    result = _vemo.IntrinsicCalibrator(TARGETS["chessboard"], options).calibrate(views["chessboard"][:6])
    assert capfd.readouterr().err.splitlines()[-1] == \
        "[vemo][ERROR] [IntrinsicCalibrator] Camera calibration failed. Check the images and try again."
    assert not result.ok and result.intrinsic_matrix.shape == (0, 0) and result.reprojection_error == 0.0
    assert result.successful_indices == list(range(6)) and len(result.image_points) == 6
