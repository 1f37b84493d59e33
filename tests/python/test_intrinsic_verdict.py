"""The verdict on intrinsic calibrations: real photographs and rendered views are trusted; a
board layout given wrongly and a view taken over and over are named."""

import json
import math
import pathlib

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_hand_eye_scene

PHOTOS = pathlib.Path("/usr/share/doc/opencv-doc/examples/data")
TARGET = v.CharucoTarget(12, 9, 0.03, 0.022, "DICT_5X5_100")


@pytest.fixture(scope="module")
def views():
    return make_hand_eye_scene(TARGET, count=8, image_size=(1024, 768), distance=0.5, seed=3).images


def test_sound_calibrations_are_trusted(views):
    assert v.IntrinsicCalibrator(TARGET).calibrate(views).verdict.trusted
    names = [PHOTOS / f"left{k:02d}.jpg" for k in (1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14)]
    if not all(name.exists() for name in names):
        pytest.skip("OpenCV's sample photographs (Debian's opencv-doc) are not installed")
    images, _ = v.io.load_images([str(name) for name in names])
    result = v.IntrinsicCalibrator(v.ChessboardTarget((9, 6), 0.025)).calibrate(images)
    assert result.ok and result.verdict.trusted and result.verdict.reasons == []


def test_a_wrong_layout_is_named_with_the_layout_that_fits(views, tmp_path, capfd):
    # OpenCV 4.6 interpolates wrong corners for a wrong layout (a calibration many pixels
    # off), 4.7 on finds none: either way the layout that fits is named.
    for squares in [(9, 12), (11, 8), (13, 9)]:
        target = v.CharucoTarget(*squares, 0.03, 0.022, "DICT_5X5_100")
        result = v.IntrinsicCalibrator(target).calibrate(views)
        warning = (f"ChArUco markers do not fit a {squares[0]}x{squares[1]} board; they fit a 12x9 board "
                   "(squares_x x squares_y)")
        assert f"[vemo][WARNING] [IntrinsicCalibrator] {warning}\n" in capfd.readouterr().err
        if result.ok:
            assert not result.verdict.trusted and result.verdict.reasons[0] == warning
            # The RMS the reason states, over all corners, from the per-view errors.
            counts = np.array([len(points) for points in result.image_points])
            rms = math.sqrt(np.sum(np.array(result.per_view_errors) ** 2 * counts) / np.sum(counts))
            assert rms > 2 and result.verdict.reasons[1].startswith(f"the corners lie {rms:.2f} px (RMS)")

    v.io.save_hand_eye_dataset(tmp_path, views, [np.eye(4)] * len(views))
    report = tmp_path / "report.json"
    code = main(["intrinsic", str(tmp_path), "--squares-x", "9", "--squares-y", "12", "--square-size", "0.03",
                 "--marker-size", "0.022", "--dictionary", "DICT_5X5_100", "--report", str(report)])
    data = json.loads(report.read_text())
    assert "[IntrinsicCalibrator] ChArUco markers do not fit a 9x12 board; they fit a 12x9 board " \
           "(squares_x x squares_y)" in data["warnings"]
    if code == 3:
        assert "\nVerdict: NOT TRUSTED\n  - ChArUco markers do not fit a 9x12 board" in capfd.readouterr().out
        assert data["verdict"]["trusted"] is False and data["exit_code"] == 3
    else:
        assert code == 1 and data["exit_code"] == 1


def test_repeated_views_are_named_and_too_few_distinct_ones_untrusted(views, capfd):
    result = v.IntrinsicCalibrator(TARGET).calibrate([views[0]] * 3 + [views[1]] * 2)
    assert not result.verdict.trusted
    assert result.verdict.reasons == ["only 2 distinct views of the target (the others repeat them): a calibration "
                                      "needs at least 3"]
    err = capfd.readouterr().err
    assert "[vemo][WARNING] [IntrinsicCalibrator] images 1 and 2 repeat image 0: every corner within 0.5 px of it\n" in err
    assert "[vemo][WARNING] [IntrinsicCalibrator] image 4 repeats image 3: every corner within 0.5 px of it\n" in err
    assert v.IntrinsicCalibrator(TARGET).calibrate(views[:3] + [views[0]]).verdict.trusted
