"""`rig DATA_DIR` on a saved multi-camera capture directory."""

import json

import _vemo as v
import cv2
import numpy as np
import pytest
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_rig_scene, pose_error


def test_rig_command_calibrates_a_capture_directory(tmp_path, capsys):
    target = v.CharucoTarget(8, 6, 0.035, 0.026, "DICT_4X4_50")
    scene = make_rig_scene(target, num_cameras=2, frames=12, image_size=(960, 720), occluded={})
    for frame in range(12):
        v.io.save_multi_camera_capture(tmp_path / "data", [images[frame] for images in scene.image_lists], frame)

    code = main(["rig", str(tmp_path / "data"), "--squares-x", "8", "--squares-y", "6", "--square-size", "0.035",
                 "--marker-size", "0.026", "--dictionary", "DICT_4X4_50", "--reference", "1", "--subsets", "2"])
    assert code == 0
    out = capsys.readouterr().out
    assert "EXTRINSICS  -  reference_T_camera  (reference = cam_1)" in out
    assert out.endswith("SUBSET SUMMARY\n" + "=" * 90 + "\n" + out.rsplit("\n", 2)[-2] + "\n")
    assert out.rsplit("\n", 2)[-2].startswith("(cam_0, cam_1): ok=yes  plane_thickness_mm=")
    # Each camera's RMS is what OpenCV's own calibration of its corners returns, the stereo
    # RMS what the design's report gives as the pair's error.
    pair = v.MultiCameraCalibrator(target, 2, 1).calibrate(scene.image_lists).pair_reprojection_errors[0]
    capsys.readouterr()
    lines = []
    for camera, images in enumerate(scene.image_lists):
        found = v.IntrinsicCalibrator(target, v.MultiCameraCalibrator.default_options()).find_corners(images)
        rms = cv2.calibrateCamera([p.astype(np.float32) for p in found.object_points],
                                  [p.astype(np.float32) for p in found.image_points], (960, 720), None, None)[0]
        lines.append(f"  cam_{camera}: intrinsic {rms:.4f} px over all its corners"
                     + (f", stereo with the reference {pair:.4f} px\n" if camera == 0 else "\n"))
    assert ("\nReprojection RMS (the figure other tools report; the intrinsic RPE above is the mean per view of "
            "residual norm / corners):\n" + "".join(lines)) in out
    saved = json.loads((tmp_path / "data" / "multi_camera_calibration.json").read_text())
    assert saved["reference_index"] == 1 and saved["num_cameras"] == 2
    rotation_deg, translation_m = pose_error(np.array(saved["reference_T_camera_list"][0]),
                                             scene.reference_T_camera(1, 0))
    assert rotation_deg < 0.3 and translation_m < 0.003


def test_rig_command_refuses_what_it_cannot_use(tmp_path, capsys):
    (tmp_path / "cam_00").mkdir()
    assert main(["rig", str(tmp_path)]) == 2
    assert "holds 1 camera folders" in capsys.readouterr().err
    for sizes in ("2,x", "1,2"):
        with pytest.raises(SystemExit):
            main(["rig", str(tmp_path), "--subsets", sizes])
    with pytest.raises(SystemExit):
        main(["rig", "--help"])
    text = capsys.readouterr().out
    for option in ("--target", "--squares-x", "--reference", "--subsets", "--output"):
        assert option in text


def test_rig_refine_prints_the_bundle_adjustment_after_the_report_and_saves_it_beside(tmp_path, capsys):
    target = v.CharucoTarget(7, 5, 0.05, 0.037, "DICT_4X4_50")
    scene = make_rig_scene(target, num_cameras=2, frames=8, image_size=(640, 480), occluded={}, supersampling=1)
    for frame in range(8):
        v.io.save_multi_camera_capture(tmp_path / "data", [images[frame] for images in scene.image_lists], frame)
    arguments = ["rig", str(tmp_path / "data"), "--squares-x", "7", "--squares-y", "5", "--square-size", "0.05",
                 "--marker-size", "0.037", "--dictionary", "DICT_4X4_50"]
    with pytest.raises(SystemExit):
        main([*arguments, "--loss-scale", "2"])
    assert "--loss-scale needs --refine" in capsys.readouterr().err

    assert main([*arguments, "--refine", "--report", str(tmp_path / "rig.json")]) == 0
    out = capsys.readouterr().out
    design, refinement = out.split("\n" + "=" * 70 + "\nRIG BUNDLE ADJUSTMENT  (reference = cam_0)\n" + "=" * 70 + "\n")
    assert "TRIANGULATION VALIDATION" in design and "TRIANGULATION" not in refinement
    assert refinement.startswith("\nCost: Huber loss (scale ")
    assert ("px) of every corner's reprojection distance,\n  over every camera's intrinsics and pose and every frame's "
            "board pose\n  Scale chosen from the data: 1.345 x the corners' robust noise after a first fit at 1 px (")\
        in refinement
    pairwise = json.loads((tmp_path / "data" / "multi_camera_calibration.json").read_text())
    assert "refinement" not in pairwise and "sigma_translation_mm" not in pairwise
    refined = json.loads((tmp_path / "data" / "multi_camera_calibration_refined.json").read_text())
    report = json.loads((tmp_path / "rig.json").read_text())
    assert report["refinement"]["rms_after_px"] == refined["rms_after_px"] <= refined["rms_before_px"]
    assert f"{refined['rms_after_px']:.4f} px refined (8 frames, {refined['corner_count']} corners)" in refinement
    rotation_deg, translation_m = pose_error(np.array(refined["reference_T_camera_list"][1]),
                                             scene.reference_T_camera(0, 1))
    assert rotation_deg < 0.3 and translation_m < 0.003
