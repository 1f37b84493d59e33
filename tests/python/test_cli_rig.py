"""`rig DATA_DIR` on a saved multi-camera capture directory."""

import json

import _vemo as v
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
