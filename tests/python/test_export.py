"""`vemo export` and --export: every output read back by a reader that knows nothing of vemo
(cv2.FileStorage, yaml.safe_load, ast) and compared with the result file it came from."""

import ast
import json
import os

import _vemo as v
import cv2
import numpy as np
import pytest
import yaml
from quorvantine.vemo.cli import main
from quorvantine.vemo.scenes import make_hand_eye_scene, make_rig_scene

CHARUCO = ["--target", "charuco", "--squares-x", "7", "--squares-y", "5", "--square-size", "0.05",
           "--marker-size", "0.037", "--dictionary", "DICT_4X4_50"]


@pytest.fixture(scope="module")
def results(tmp_path_factory):
    """Result files of real runs (a rig, the intrinsics of its first camera, an eye-in-hand
    cell, each with --export), and an eye-to-hand file and a hand-eye file turned by 180
    degrees, saved by the library."""
    root = tmp_path_factory.mktemp("results")
    target = v.CharucoTarget(7, 5, 0.05, 0.037, "DICT_4X4_50")
    rig = make_rig_scene(target, num_cameras=2, frames=8, image_size=(640, 480), occluded={}, supersampling=1)
    for frame in range(8):
        v.io.save_multi_camera_capture(root / "rig", [images[frame] for images in rig.image_lists], frame)
    assert main(["rig", str(root / "rig"), *CHARUCO, "--refine", "--quiet", "--export", "ros-camera-info",
                 "--export", "opencv-yaml"]) == 0
    assert main(["intrinsic", str(root / "rig" / "cam_00"), *CHARUCO, "--quiet", "--output", str(root / "cam0"),
                 "--export", "ros-camera-info"]) == 0
    scene = make_hand_eye_scene(target, count=10, image_size=(640, 480), distance=0.4, seed=3)
    v.io.save_hand_eye_dataset(root / "cell", scene.images, scene.robot_T_tcp_list)
    assert main(["hand-eye", str(root / "cell"), *CHARUCO, "--method", "PARK", "--refine", "--quiet",
                 "--export", "tf-static", "--export", "ros2-launch"]) in (0, 3)

    record = v.io.EyeToHandResultRecord()
    record.base_T_camera = v.tf.pose_to_transformation_matrix([1.2, -0.3, 0.9, 170.0, 5.0, -95.0])
    record.tcp_T_target = v.tf.pose_to_transformation_matrix([0.0, 0.01, 0.12, 0.0, 0.0, 90.0])
    v.io.save_eye_to_hand_result(root / "fixed", record)
    half_turn = v.io.HandEyeResultRecord()
    half_turn.num_cameras = 1
    axis = np.array([1.0, -2.0, 0.5]) / np.linalg.norm([1.0, -2.0, 0.5])
    turned = np.eye(4)
    turned[:3, :3] = 2 * np.outer(axis, axis) - np.eye(3)  # 180 degrees about axis: w = 0
    turned[:3, 3] = [0.05, -0.02, 0.1]
    half_turn.tcp_T_camera_list = [turned]
    v.io.save_hand_eye_result(root / "half_turn", half_turn)
    return root


def export(result, to, output, *options):
    return main(["export", str(result), "--to", to, "--output", str(output), "--quiet", *options])


def matrix_of_quaternion(q):
    """The rotation of a unit quaternion {x, y, z, w}, written out term by term."""
    x, y, z, w = q["x"], q["y"], q["z"], q["w"]
    return np.array([[w * w + x * x - y * y - z * z, 2 * (x * y - w * z), 2 * (x * z + w * y)],
                     [2 * (x * y + w * z), w * w - x * x + y * y - z * z, 2 * (y * z - w * x)],
                     [2 * (x * z - w * y), 2 * (y * z + w * x), w * w - x * x - y * y + z * z]])


def assert_stamped(message, parent, child, matrix):
    assert message["header"]["frame_id"] == parent and message["child_frame_id"] == child
    translation, rotation = message["transform"]["translation"], message["transform"]["rotation"]
    assert rotation["w"] >= 0
    np.testing.assert_allclose([translation["x"], translation["y"], translation["z"]], matrix[:3, 3], rtol=0,
                               atol=1e-12)
    np.testing.assert_allclose(matrix_of_quaternion(rotation), matrix[:3, :3], rtol=0, atol=1e-12)


def test_tf_static_and_the_launch_file_give_back_every_transform(results, tmp_path):
    cell = json.loads((results / "cell" / "hand_eye.json").read_text())
    tcp_T_camera = np.array(cell["tcp_T_camera_list"][0])
    # Written by hand-eye --export beside its result file, with the default frames.
    message = yaml.safe_load((results / "cell" / "hand_eye_tf_static.yaml").read_text())
    assert_stamped(message, "tool0", "camera_optical_frame", tcp_T_camera)
    refined = json.loads((results / "cell" / "hand_eye_refined.json").read_text())
    both = yaml.safe_load((results / "cell" / "hand_eye_refined_tf_static.yaml").read_text())["transforms"]
    assert_stamped(both[0], "tool0", "camera_optical_frame", np.array(refined["tcp_T_camera"]))
    assert_stamped(both[1], "base_link", "calibration_target", np.array(refined["base_T_target"]))

    assert export(results / "half_turn" / "hand_eye.json", "tf-static", tmp_path / "turn.yaml") == 0
    turned = np.array(json.loads((results / "half_turn" / "hand_eye.json").read_text())["tcp_T_camera_list"][0])
    assert_stamped(yaml.safe_load((tmp_path / "turn.yaml").read_text()), "tool0", "camera_optical_frame", turned)

    fixed = json.loads((results / "fixed" / "eye_to_hand.json").read_text())
    assert export(results / "fixed" / "eye_to_hand.json", "tf-static", tmp_path / "fixed.yaml",
                  "--parent-frame", "world", "--child-frame", "cam") == 0
    first, second = yaml.safe_load((tmp_path / "fixed.yaml").read_text())["transforms"]
    assert_stamped(first, "world", "cam", np.array(fixed["base_T_camera"]))
    assert_stamped(second, "tool0", "calibration_target", np.array(fixed["tcp_T_target"]))

    rig = json.loads((results / "rig" / "multi_camera_calibration.json").read_text())
    assert export(results / "rig" / "multi_camera_calibration.json", "tf-static", tmp_path / "rig.yaml",
                  "--child-frame", "cam{index}_link") == 0
    assert_stamped(yaml.safe_load((tmp_path / "rig.yaml").read_text()), "cam0_link", "cam1_link",
                   np.array(rig["reference_T_camera_list"][1]))

    # The launch file: valid Python whose nodes carry the same numbers and frames.
    text = (results / "cell" / "hand_eye_refined_tf_static.launch.py").read_text()
    compile(text, "launch.py", "exec")
    nodes = [node for node in ast.walk(ast.parse(text))
             if isinstance(node, ast.Call) and getattr(node.func, "id", None) == "Node"]
    assert [ast.literal_eval(keyword.value) for node in nodes for keyword in node.keywords
            if keyword.arg in ("package", "executable")] == ["tf2_ros", "static_transform_publisher"] * 2
    for node, expected in zip(nodes, both):
        arguments = next(ast.literal_eval(keyword.value) for keyword in node.keywords if keyword.arg == "arguments")
        values = dict(zip(arguments[::2], arguments[1::2]))
        t, q = expected["transform"]["translation"], expected["transform"]["rotation"]
        assert {name: float(values["--" + name]) for name in ("x", "y", "z")} == t
        assert {name: float(values["--q" + name]) for name in ("x", "y", "z", "w")} == q
        assert (values["--frame-id"], values["--child-frame-id"]) == (expected["header"]["frame_id"],
                                                                      expected["child_frame_id"])


def test_opencv_yaml_holds_every_matrix_of_the_result_for_cv2_filestorage(results, tmp_path):
    for result, keys in ((results / "cam0" / "intrinsics.json", ("camera_matrix", "distortion_coefficients")),
                         (results / "cell" / "hand_eye_refined.json",
                          ("tcp_T_camera", "base_T_target", "intrinsic_matrix", "distortion_coefficients")),
                         (results / "rig" / "multi_camera_calibration_refined.json",
                          ("reference_T_camera_list", "intrinsic_matrices", "distortion_coefficients"))):
        output = tmp_path / (result.stem + ".yaml")
        if result.parent.name == "rig":
            output = results / "rig" / "multi_camera_calibration_refined_opencv.yaml"  # written by --export
        else:
            assert export(result, "opencv-yaml", output, "--image-size", "640x480") == 0
        saved = json.loads(result.read_text())
        storage = cv2.FileStorage(str(output), cv2.FILE_STORAGE_READ)
        assert (storage.getNode("image_width").real(), storage.getNode("image_height").real()) == (640, 480)
        for key in keys:
            node = storage.getNode(key)
            stored = [node.at(i).mat() for i in range(node.size())] if node.isSeq() else [node.mat()]
            expected = saved[key] if node.isSeq() else [saved[key]]
            assert len(stored) == len(expected)
            for matrix, values in zip(stored, expected):
                values = np.array(values, dtype=float)
                values = values.reshape(1, -1) if values.ndim == 1 else values
                np.testing.assert_allclose(matrix, values, rtol=0, atol=1e-12)
        storage.release()


def assert_camera_info(info, name, camera_matrix, coefficients):
    for field in ("image_width", "image_height", "camera_name", "camera_matrix", "distortion_model",
                  "distortion_coefficients", "rectification_matrix", "projection_matrix"):
        assert field in info
    for field, shape in (("camera_matrix", (3, 3)), ("rectification_matrix", (3, 3)), ("projection_matrix", (3, 4)),
                         ("distortion_coefficients", (1, len(coefficients)))):
        assert (info[field]["rows"], info[field]["cols"]) == shape
        assert len(info[field]["data"]) == shape[0] * shape[1]
    assert (info["image_width"], info["image_height"], info["camera_name"]) == (640, 480, name)
    assert info["distortion_model"] == {5: "plumb_bob", 8: "rational_polynomial"}[len(coefficients)]
    np.testing.assert_array_equal(np.reshape(info["camera_matrix"]["data"], (3, 3)), camera_matrix)
    np.testing.assert_array_equal(info["distortion_coefficients"]["data"], np.ravel(coefficients))


def test_camera_info_of_one_camera_and_the_rectified_pair_of_a_rig(results):
    saved = json.loads((results / "cam0" / "intrinsics.json").read_text())
    info = yaml.safe_load((results / "cam0" / "intrinsics_camera_info.yaml").read_text())
    assert_camera_info(info, "camera", saved["camera_matrix"], saved["distortion_coefficients"])
    np.testing.assert_array_equal(info["rectification_matrix"]["data"], np.eye(3).ravel())
    np.testing.assert_array_equal(np.reshape(info["projection_matrix"]["data"], (3, 4)),
                                  np.hstack([saved["camera_matrix"], np.zeros((3, 1))]))

    rig = json.loads((results / "rig" / "multi_camera_calibration.json").read_text())
    folder = results / "rig" / "multi_camera_calibration_camera_info"
    assert sorted(os.listdir(folder)) == ["camera_00.yaml", "camera_01.yaml"]
    infos = [yaml.safe_load((folder / f"camera_{index:02d}.yaml").read_text()) for index in range(2)]
    K = [np.array(matrix) for matrix in rig["intrinsic_matrices"]]
    D = [np.array(coefficients) for coefficients in rig["distortion_coefficients"]]
    for index, info in enumerate(infos):
        assert_camera_info(info, f"camera_{index:02d}", K[index], D[index])
    camera1_T_camera0 = np.linalg.inv(np.array(rig["reference_T_camera_list"][1]))
    R1, R2, P1, P2, _, _, _ = cv2.stereoRectify(K[0], D[0], K[1], D[1], (640, 480), camera1_T_camera0[:3, :3],
                                                camera1_T_camera0[:3, 3], flags=cv2.CALIB_ZERO_DISPARITY, alpha=-1.0)
    for info, R, P in ((infos[0], R1, P1), (infos[1], R2, P2)):
        np.testing.assert_allclose(np.reshape(info["rectification_matrix"]["data"], (3, 3)), R, rtol=0, atol=1e-12)
        np.testing.assert_allclose(np.reshape(info["projection_matrix"]["data"], (3, 4)), P, rtol=0, atol=1e-9)


def test_export_refuses_what_it_cannot_write_and_leaves_no_file(results, tmp_path, capsys):
    (tmp_path / "report.json").write_text(json.dumps({"command": "rig", "exit_code": 0}))
    (tmp_path / "broken.json").write_text("{")
    four = json.loads((results / "cam0" / "intrinsics.json").read_text())
    four["distortion_coefficients"] = four["distortion_coefficients"][:4]
    (tmp_path / "four.json").write_text(json.dumps(four))
    (tmp_path / "partial.json").write_text(json.dumps({"camera_matrix": np.eye(3).tolist()}))
    (tmp_path / "file").write_text("")
    intrinsics, hand_eye = results / "cam0" / "intrinsics.json", results / "cell" / "hand_eye.json"
    rig = results / "rig" / "multi_camera_calibration.json"
    cases = [
        (tmp_path / "missing.json", "tf-static", [], "export: cannot read "),
        (tmp_path / "broken.json", "tf-static", [], "is not a JSON result file"),
        (tmp_path / "report.json", "tf-static", [], "is not a vemo result file; expected intrinsics.json, "),
        (tmp_path / "partial.json", "opencv-yaml", [], "is not a complete result file: it lacks "
                                                       "'distortion_coefficients'"),
        (intrinsics, "ros-camera-info", ["--pair", "0,1"], "--pair chooses cameras of a rig"),
        (intrinsics, "tf-static", [], "export: intrinsics.json holds no transform to export"),
        (hand_eye, "ros-camera-info", [], "export: hand_eye.json holds no camera intrinsics for a ros-camera-info"),
        (rig, "ros-camera-info", [], "does not record the image size a camera_info needs: give --image-size"),
        (rig, "ros-camera-info", ["--image-size", "640x480", "--pair", "0,2"], "--pair names camera 2"),
        (rig, "tf-static", ["--child-frame", "cam"], "--child-frame needs {index} in it"),
        (tmp_path / "four.json", "ros-camera-info", [], "camera has 4 distortion coefficients; a ROS camera_info "
                                                        "takes 5 (plumb_bob) or 8 (rational_polynomial)"),
    ]
    for result, to, options, message in cases:
        assert export(result, to, tmp_path / "out" / "x.yaml", *options) == 2
        err = capsys.readouterr().err
        assert err.startswith("error: ") and message in err and "Traceback" not in err
    assert not (tmp_path / "out").exists()
    assert export(hand_eye, "tf-static", tmp_path / "file" / "x.yaml") == 2
    assert f"error: export: cannot write {tmp_path / 'file' / 'x.yaml'}: Not a directory" in capsys.readouterr().err
    K = np.array(json.loads(intrinsics.read_text())["camera_matrix"])
    for transform, size, message in ((np.eye(3), (640, 480), "rectifyStereoPair: expected a 4x4 second_T_first"),
                                     (np.eye(4), (0, 480), "rectifyStereoPair: the image size must be positive")):
        with pytest.raises(ValueError, match=message):
            v.stereo_rectify(K, np.zeros(5), K, np.zeros(5), size, transform)
    with pytest.raises(SystemExit):
        main(["export", str(hand_eye), "--to", "urdf", "--output", str(tmp_path / "x")])
    with pytest.raises(SystemExit):
        main(["intrinsic", str(tmp_path), *CHARUCO, "--export", "opencv-yaml"])
    assert capsys.readouterr().err.splitlines()[-1].endswith("--export needs --output")
    assert sorted(os.listdir(tmp_path)) == ["broken.json", "file", "four.json", "partial.json", "report.json"]
