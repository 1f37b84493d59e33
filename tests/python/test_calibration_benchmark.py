"""The calibration benchmark on rendered captures: cross-validation, the hand-eye round trip,
the run, the table and the JSON file."""

import json
import math
import re

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo.scenes import make_hand_eye_scene

TIMESTAMP = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}\+00:00")


@pytest.fixture(scope="module")
def scene():
    """Exact robot poses, so that the true hand-eye transform predicts every view."""
    target = v.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    return make_hand_eye_scene(target, count=8, image_size=(800, 600), distance=0.4, robot_noise_deg=0.0,
                               robot_noise_m=0.0, seed=4)


def test_round_trip_of_the_true_transform_is_near_zero_and_unusable_input_is_infinite(scene, capfd):
    benchmark = v.CalibrationBenchmark()
    args = (scene.tcp_T_camera, scene.camera_matrix, scene.dist_coeffs, scene.target)
    exact = benchmark.hand_eye_roundtrip(scene.images, scene.robot_T_tcp_list, *args, scene.camera_T_target_list)
    assert 0 < exact < 0.1  # what is left is the detection's own error
    # A hand-eye transform 2 mm off no longer closes the chain: the predictions scatter.
    shifted = scene.tcp_T_camera @ v.tf.pose_to_transformation_matrix([0.002, 0, 0, 0, 0, 0])
    moved = benchmark.hand_eye_roundtrip(scene.images, scene.robot_T_tcp_list, shifted, *args[1:],
                                         scene.camera_T_target_list)
    assert moved > 3 * exact
    capfd.readouterr()

    assert benchmark.hand_eye_roundtrip(scene.images, scene.robot_T_tcp_list[:4], *args,
                                        scene.camera_T_target_list[:3]) == math.inf
    assert capfd.readouterr().err == ("[vemo][WARNING] [Benchmark] hand_eye_roundtrip: camera_T_target_list missing  -  "
                                      "cannot recover base_T_board; skipping.\n")
    assert benchmark.hand_eye_roundtrip(scene.images, scene.robot_T_tcp_list, *args, []) == math.inf
    blank = [np.full_like(image, 128) for image in scene.images]
    assert benchmark.hand_eye_roundtrip(blank, scene.robot_T_tcp_list, *args, scene.camera_T_target_list) == math.inf
    assert capfd.readouterr().err.endswith("[vemo][WARNING] [Benchmark] hand_eye_roundtrip: no valid frames.\n")


def test_cross_validation_is_seeded_and_needs_four_training_images(scene, capfd):
    benchmark, options = v.CalibrationBenchmark(), v.IntrinsicOptions()
    held_out = benchmark.cross_validate(scene.images, scene.target, options, n_splits=4, seed=7)
    assert 0 < held_out < 0.2
    assert benchmark.cross_validate(scene.images, scene.target, options, n_splits=4, seed=7) == held_out
    capfd.readouterr()
    for images, splits in ((scene.images[:4], 5), (scene.images, 0)):
        assert benchmark.cross_validate(images, scene.target, options, n_splits=splits) == math.inf
        assert capfd.readouterr().err.endswith(
            "[vemo][WARNING] [Benchmark] cross_validate: no held-out errors computed.\n")
    with pytest.raises(TypeError):
        benchmark.cross_validate(scene.images, scene.target, options, seed=-1)
    # A negative count, or one fold holding every image out, is a mistake, not "no error computed".
    for splits in (-2, 1):
        message = re.escape(f"n_splits must be 0 (no folds) or at least 2, got {splits}")
        with pytest.raises(ValueError, match=rf"^CalibrationBenchmark::crossValidate: {message}$"):
            benchmark.cross_validate(scene.images, scene.target, options, n_splits=splits)
        with pytest.raises(ValueError, match=rf"^CalibrationBenchmark::run: {message}$"):
            benchmark.run(scene.images, scene.target, options, n_splits=splits)
    assert capfd.readouterr().err == ""  # refused before any work


def test_run_measures_the_backend_and_logs_one_summary_line(scene, capfd):
    benchmark, options = v.CalibrationBenchmark(), v.IntrinsicOptions()
    capfd.readouterr()
    result = benchmark.run(scene.images, scene.target, options, scene.robot_T_tcp_list, v.IntrinsicOptions(),
                           "rendered", n_splits=4, seed=7)
    err = capfd.readouterr().err
    full = v.IntrinsicCalibrator(scene.target, options).calibrate(scene.images)
    assert result.backend_name == "rendered" and result.image_count == 8
    assert result.reprojection_error == full.reprojection_error
    np.testing.assert_array_equal(result.camera_matrix, full.intrinsic_matrix)
    np.testing.assert_array_equal(result.dist_coeffs, full.distortion_coefficients)
    assert result.held_out_reprojection_error == benchmark.cross_validate(scene.images, scene.target, options, 4, 7)
    assert 0 < result.hand_eye_roundtrip_error < 0.2
    assert TIMESTAMP.fullmatch(result.timestamp)
    assert err.startswith("[vemo][INFO] [Benchmark] Running backend: rendered\n")
    assert err.endswith(f"[vemo][INFO] [Benchmark] rendered: rpe={result.reprojection_error:f}px  "
                        f"held-out={result.held_out_reprojection_error:f}px  "
                        f"roundtrip={result.hand_eye_roundtrip_error:f}\n")

    without_robot = benchmark.run(scene.images, scene.target, options, n_splits=4, seed=7)
    assert without_robot.hand_eye_roundtrip_error == -1
    assert capfd.readouterr().err.endswith("px  roundtrip=n/a\n")
    with pytest.raises(RuntimeError, match=r"^\[Benchmark\] blank calibration failed\.$"):
        benchmark.run([np.full_like(scene.images[0], 128)] * 5, scene.target, options, backend_name="blank")


def test_table_and_json_file(scene, tmp_path):
    benchmark, options = v.CalibrationBenchmark(), v.IntrinsicOptions()
    measured = benchmark.run(scene.images, scene.target, options, n_splits=4, seed=7)
    table = v.CalibrationBenchmark.format_results([measured])
    assert table.split("\n")[5] == (f"{'OpenCV':<28}{measured.reprojection_error:6.2f}"
                                    f"{measured.held_out_reprojection_error:6.2f}     -")

    path = tmp_path / "benchmark.json"
    v.CalibrationBenchmark.save_json([measured], str(path))
    document = json.loads(path.read_text(), object_pairs_hook=lambda pairs: pairs)
    assert [key for key, _ in document] == ["results", "run_timestamp"]
    assert TIMESTAMP.fullmatch(document[1][1])
    (entry,) = document[0][1]
    entry = dict(entry)
    assert list(entry) == ["backend_name", "camera_matrix", "dist_coeffs", "hand_eye_roundtrip_error",
                           "held_out_reprojection_error", "image_count", "reprojection_error", "timestamp"]
    assert entry["hand_eye_roundtrip_error"] is None
    assert entry["reprojection_error"] == round(measured.reprojection_error, 6)
    assert entry["held_out_reprojection_error"] == round(measured.held_out_reprojection_error, 6)
    assert entry["camera_matrix"] == measured.camera_matrix.tolist()
    assert entry["dist_coeffs"] == measured.dist_coeffs.ravel().tolist()
    assert entry["timestamp"] == measured.timestamp and entry["image_count"] == 8

    path.write_text("kept")
    with pytest.raises(RuntimeError, match=r"^\[Benchmark\] cannot open .*missing/benchmark\.json for writing$"):
        v.CalibrationBenchmark.save_json([measured], str(tmp_path / "missing" / "benchmark.json"))
    assert path.read_text() == "kept"
