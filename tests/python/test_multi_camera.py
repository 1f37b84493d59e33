"""MultiCameraCalibrator on rendered rigs: poses recovered, the triangulation check, the
report and where it goes, camera subsets, the saved record and the caller errors."""

import contextlib
import io
import itertools
import math
import sys

import numpy as np
import pytest

import _vemo as v
from quorvantine.vemo.scenes import make_rig_scene, pose_error

SQUARE = 0.03
CHARUCO = v.CharucoTarget(10, 7, SQUARE, 0.022, "DICT_5X5_100")
RULE70, RULE90 = "=" * 70, "=" * 90
# Pose tolerances; measured worst cases on these scenes are in the branch notes.
MAX_TRANSLATION_M, MAX_ROTATION_DEG = 0.0015, 0.15


@pytest.fixture(scope="module")
def rig():
    """3 cameras, 18 frames: camera 1 misses frame 5, cameras 2 and 0 see half of frames 9 and 12."""
    return make_rig_scene(CHARUCO, num_cameras=3, frames=18)


def calibrate_quietly(calibrator, *args, **kwargs):
    with contextlib.redirect_stdout(io.StringIO()) as report:
        result = calibrator.calibrate(*args, **kwargs)
    return result, report.getvalue()


@pytest.mark.parametrize("reference", [0, 1])
@pytest.mark.parametrize("flags", [v.CALIB_FIX_INTRINSIC, v.CALIB_USE_INTRINSIC_GUESS])
def test_rig_poses_and_the_triangulation_check(rig, reference, flags, capfd):
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3, reference, stereo_calibrate_flags=flags)
    result, report = calibrate_quietly(calibrator, rig.image_lists)
    assert result.ok and result.reference_index == reference
    for camera in range(3):
        rotation_deg, translation_m = pose_error(result.reference_T_camera_list[camera],
                                                 rig.reference_T_camera(reference, camera))
        assert rotation_deg < MAX_ROTATION_DEG and translation_m < MAX_TRANSLATION_M, (camera, rotation_deg,
                                                                                       translation_m)
    np.testing.assert_array_equal(result.reference_T_camera_list[reference], np.eye(4))
    assert math.isnan(result.pair_reprojection_errors[reference])

    err = capfd.readouterr().err
    # Camera 1 misses frame 5; the half views still share 15 corners or more with the reference.
    assert "[vemo][WARNING] [CharucoIntrinsicCalibrator] Not enough ChArUco corners in image 5\n" in err
    for camera in {0, 1, 2} - {reference}:
        pair = next(line for line in err.splitlines() if f"Stereo pair (ref={reference}, cam={camera})" in line)
        frames = 17 if 1 in (camera, reference) else 18
        assert pair == (f"[vemo][INFO] [MultiCameraCalibrator] Stereo pair (ref={reference}, cam={camera}): RMS error "
                        f"{result.pair_reprojection_errors[camera]:f}px over {frames} frames")

    single = v.IntrinsicCalibrator(CHARUCO, v.MultiCameraCalibrator.default_options()).calibrate(rig.image_lists[2])
    if flags == v.CALIB_FIX_INTRINSIC:
        np.testing.assert_array_equal(result.intrinsic_matrices[2], single.intrinsic_matrix)
        assert result.intrinsic_reprojection_errors[2] == single.reprojection_error
    else:
        assert not np.array_equal(result.intrinsic_matrices[2], single.intrinsic_matrix)
        assert all(d.shape == (1, 5) for d in result.distortion_coefficients)

    # The check on frame 0, recomputed here from its points.
    check = calibrator.triangulate(rig.image_lists, 0)
    points = check.points_3d
    assert points.shape == (54, 3) and check.ids.ravel().tolist() == list(range(54))
    centred = points - points.mean(axis=0)
    thickness = np.linalg.svd(centred, compute_uv=False)[2]
    assert check.plane_thickness_m == pytest.approx(thickness, rel=1e-9)
    assert thickness / math.sqrt(len(points)) < 0.0005
    grid = points.reshape(6, 9, 3)
    neighbours = np.concatenate([np.linalg.norm(np.diff(grid, axis=1), axis=2).ravel(),
                                 np.linalg.norm(np.diff(grid, axis=0), axis=2).ravel()])
    assert sorted(check.neighbor_distances_m) == pytest.approx(sorted(neighbours), abs=1e-12)
    assert abs(np.median(neighbours) - SQUARE) < 0.01 * SQUARE
    assert min(check.counts_per_camera) >= 50 and max(check.rms_per_camera) < 0.5
    # rig frame = reference camera frame: the points lie where the truth puts the board
    board_in_reference = np.linalg.inv(rig.rig_T_camera_list[reference]) @ rig.rig_T_target_list[0]
    assert np.linalg.norm(points.mean(axis=0) - (board_in_reference @ np.append(points_mean_board(), 1))[:3]) < 0.002
    assert f"  Co-planarity (3rd SV):  {1000 * thickness:g} mm\n" in report


def points_mean_board():
    """Mean of the 9 x 6 inner corners of the board, board frame."""
    return np.array([5 * SQUARE, 3.5 * SQUARE, 0.0])


def test_chessboard_rig_pairs_by_position():
    board = v.ChessboardTarget((7, 5), 0.035)
    scene = make_rig_scene(board, num_cameras=2, frames=16, occluded={})
    calibrator = v.MultiCameraCalibrator(board, 2)
    result, report = calibrate_quietly(calibrator, scene.image_lists)
    assert result.ok
    rotation_deg, translation_m = pose_error(result.reference_T_camera_list[1], scene.reference_T_camera(0, 1))
    assert rotation_deg < MAX_ROTATION_DEG and translation_m < MAX_TRANSLATION_M, (rotation_deg, translation_m)
    assert "TRIANGULATION" not in report
    with pytest.raises(ValueError, match="^MultiCameraCalibrator::triangulate requires a CharucoTarget$"):
        calibrator.triangulate(scene.image_lists)


def test_report_layout_before_any_run_and_where_reports_go(capfd):
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3, 1)
    expected = f"\n{RULE70}\nPER-CAMERA INTRINSICS\n{RULE70}\n"
    for camera in range(3):
        expected += f"\n[cam_{camera}]  intrinsic RPE: nan px\nK =\n[]\nd = []\n"
    expected += f"\n{RULE70}\nEXTRINSICS  -  reference_T_camera  (reference = cam_1)\n{RULE70}\n"
    expected += "\n[cam_0]  FAILED  -  too few shared detections with cam_1\n"
    expected += "\n[cam_1]  identity (reference)\n"
    expected += "\n[cam_2]  FAILED  -  too few shared detections with cam_1\n"
    assert calibrator.format_results() == expected

    # Every report of the module goes through sys.stdout, flushed, not to the C stream.
    eye_in_hand = v.EyeInHandCalibrator(CHARUCO)
    with contextlib.redirect_stdout(io.StringIO()) as captured:
        print("before", flush=True)
        calibrator.print_results()
        eye_in_hand.print_results()
        print("after")
    assert captured.getvalue() == "before\n" + expected + eye_in_hand.format_results() + "after\n"
    assert capfd.readouterr().out == ""


def test_runs_start_from_a_cleared_result_and_save_the_record(rig, tmp_path, monkeypatch, capfd):
    images = [frames[:8] for frames in rig.image_lists]
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3)
    monkeypatch.chdir(tmp_path)
    first, _ = calibrate_quietly(calibrator, images, rig.camera_matrices, rig.dist_coeffs,
                                 output_path=tmp_path / "out" / "rig.json")
    assert first.ok and all(math.isnan(e) for e in first.intrinsic_reprojection_errors)
    saved = v.io.load_multi_camera_calibration(tmp_path / "out" / "rig.json")
    assert (saved.reference_index, saved.num_cameras) == (0, 3)
    for stored, returned in zip(saved.reference_T_camera_list, first.reference_T_camera_list):
        np.testing.assert_array_equal(stored, returned)
    assert saved.pair_reprojection_errors[1:] == first.pair_reprojection_errors[1:]

    # Camera 2 now sees the board in frames 0 to 2 only: its pair is skipped, and the pose of
    # the first run must not survive into this one.
    grey = np.full_like(images[2][0], 128)
    images[2] = images[2][:3] + [grey] * 5
    capfd.readouterr()
    second, report = calibrate_quietly(calibrator, images, rig.camera_matrices, rig.dist_coeffs)
    assert not second.ok
    assert second.reference_T_camera_list[2].shape == (0, 0) and math.isnan(second.pair_reprojection_errors[2])
    assert ("[vemo][ERROR] [MultiCameraCalibrator] Only 3 shared detections between reference camera 0 and camera 2; "
            "skipping pair.\n") in capfd.readouterr().err
    assert "[cam_2]  FAILED  -  too few shared detections with cam_0\n" in report
    assert "TRIANGULATION" not in report
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out"]  # no output_path: nothing saved
    with pytest.raises(RuntimeError, match=r"^MultiCameraCalibrator: run calibrate\(\) before triangulate\(\)\.$"):
        calibrator.triangulate(images)


def test_subsets_in_lexicographic_order_with_the_summary(rig, capfd):
    images = [frames[:8] for frames in rig.image_lists]
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3, 1)
    with contextlib.redirect_stdout(io.StringIO()):
        subsets = calibrator.calibrate_subsets(images, [2, 5, 3])
    err = capfd.readouterr().err
    assert err.count("[vemo][INFO] Calibrating subset of size 2\n") == 3
    assert err.count("[vemo][INFO] Calibrating subset of size 3\n") == 1
    assert "[vemo][WARNING] Skipping subsets of size 5: only 3 cameras.\n" in err
    assert [s.subset for s in subsets] == [[0, 1], [0, 2], [1, 2], [0, 1, 2]]
    whole = subsets[-1]
    assert whole.result.reference_index == 0 and whole.has_triangulation
    np.testing.assert_array_equal(whole.result.reference_T_camera_list[0], np.eye(4))
    # the pair (1, 2) as its own rig: camera 2 in camera 1's frame
    rotation_deg, translation_m = pose_error(subsets[2].result.reference_T_camera_list[1], rig.reference_T_camera(1, 2))
    assert rotation_deg < 3 * MAX_ROTATION_DEG and translation_m < 3 * MAX_TRANSLATION_M
    summary = calibrator.format_results().split(f"{RULE90}\nSUBSET SUMMARY\n{RULE90}\n")[1]
    assert summary == "".join(
        f"({', '.join(f'cam_{c}' for c in s.subset)}): ok=yes  plane_thickness_mm={1000 * s.triangulation.plane_thickness_m:g}\n"
        for s in subsets)

    with pytest.raises(ValueError, match="^MultiCameraCalibrator::calibrateSubsets: subset sizes must be >= 1, got 0$"):
        calibrator.calibrate_subsets(images, [2, 0])
    assert capfd.readouterr().err == ""  # refused before anything ran
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: num_cameras must be >= 2, got 1$"):
        calibrator.calibrate_subsets(images, [1])
    assert calibrator.format_results().endswith(summary)  # a refused call keeps the last list


def assert_same_subset(entry, subset, result, triangulation):
    assert entry.subset == list(subset)
    for name in ("ok", "reference_index", "intrinsic_reprojection_errors", "pair_reprojection_errors"):
        np.testing.assert_array_equal(getattr(entry.result, name), getattr(result, name), err_msg=name)
    for name in ("reference_T_camera_list", "intrinsic_matrices", "distortion_coefficients"):
        for ours, theirs in zip(getattr(entry.result, name), getattr(result, name), strict=True):
            np.testing.assert_array_equal(ours, theirs, err_msg=name)
    assert entry.has_triangulation == (triangulation is not None)
    if triangulation is not None:
        for name in ("frame_index", "points_3d", "ids", "neighbor_distances_m", "plane_thickness_m", "rms_per_camera",
                     "counts_per_camera"):
            np.testing.assert_array_equal(getattr(entry.triangulation, name), getattr(triangulation, name),
                                          err_msg=name)


def test_subsets_share_each_cameras_work_yet_match_separate_rigs(rig, capfd):
    """calibrate_subsets against calibrating and triangulating every combination with a
    calibrator of its own: equal results, the same reports and the same log lines."""
    images = [list(frames[:8]) for frames in rig.image_lists]
    blank = np.full_like(images[2][1], 128)
    images[2][1] = blank  # camera 2 misses frame 1, the triangulated one
    capfd.readouterr()
    with contextlib.redirect_stdout(io.StringIO()) as reports:
        subsets = v.MultiCameraCalibrator(CHARUCO, 3, 2).calibrate_subsets(images, [2, 3], 1)
    err = capfd.readouterr().err

    separate_reports, separate_err = io.StringIO(), ""
    combinations = [c for size in (2, 3) for c in itertools.combinations(range(3), size)]
    assert len(subsets) == len(combinations)
    for entry, subset in zip(subsets, combinations):
        separate_err += f"[vemo][INFO] Calibrating subset of size {len(subset)}\n"
        alone = v.MultiCameraCalibrator(CHARUCO, len(subset))
        lists = [images[c] for c in subset]
        with contextlib.redirect_stdout(separate_reports):
            result = alone.calibrate(lists)
        try:
            triangulation = alone.triangulate(lists, 1)
        except RuntimeError as error:
            triangulation = None
            print(f"[vemo][WARNING] Triangulation failed for subset: {error}", file=sys.stderr)
        separate_err += capfd.readouterr().err
        assert_same_subset(entry, subset, result, triangulation)
    assert [s.has_triangulation for s in subsets] == [True, False, False, True]
    assert "[vemo][WARNING] cam_1: detection failed on frame 1\n" in err
    assert "[vemo][WARNING] cam_2: detection failed on frame 1\n" in err
    assert err == separate_err
    assert reports.getvalue() == separate_reports.getvalue()

    # A camera whose intrinsics fail stops the call where the separate rigs stop.
    images[2] = [blank] * 8
    with contextlib.redirect_stdout(io.StringIO()) as reports:
        with pytest.raises(RuntimeError, match=r"^\[MultiCameraCalibrator\] Intrinsic calibration failed for camera 1$"):
            v.MultiCameraCalibrator(CHARUCO, 3).calibrate_subsets(images, [2])
    err = capfd.readouterr().err
    with contextlib.redirect_stdout(io.StringIO()) as separate_reports:
        for subset in ((0, 1), (0, 2)):
            print("[vemo][INFO] Calibrating subset of size 2", file=sys.stderr, flush=True)
            alone = v.MultiCameraCalibrator(CHARUCO, 2)
            with contextlib.suppress(RuntimeError):
                alone.calibrate([images[c] for c in subset])
                alone.triangulate([images[c] for c in subset], 0)
    assert err == capfd.readouterr().err
    assert reports.getvalue() == separate_reports.getvalue()


def test_caller_errors():
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: num_cameras must be >= 2, got 1$"):
        v.MultiCameraCalibrator(CHARUCO, 1)
    for reference in (3, -1):
        with pytest.raises(ValueError, match="^MultiCameraCalibrator: reference_index out of range for 3 cameras$"):
            v.MultiCameraCalibrator(CHARUCO, 3, reference)
    calibrator = v.MultiCameraCalibrator(CHARUCO, 2)
    frame = np.zeros((48, 64, 3), np.uint8)
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: expected 2 image lists, got 1$"):
        calibrator.calibrate([[frame]])
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: all cameras must have the same number of frames$"):
        calibrator.calibrate([[frame], [frame, frame]])
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: empty image lists$"):
        calibrator.calibrate([[], []])
    with pytest.raises(ValueError, match="^MultiCameraCalibrator: expected 2 intrinsic matrices/distortion"):
        calibrator.calibrate([[frame], [frame]], [np.eye(3)], [np.zeros(5)])
    with pytest.raises(RuntimeError, match="^\\[MultiCameraCalibrator\\] Intrinsic calibration failed for camera 0$"):
        calibrate_quietly(calibrator, [[frame], [frame]])

    options = v.MultiCameraCalibrator.default_options()
    assert (options.criteria.type, options.criteria.max_count, options.criteria.epsilon) == (3, 30, 1e-6)
    assert options.per_view_error_threshold == 3.0
    assert (v.CALIB_FIX_INTRINSIC, v.CALIB_USE_INTRINSIC_GUESS) == (256, 1)
    assert calibrator.num_cameras() == 2 and calibrator.reference_index() == 0
    assert isinstance(calibrator.target(), v.CharucoTarget)
    assert not calibrator.last_result().ok


def test_triangulate_rejects_frames_and_lists_it_does_not_have(rig):
    images = [frames[:6] for frames in rig.image_lists]
    calibrator = v.MultiCameraCalibrator(CHARUCO, 3)
    calibrate_quietly(calibrator, images, rig.camera_matrices, rig.dist_coeffs)
    with pytest.raises(ValueError, match="frame_index 6 out of range for camera 0 with 6 frames"):
        calibrator.triangulate(images, 6)
    with pytest.raises(ValueError, match="frame_index -1 out of range"):
        calibrator.triangulate(images, -1)
    with pytest.raises(ValueError, match="expected 3 image lists, got 2"):
        calibrator.triangulate(images[:2], 0)
    # Camera 1 blind in frame 3: the other two still triangulate it
    images[1][3] = np.full_like(images[1][3], 128)
    check = calibrator.triangulate(images, 3)
    assert check.counts_per_camera[1] == 0 and math.isnan(check.rms_per_camera[1])
