"""_vemo.synthetic: rendered target views, board sheets and camera poses."""

import math

import numpy as np
import pytest

import _vemo
from _vemo import synthetic

CAMERA = np.array([[900.0, 0, 320], [0, 900, 240], [0, 0, 1]])


def _fronto_parallel(target, distance):
    """Board parallel to the sensor, its centre on the optical axis."""
    pose = np.eye(4)
    pose[:3, 3] = -np.array(synthetic.target_centre(target)) + [0, 0, distance]
    return pose


def test_submodule_is_registered_with_its_docstring():
    assert _vemo.synthetic.__doc__ == "Rendered views of calibration targets with known geometry."
    assert _vemo.synthetic.__name__ == "_vemo.synthetic"


def test_render_returns_a_grey_bgr_view_of_the_requested_size():
    target = _vemo.ChessboardTarget((6, 4), 0.03)
    renderer = synthetic.Renderer(target, CAMERA, np.zeros(5), (640, 480))
    view = renderer.render(synthetic.camera_T_target_looking_at(target, (0.05, 0.02, -0.6)))
    assert view.shape == (480, 640, 3) and view.dtype == np.uint8
    assert (view[..., 0] == view[..., 1]).all() and (view[..., 1] == view[..., 2]).all()
    assert view[0, 0, 0] == 128  # the background
    assert view.min() == 0 and view.max() == 255


def test_black_area_matches_the_projected_squares():
    # Board parallel to the sensor at 0.5 m: a 30 mm square spans 900 * 0.03 / 0.5 = 54 px.
    # Anti-aliasing keeps areas, so the darkness summed over the image counts the black squares.
    target = _vemo.ChessboardTarget((6, 4), 0.03)
    renderer = synthetic.Renderer(target, CAMERA, np.zeros(0), (640, 480))
    view = renderer.render(_fronto_parallel(target, 0.5), background=255.0).astype(np.float64)[..., 0]
    black_squares = (7 * 5 + 1) // 2
    expected = black_squares * (900 * 0.03 / 0.5) ** 2
    assert abs((255 - view).sum() / 255 - expected) < 0.001 * expected


def test_noise_has_the_requested_spread_and_follows_the_seed():
    target = _vemo.ChessboardTarget((6, 4), 0.03)
    renderer = synthetic.Renderer(target, CAMERA, np.zeros(5), (640, 480))
    pose = _fronto_parallel(target, 0.5)
    clean = renderer.render(pose)[..., 0].astype(np.float64)
    noisy = renderer.render(pose, noise_sigma=4.0, seed=11)
    np.testing.assert_array_equal(noisy, renderer.render(pose, noise_sigma=4.0, seed=11))
    assert not np.array_equal(noisy, renderer.render(pose, noise_sigma=4.0, seed=12))
    background = clean == 128  # far from 0 and 255, so no clipping
    difference = noisy[..., 0].astype(np.float64)[background] - clean[background]
    assert abs(difference.mean()) < 0.05
    # Rounding to integers adds the variance of a uniform error, 1/12.
    assert abs(difference.std() - math.sqrt(4.0 ** 2 + 1 / 12)) < 0.05


def test_blur_spreads_edges_and_keeps_the_total_intensity():
    target = _vemo.ChessboardTarget((6, 4), 0.03)
    renderer = synthetic.Renderer(target, CAMERA, np.zeros(5), (640, 480))
    sharp = renderer.render(_fronto_parallel(target, 0.5))[..., 0].astype(np.float64)
    blurred = renderer.render(_fronto_parallel(target, 0.5), blur_sigma=2.0)[..., 0].astype(np.float64)
    assert np.abs(np.diff(blurred, axis=1)).max() < 0.5 * np.abs(np.diff(sharp, axis=1)).max()
    assert abs(blurred.sum() - sharp.sum()) < 1e-3 * sharp.sum()


def test_looking_at_places_the_camera_and_centres_the_target():
    target = _vemo.CharucoTarget(5, 7, 0.04, 0.03)
    centre = np.array(synthetic.target_centre(target))
    np.testing.assert_allclose(centre, [0.1, 0.14, 0.0])
    position = np.array([0.3, -0.1, -0.7])
    for roll in (0.0, 30.0):
        pose = synthetic.camera_T_target_looking_at(target, position, roll_deg=roll)
        rotation, translation = pose[:3, :3], pose[:3, 3]
        np.testing.assert_allclose(rotation @ rotation.T, np.eye(3), atol=1e-12)
        assert np.linalg.det(rotation) == pytest.approx(1.0)
        np.testing.assert_allclose(-rotation.T @ translation, position, atol=1e-12)
        projected = CAMERA @ (rotation @ centre + translation)
        np.testing.assert_allclose(projected[:2] / projected[2], [320, 240], atol=1e-9)

    # Seen head-on, upright: the board's x axis runs along the image's x axis; a roll of
    # 30 degrees turns it by 30 degrees.
    head_on = centre + [0, 0, -0.5]
    for roll, expected in ((0.0, 0.0), (30.0, -30.0)):
        pose = synthetic.camera_T_target_looking_at(target, head_on, roll)
        direction = pose[:3, :3] @ [1.0, 0, 0]
        assert math.degrees(math.atan2(direction[1], direction[0])) == pytest.approx(expected)
    with pytest.raises(ValueError, match="cameraTTargetLookingAt"):
        synthetic.camera_T_target_looking_at(target, centre)
    with pytest.raises(ValueError, match="cameraTTargetLookingAt"):
        synthetic.camera_T_target_looking_at(target, centre + [0, 0.5, 0])


def test_renderer_takes_and_returns_every_target_kind():
    targets = [_vemo.ChessboardTarget((6, 4), 0.03), _vemo.CharucoTarget(4, 4, 0.04, 0.03),
               _vemo.ArucoTarget((3, 2), 0.04, 0.01, "DICT_4X4_50")]
    for target in targets:
        renderer = synthetic.Renderer(target, CAMERA, np.zeros(4), (64, 48))
        assert type(renderer.target) is type(target)
        assert repr(renderer.target) == repr(target)
        assert renderer.image_size == (64, 48)
        np.testing.assert_array_equal(renderer.camera_matrix, CAMERA)
    with pytest.raises(TypeError):
        synthetic.Renderer("chessboard", CAMERA, np.zeros(4), (64, 48))


def test_bad_arguments_raise_value_errors():
    target = _vemo.ChessboardTarget((6, 4), 0.03)
    with pytest.raises(ValueError, match="^Renderer: camera_matrix must be 3x3"):
        synthetic.Renderer(target, np.eye(4), np.zeros(5), (64, 48))
    with pytest.raises(ValueError, match="^Renderer: dist_coeffs"):
        synthetic.Renderer(target, CAMERA, np.zeros(6), (64, 48))
    with pytest.raises(ValueError, match="^Renderer: camera_matrix must be finite"):
        synthetic.Renderer(target, CAMERA * np.nan, np.zeros(5), (64, 48))
    # A skew (or another last row) would be ignored, as cv::projectPoints ignores it: refused.
    for row, col, value in ((0, 1, 5.0), (2, 2, 2.0)):
        changed = CAMERA.copy()
        changed[row, col] = value
        with pytest.raises(ValueError, match=r"^Renderer: camera_matrix must be \[fx 0 cx; 0 fy cy; 0 0 1\] "
                                             r"\(skew is not modelled\)$"):
            synthetic.Renderer(target, changed, np.zeros(5), (64, 48))
    with pytest.raises(ValueError, match="^Renderer: image_size must not be empty"):
        synthetic.Renderer(target, CAMERA, np.zeros(5), (0, 48))
    with pytest.raises(ValueError, match="^exactPixelsPerMetre: a chessboard needs"):
        synthetic.Renderer(_vemo.ChessboardTarget((0, 4), 0.03), CAMERA, np.zeros(5), (64, 48))
    renderer = synthetic.Renderer(target, CAMERA, np.zeros(5), (64, 48))
    with pytest.raises(ValueError, match="^Renderer::render: camera_T_target must be 4x4"):
        renderer.render(np.eye(3))
    with pytest.raises(ValueError, match="^Renderer::render: camera_T_target must be finite"):
        renderer.render(np.eye(4) * np.nan)
    with pytest.raises(ValueError, match="^Renderer::render: supersampling"):
        renderer.render(np.eye(4), supersampling=0)
    with pytest.raises(ValueError, match="^Renderer::render: noise_sigma"):
        renderer.render(np.eye(4), noise_sigma=-1.0)
    with pytest.raises(ValueError, match="^boardImage: pixels_per_metre"):
        synthetic.board_image(target, 0.0)
    # Sizes that would overflow or exhaust memory, and separations OpenCV refuses.
    with pytest.raises(ValueError, match="^Renderer: image_size must not exceed 2\\^28 pixels"):
        synthetic.Renderer(target, CAMERA, np.zeros(5), (2**31 - 1, 1))
    with pytest.raises(ValueError, match="^Renderer::render: blur_sigma"):
        renderer.render(np.eye(4), blur_sigma=1e9)
    with pytest.raises(ValueError, match="^boardImage: an ArUco grid needs"):
        synthetic.board_image(_vemo.ArucoTarget((3, 2), 0.04, 0.0), 1000.0)
    with pytest.raises(ValueError, match="^GridBoard: a 51 x 1 grid takes 51 markers, dictionary 0 has 50$"):
        synthetic.board_image(_vemo.ArucoTarget((51, 1), 0.04, 0.01, 0), 1000.0)
    with pytest.raises(ValueError, match="^boardImage: markers would be smaller than"):
        synthetic.board_image(_vemo.CharucoTarget(5, 7, 0.04, 1e-9), 1000.0)
    for position, roll in (((math.nan, 0, -1), 0.0), ((0, 0, -1), math.nan)):
        with pytest.raises(ValueError, match="^cameraTTargetLookingAt: .* must be finite"):
            synthetic.camera_T_target_looking_at(target, position, roll)


def test_board_image_of_a_chessboard():
    target = _vemo.ChessboardTarget((5, 4), 0.02)
    sheet = synthetic.board_image(target, pixels_per_metre=1000.0)  # 20 px per square
    assert sheet.image.shape == ((4 + 3) * 20, (5 + 3) * 20, 3) and sheet.image.dtype == np.uint8
    # The first inner corner is two squares in from the sheet's edge, at a pixel boundary.
    np.testing.assert_allclose(sheet.pixel_from_target, [[1000, 0, 39.5], [0, 1000, 39.5]])
    grey = sheet.image[..., 0]
    for b in range(5):
        for a in range(6):
            row, col = 20 + 20 * b + 10, 20 + 20 * a + 10
            assert grey[row, col] == (0 if (a + b) % 2 == 0 else 255), (a, b)
    assert (grey[:20] == 255).all() and (grey[:, -20:] == 255).all()  # the margin
