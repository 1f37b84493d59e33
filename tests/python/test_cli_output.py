"""The command line's common output options (--report, --quiet, --plots, --version), the
intrinsic command and what a command says when the target is not found."""

import json
import math
import os
import stat

import _vemo as v
import matplotlib.image
import numpy as np
import pytest
from conftest import assert_is_a_picture
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_hand_eye_scene, make_rig_scene, render_orbit
from quorvantine.vemo.version import __version__

CHARUCO = ["--target", "charuco", "--squares-x", "7", "--squares-y", "5", "--square-size", "0.04",
           "--marker-size", "0.03", "--dictionary", "DICT_4X4_50"]


def charuco():
    return v.CharucoTarget(7, 5, 0.04, 0.03, "DICT_4X4_50")


def test_version(capsys):
    with pytest.raises(SystemExit) as exit_info:
        main(["--version"])
    assert exit_info.value.code == 0
    assert capsys.readouterr().out == f"python -m quorvantine.vemo {__version__}\n"


def test_intrinsic_command_on_png_and_jpeg_files(tmp_path, capsys):
    K = np.array([[600.0, 0, 322], [0, 598, 241], [0, 0, 1]])
    dist = np.array([[-0.12, 0.05, 0.0004, -0.0003, 0.0]])
    images = render_orbit(charuco(), K, dist, (640, 480), count=10, distance=0.5, pan_deg=8)
    (tmp_path / "png").mkdir()
    (tmp_path / "jpeg").mkdir()
    for index, image in enumerate(images):
        folder, extension = ("png", "png") if index < 6 else ("jpeg", "jpg")
        matplotlib.image.imsave(tmp_path / folder / f"view_{index}.{extension}", image[:, :, ::-1])

    code = main(["intrinsic", str(tmp_path / "png" / "*.png"), str(tmp_path / "jpeg"), *CHARUCO, "--quiet",
                 "--output", str(tmp_path / "out"), "--report", str(tmp_path / "report.json")])
    assert code == 0
    summary = capsys.readouterr().out
    assert summary.startswith("intrinsic: ok, 10 of 10 images; fx ") and summary.count("\n") == 1

    saved = json.loads((tmp_path / "out" / "intrinsics.json").read_text())
    assert list(saved) == ["camera_matrix", "distortion_coefficients", "image_size", "reprojection_error", "rms_px",
                           "per_view_errors", "image_count", "used_images", "library_version"]
    np.testing.assert_allclose(saved["camera_matrix"], K, rtol=0.01, atol=3)
    assert saved["image_size"] == [640, 480] and saved["image_count"] == 10 and saved["library_version"] == __version__
    assert saved["used_images"][0].endswith("view_0.png") and saved["used_images"][-1].endswith("view_9.jpg")

    # both error figures from the residuals of the same calibration
    calibrator = v.IntrinsicCalibrator(charuco())
    result = calibrator.calibrate(v.io.load_images([str(tmp_path / "png" / "*.png"), str(tmp_path / "jpeg")])[0])
    residuals = calibrator.reprojection_residuals(result.intrinsic_matrix, result.distortion_coefficients)
    squared = np.concatenate([np.sum(np.square(r), axis=1) for r in residuals])
    # OpenCV works out its per-view errors in single precision
    assert saved["rms_px"] == pytest.approx(math.sqrt(squared.mean()), rel=1e-4)
    assert saved["reprojection_error"] == pytest.approx(np.mean([np.linalg.norm(r) / len(r) for r in residuals]),
                                                        rel=1e-6)
    assert saved["rms_px"] > saved["reprojection_error"]

    report = json.loads((tmp_path / "report.json").read_text())
    assert (report["command"], report["exit_code"], report["library_version"]) == ("intrinsic", 0, __version__)
    assert report["rms_px"] == saved["rms_px"] and len(report["per_view_errors"]) == 10
    assert report["rms_px_means"].startswith("square root of the mean squared corner residual")


def test_missing_sizes_are_a_usage_error_and_no_detection_is_explained(tmp_path, capsys):
    with pytest.raises(SystemExit) as exit_info:
        main(["hand-eye", str(tmp_path), "--target", "charuco", "--squares-x", "7"])
    assert exit_info.value.code == 2
    assert "--target charuco needs --squares-y, --square-size, --marker-size" in capsys.readouterr().err

    blank = [np.full((120, 160, 3), 200, np.uint8)] * 3
    for index, image in enumerate(blank):
        matplotlib.image.imsave(tmp_path / f"blank_{index}.png", image)
    code = main(["intrinsic", str(tmp_path), "--target", "chessboard", "--cols", "7", "--rows", "5",
                 "--square-size", "0.02", "--report", str(tmp_path / "failed.json")])
    assert code == 1
    error = capsys.readouterr().err
    assert ("error: the target was not found in any of the 3 images; looked for a chessboard of 7 x 5 inner "
            "corners, 0.02 m squares. Check --target, --cols, --rows, --square-size.") in error
    assert json.loads((tmp_path / "failed.json").read_text())["exit_code"] == 1

    # A comparison in which no method solves is a failed run as well.
    v.io.save_hand_eye_dataset(tmp_path / "blank_data", [blank[0]] * 4, [np.eye(4)] * 4)
    assert main(["compare", str(tmp_path / "blank_data"), "--target", "chessboard", "--cols", "7", "--rows", "5",
                 "--square-size", "0.02", "--quiet"]) == 1
    assert capsys.readouterr().out == "compare: 0 of 5 methods solved on 4 captures\n"


def test_a_report_at_a_folder_or_under_a_plain_file_is_one_error_line_and_links_are_written_through(
        tmp_path, capsys):
    images = tmp_path / "images"
    images.mkdir()
    matplotlib.image.imsave(images / "blank.png", np.full((120, 160, 3), 200, np.uint8))

    def run(report):
        return main(["intrinsic", str(images), "--target", "chessboard", "--cols", "7", "--rows", "5",
                     "--square-size", "0.02", "--report", str(report)])

    (tmp_path / "folder").mkdir()
    (tmp_path / "plain").write_text("mine")
    before = sorted(tmp_path.rglob("*"))
    for report, reason in ((tmp_path / "folder", "Is a directory"), (tmp_path / "plain" / "report.json", "Not a directory")):
        assert run(report) == 2
        assert capsys.readouterr().err.splitlines()[-1] == f"error: cannot write the report {report}: {reason}"
        assert sorted(tmp_path.rglob("*")) == before and (tmp_path / "plain").read_text() == "mine"

    # A report through a symbolic link replaces the file it names; the link stays.
    (tmp_path / "link.json").symlink_to("plain")
    assert run(tmp_path / "link.json") == 1
    assert (tmp_path / "link.json").is_symlink() and json.loads((tmp_path / "plain").read_text())["exit_code"] == 1


def test_hand_eye_report_file_and_plots(tmp_path, capsys):
    scene = make_hand_eye_scene(charuco(), count=10, image_size=(800, 600), distance=0.4, seed=21)
    v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)
    code = main(["hand-eye", str(tmp_path / "data"), *CHARUCO, "--method", "PARK",
                 "--report", str(tmp_path / "report.json"), "--plots", str(tmp_path / "plots")])
    assert code == 0
    printed = capsys.readouterr().out
    assert "HAND-EYE RESULTS" in printed and f"plots: 5 PNG files in {tmp_path / 'plots'}" in printed

    report = json.loads((tmp_path / "report.json").read_text())
    saved = v.io.load_hand_eye_result(tmp_path / "data")
    assert (report["method"], report["captures_total"], report["captures_used"]) == ("PARK", 10, 10)
    np.testing.assert_array_equal(report["tcp_T_camera"], saved.tcp_T_camera_list[0])
    consistency = report["consistency"]
    assert len(consistency["per_capture"]) == 10
    assert f"  Translation - mean: {consistency['mean_translation_mm']:.4f} mm" in printed
    assert consistency["max_rotation_deg"] == pytest.approx(max(c["rotation_deg"] for c in consistency["per_capture"]))
    assert report["rotation_variety"]["num_motions"] == 9
    assert f"Reprojection Error: {report['intrinsics']['reprojection_error']:.4f} px" in printed
    # the run's own intrinsic calibration, as a calibration of its own finds it
    alone = v.IntrinsicCalibrator(charuco()).calibrate(scene.images)
    assert [view["rms_px"] for view in report["intrinsics"]["per_view_errors"]] == list(alone.per_view_errors)

    for name, size in (("coverage", (800, 680)), ("per_view_errors", (600, 400)), ("residuals", (1200, 1020)),
                       ("consistency", (600, 600)), ("rotation_axes", (600, 600))):
        assert_is_a_picture(tmp_path / "plots" / f"{name}.png", size)

    # with --refine, the refined transform and its uncertainty join the report
    assert main(["hand-eye", str(tmp_path / "data"), *CHARUCO, "--method", "PARK", "--refine", "--quiet",
                 "--output", str(tmp_path / "again"), "--report", str(tmp_path / "refined.json")]) == 0
    capsys.readouterr()
    refinement = json.loads((tmp_path / "refined.json").read_text())["refinement"]
    assert refinement["ok"] and len(refinement["sigma_translation_mm"]) == 3
    assert json.loads((tmp_path / "again" / "hand_eye_refined.json").read_text())["tcp_T_camera"] == \
        refinement["tcp_T_camera"]
    assert np.linalg.norm(np.subtract(refinement["tcp_T_camera"], report["tcp_T_camera"])[:3, 3]) < 0.002

    # the five solvers on the same data: each one's pose in the report, the picture of their spread
    assert main(["compare", str(tmp_path / "data"), *CHARUCO, "--quiet", "--plots", str(tmp_path / "compared"),
                 "--report", str(tmp_path / "compared.json")]) == 0
    quiet = capsys.readouterr()
    assert quiet.out == "compare: 5 of 5 methods solved on 10 captures\n"
    assert "[vemo][INFO]" not in quiet.err  # --quiet: warnings and errors only
    methods = json.loads((tmp_path / "compared.json").read_text())["methods"]
    assert sorted(methods) == ["ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"]
    np.testing.assert_allclose(methods["PARK"]["tcp_T_camera"], report["tcp_T_camera"], atol=1e-9)
    assert_is_a_picture(tmp_path / "compared" / "comparison.png", (800, 400))


def test_rig_coverage_per_camera_and_report(tmp_path, capsys):
    target = v.CharucoTarget(7, 5, 0.05, 0.037, "DICT_4X4_50")
    scene = make_rig_scene(target, num_cameras=2, frames=8, image_size=(640, 480), occluded={}, supersampling=1)
    for frame in range(8):
        v.io.save_multi_camera_capture(tmp_path / "data", [images[frame] for images in scene.image_lists], frame)
    code = main(["rig", str(tmp_path / "data"), "--squares-x", "7", "--squares-y", "5", "--square-size", "0.05",
                 "--marker-size", "0.037", "--dictionary", "DICT_4X4_50", "--quiet", "--plots", str(tmp_path / "p"),
                 "--report", str(tmp_path / "rig.json")])
    assert code == 0 and capsys.readouterr().out == "rig: ok, 2 of 2 cameras placed\n"
    report = json.loads((tmp_path / "rig.json").read_text())
    saved = json.loads((tmp_path / "data" / "multi_camera_calibration.json").read_text())
    assert report["reference_T_camera_list"] == saved["reference_T_camera_list"] and report["frames"] == 8
    for camera in (0, 1):
        assert_is_a_picture(tmp_path / "p" / f"cam_{camera:02d}_coverage.png", (800, 680))


@pytest.mark.parametrize("umask", [0o022, 0o077])
def test_written_files_get_the_mode_of_a_plain_create(tmp_path, capsys, umask):
    """Datasets and results (written by the library), report files (by the package) and
    pictures (by matplotlib): 0666 less the umask when new, their own mode when replaced."""
    scene = make_hand_eye_scene(charuco(), count=8, image_size=(640, 480), distance=0.4, seed=3)
    command = ["hand-eye", str(tmp_path / "data"), *CHARUCO, "--method", "PARK", "--quiet", "--output",
               str(tmp_path / "out"), "--report", str(tmp_path / "report.json"), "--plots", str(tmp_path / "plots")]
    previous = os.umask(umask)
    try:
        v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)
        assert main(command) == 0
        written = sorted(p for p in tmp_path.rglob("*") if p.is_file())
        assert {p.name for p in written} >= {"calibration_data.npz", "image_00.png", "hand_eye.json", "report.json",
                                             "coverage.png"}
        assert {p.relative_to(tmp_path): stat.S_IMODE(p.stat().st_mode) for p in written} == {
            p.relative_to(tmp_path): 0o666 & ~umask for p in written}

        kept = (tmp_path / "report.json", tmp_path / "out" / "hand_eye.json", tmp_path / "data" / "image_00.png")
        for path in kept:
            path.chmod(0o640)
        v.io.save_hand_eye_dataset(tmp_path / "data", scene.images, scene.robot_T_tcp_list)
        assert main(command) == 0
    finally:
        os.umask(previous)
    capsys.readouterr()
    assert [stat.S_IMODE(p.stat().st_mode) for p in kept] == [0o640] * 3
    assert not [p for p in tmp_path.rglob(".*") if p.is_file()], "no temporary file is left behind"
