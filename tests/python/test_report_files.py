"""The --report file of every command: one schema, units in the keys or beside them, one key
for one thing across the commands, the run's warnings; and the RMS line the reports print."""

import contextlib
import io
import json
import math
import re

import _vemo as v
import numpy as np
import pytest
from quorvantine.vemo import plots
from quorvantine.vemo.cli import main
from quorvantine.vemo.commands.benchmark import UNITS_LINE
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, make_rig_scene
from quorvantine.vemo.version import __version__

CHARUCO = ["--target", "charuco", "--squares-x", "7", "--squares-y", "5", "--square-size", "0.04",
           "--marker-size", "0.03", "--dictionary", "DICT_4X4_50"]
UNIT_SUFFIXES = ("_m", "_mm", "_deg", "_px", "_pose_xyz_m_rxyz_deg")
COUNTS = {"schema_version", "exit_code", "captures_total", "captures_used", "image_count", "corners", "num_motions",
          "iterations", "camera", "reference_index", "frames", "splits", "seed", "capture", "corner_count",
          "per_camera_corner_count"}


def charuco():
    return v.CharucoTarget(7, 5, 0.04, 0.03, "DICT_4X4_50")


def numeric(value) -> bool:
    if isinstance(value, list):
        return any(numeric(item) for item in value)
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def quantities(value, key=None):
    """(key, value) of every number or array of numbers at any depth, under its nearest key."""
    if isinstance(value, dict):
        for name, item in value.items():
            yield from quantities(item, name)
    elif isinstance(value, list) and not numeric(value):
        for item in value:
            yield from quantities(item, key)
    elif numeric(value):
        yield key, value


def pose_vectors(value):
    """(transform, pose vector) of every key that has a _pose_xyz_m_rxyz_deg twin."""
    if isinstance(value, dict):
        for name, item in value.items():
            if name.endswith("_pose_xyz_m_rxyz_deg") and item is not None:
                yield value[name[:-len("_pose_xyz_m_rxyz_deg")]], item
            else:
                yield from pose_vectors(item)
    elif isinstance(value, list):
        for item in value:
            yield from pose_vectors(item)


@pytest.fixture(scope="module")
def reports(tmp_path_factory):
    """Every command's --report file on small rendered scenes, with what each printed."""
    folder = tmp_path_factory.mktemp("reports")
    scene = make_hand_eye_scene(charuco(), count=8, image_size=(640, 480), distance=0.4, seed=3)
    v.io.save_hand_eye_dataset(folder / "data", scene.images, scene.robot_T_tcp_list)
    fixed = make_eye_to_hand_scene(charuco(), count=8, image_size=(640, 480), seed=4)
    v.io.save_hand_eye_dataset(folder / "fixed", fixed.images, fixed.robot_T_tcp_list)
    rig = make_rig_scene(v.CharucoTarget(7, 5, 0.05, 0.037, "DICT_4X4_50"), num_cameras=2, frames=6,
                         image_size=(640, 480), occluded={}, supersampling=1)
    for frame in range(6):
        v.io.save_multi_camera_capture(folder / "rig", [images[frame] for images in rig.image_lists], frame)
    v.io.save_hand_eye_dataset(folder / "blank", [np.full((480, 640, 3), 255, np.uint8)], [np.eye(4)])

    runs = {
        # a blank image: the target is not found, and the run warns
        "intrinsic": ["intrinsic", str(folder / "data" / "image_*.png"), str(folder / "blank" / "image_00.png"),
                      *CHARUCO],
        "hand-eye": ["hand-eye", str(folder / "data"), *CHARUCO, "--refine"],
        "eye-to-hand": ["eye-to-hand", str(folder / "fixed"), *CHARUCO],
        "compare": ["compare", str(folder / "data"), *CHARUCO],
        "benchmark": ["benchmark", str(folder / "data"), *CHARUCO, "--splits", "2",
                      "--output", str(folder / "bench.json")],
        "rig": ["rig", str(folder / "rig"), "--squares-x", "7", "--squares-y", "5", "--square-size", "0.05",
                "--marker-size", "0.037", "--dictionary", "DICT_4X4_50"],
    }
    results, printed = {}, {}
    for command, argv in runs.items():
        path = folder / f"{command}.json"
        out, err = io.StringIO(), io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = main([*argv, "--report", str(path)])
        results[command] = (code, json.loads(path.read_text()))
        printed[command] = (out.getvalue(), err.getvalue())
    return scene, results, printed


def test_every_report_has_the_schema_units_and_one_key_per_thing(reports):
    _, results, _ = reports
    for command, (code, report) in results.items():
        assert list(report)[:5] == ["schema", "schema_version", "command", "exit_code", "library_version"], command
        assert (report["schema"], report["schema_version"], report["command"], report["exit_code"],
                report["library_version"]) == ("vemo-report", 1, command, code, __version__)
        assert list(report)[-2:] == ["warnings", "units"] and isinstance(report["warnings"], list)
        for key, _ in quantities(report):
            assert key.endswith(UNIT_SUFFIXES) or "_T_" in key or key in report["units"] or key in COUNTS, \
                (command, key)
        for matrix, pose in pose_vectors(report):
            np.testing.assert_allclose(pose, v.tf.transformation_matrix_to_pose(np.array(matrix)), atol=1e-12)

    # One camera model, under one name, wherever a command calibrated it from these images
    intrinsic, hand_eye, benchmark = (results[name][1] for name in ("intrinsic", "hand-eye", "benchmark"))
    (bench,) = benchmark["results"]
    for model in (hand_eye["intrinsics"], bench):
        np.testing.assert_allclose(model["intrinsic_matrix"], intrinsic["intrinsic_matrix"], rtol=1e-9)
        np.testing.assert_allclose(model["distortion_coefficients"], intrinsic["distortion_coefficients"], atol=1e-9)
        assert model["reprojection_error"] == pytest.approx(intrinsic["reprojection_error"], rel=1e-9)
    with open(benchmark["benchmark_file"]) as saved:
        assert json.load(saved)["results"][0]["camera_matrix"] == bench["intrinsic_matrix"]
    assert hand_eye["refinement"]["ok"] and len(hand_eye["refinement"]["sigma_translation_mm"]) == 3
    assert set(hand_eye["refinement"]) >= {"tcp_T_camera", "tcp_T_camera_pose_xyz_m_rxyz_deg", "intrinsic_matrix"}
    assert set(results["eye-to-hand"][1]) >= {"base_T_camera", "tcp_T_target", "intrinsics", "verdict"}

    compare = results["compare"][1]
    tsai = compare["methods"]["TSAI"]
    np.testing.assert_allclose(tsai["tcp_T_camera"], hand_eye["tcp_T_camera"], atol=1e-9)
    assert tsai["pose_deg"] == tsai["tcp_T_camera_pose_xyz_m_rxyz_deg"]  # metres, whatever the old name says
    assert set(tsai["consistency"]) == set(hand_eye["consistency"]) and set(tsai["verdict"]) == {
        "trusted", "reasons", "suspects"}
    assert compare["captures_total"] == 8 and sorted(compare["trusted_methods"]) == sorted(
        name for name, method in compare["methods"].items() if method["verdict"]["trusted"])

    rig = results["rig"][1]
    for camera, entry in enumerate(rig["cameras"]):
        assert entry["camera"] == camera and entry["intrinsic_matrix"] == rig["intrinsic_matrices"][camera]
        assert entry["reference_T_camera"] == rig["reference_T_camera_list"][camera]
        assert entry["pair_reprojection_error"] == rig["pair_reprojection_errors"][camera]


def test_a_report_holds_the_warnings_of_its_run(reports):
    _, results, printed = reports
    report = results["intrinsic"][1]
    assert report["image_count"] == 9 and len(report["used_images"]) == 8
    # each line as standard error showed it, the blank image's among them
    assert report["warnings"] and all(f"[vemo][WARNING] {line}\n" in printed["intrinsic"][1]
                                      for line in report["warnings"])
    assert "[CharucoIntrinsicCalibrator] Not enough ChArUco corners in image 8" in report["warnings"]


def test_compare_measures_from_the_median_its_text_gives(reports):
    _, results, _ = reports
    compare = results["compare"][1]
    poses = {name: np.array(method["tcp_T_camera"]) for name, method in compare["methods"].items()}
    agreement = compare["agreement"]
    median_translation = np.median([pose[:3, 3] for pose in poses.values()], axis=0)
    np.testing.assert_allclose(np.array(agreement["median_tcp_T_camera"])[:3, 3], median_translation, atol=1e-12)
    translations_mm, rotations_deg = plots.comparison_deviations(poses, agreement["median_tcp_T_camera"])
    deviations = {d["method"]: d for d in agreement["deviations"]}
    for name, translation_mm, rotation_deg in zip(poses, translations_mm, rotations_deg):
        assert translation_mm == pytest.approx(1000 * np.linalg.norm(poses[name][:3, 3] - median_translation),
                                               abs=1e-9)
        assert translation_mm == pytest.approx(deviations[name]["translation_mm"], abs=1e-9)
        assert rotation_deg == pytest.approx(deviations[name]["rotation_deg"], abs=1e-5)
    np.testing.assert_allclose(plots.median_pose(list(poses.values())), agreement["median_tcp_T_camera"], atol=1e-9)


def test_the_reports_print_the_rms_over_all_corners_and_the_benchmark_its_units(reports):
    scene, _, printed = reports
    calibrator = v.IntrinsicCalibrator(charuco())
    result = calibrator.calibrate(scene.images)
    residuals = calibrator.reprojection_residuals(result.intrinsic_matrix, result.distortion_coefficients)
    squared = np.concatenate([np.sum(np.square(r), axis=1) for r in residuals])
    for command in ("intrinsic", "hand-eye"):
        out = printed[command][0]
        rms, corners, views = re.search(
            r"\nReprojection RMS: (\S+) px over all (\d+) corners of (\d+) views \(the RMS other tools report; the "
            r"Reprojection Error above is the mean per view of residual norm / corners\)\n", out).groups()
        assert float(rms) == pytest.approx(math.sqrt(squared.mean()), abs=6e-5)
        assert (int(corners), int(views)) == (len(squared), len(residuals))
    hand_eye = printed["hand-eye"][0]
    assert hand_eye.index("Verdict:") < hand_eye.index("Reprojection RMS:") < hand_eye.index("HAND-EYE REFINEMENT")

    lines = printed["benchmark"][0].splitlines()
    assert lines[-2:] == ["-" * 64, UNITS_LINE]
    assert UNITS_LINE == ("RPE, Held and RT in px, each the mean per view of (residual norm / corners): RPE of the "
                          "full calibration, Held of the views held out by the cross-validation, RT of the views "
                          "predicted through the hand-eye result (- not measured)")
