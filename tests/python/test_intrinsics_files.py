"""Reading camera intrinsics from intrinsics.json, ROS camera_info and OpenCV FileStorage YAML."""

import numpy as np
import pytest
from quorvantine.vemo.commands.common_options import write_json
from quorvantine.vemo.exports import export_files, load_result
from quorvantine.vemo.intrinsics_files import check_image_size, read_intrinsics

CAMERA_MATRIX = np.array([[612.25, 0.0, 318.125], [0.0, 613.5, 241.0625], [0.0, 0.0, 1.0]])


@pytest.mark.parametrize("coefficients", [[-0.081, 0.062, 0.00041, -0.00032, -0.0101],
                                          [-0.081, 0.062, 0.00041, -0.00032, -0.0101, 0.0021, -0.0013, 0.0007]])
def test_each_file_kind_reads_back_what_was_written(tmp_path, coefficients):
    json_path = tmp_path / "intrinsics.json"
    write_json(json_path, {"camera_matrix": CAMERA_MATRIX, "distortion_coefficients": coefficients,
                           "image_size": [640, 480], "rms_px": 0.2})
    result = load_result(str(json_path))
    paths = [json_path]
    for format_name, name in (("ros-camera-info", "camera_info.yaml"), ("opencv-yaml", "opencv.yaml")):
        (text_name, text), = export_files(result, format_name)
        (tmp_path / name).write_text(text)
        paths.append(tmp_path / name)
    for path in paths:
        intrinsics = read_intrinsics(str(path))
        assert intrinsics.camera_matrix.dtype == np.float64 and intrinsics.dist_coeffs.dtype == np.float64
        np.testing.assert_array_equal(intrinsics.camera_matrix, CAMERA_MATRIX, err_msg=str(path))
        np.testing.assert_array_equal(intrinsics.dist_coeffs, [coefficients], err_msg=str(path))
        assert intrinsics.image_size == (640, 480) and intrinsics.path == str(path)


def test_hand_written_files_as_opencv_and_ros_write_them(tmp_path):
    # cv::FileStorage's own layout: the data wrapped over lines, the alternative key names.
    (tmp_path / "fs.yml").write_text(
        "%YAML:1.0\n---\nintrinsic_matrix: !!opencv-matrix\n   rows: 3\n   cols: 3\n   dt: d\n"
        "   data: [ 6.1225e+02, 0., 3.18125e+02, 0., 6.135e+02,\n       2.410625e+02, 0., 0., 1. ]\n"
        "dist_coeffs: !!opencv-matrix\n   rows: 4\n   cols: 1\n   dt: d\n   data: [ -0.1, 0.01, 0., 0. ]\n")
    from_storage = read_intrinsics(str(tmp_path / "fs.yml"))
    np.testing.assert_array_equal(from_storage.camera_matrix, CAMERA_MATRIX)
    np.testing.assert_array_equal(from_storage.dist_coeffs, [[-0.1, 0.01, 0.0, 0.0]])
    assert from_storage.image_size is None

    (tmp_path / "ost.yaml").write_text(
        "image_width: 640\nimage_height: 480\ncamera_name: narrow_stereo\ncamera_matrix:\n  rows: 3\n  cols: 3\n"
        "  data: [612.25, 0, 318.125, 0, 613.5, 241.0625, 0, 0, 1]\ndistortion_model: plumb_bob\n"
        "distortion_coefficients:\n  rows: 1\n  cols: 5\n  data: [0.1, -0.2, 0.001, 0.002, 0]\n")
    from_ros = read_intrinsics(str(tmp_path / "ost.yaml"))
    np.testing.assert_array_equal(from_ros.camera_matrix, CAMERA_MATRIX)
    np.testing.assert_array_equal(from_ros.dist_coeffs, [[0.1, -0.2, 0.001, 0.002, 0.0]])
    assert from_ros.image_size == (640, 480)
    with pytest.raises(ValueError, match=r"^intrinsics: .*ost\.yaml is for 640x480 images, but the images are "
                                         r"800x600$"):
        check_image_size(from_ros, np.zeros((600, 800, 3), np.uint8))
    check_image_size(from_ros, np.zeros((480, 640, 3), np.uint8))


def test_unusable_files_are_refused_naming_the_file(tmp_path):
    good = {"camera_matrix": CAMERA_MATRIX.tolist(), "distortion_coefficients": [0.1, 0, 0, 0, 0],
            "image_size": [640, 480]}
    cases = {
        "missing.json": (None, "cannot read .*missing.json: No such file"),
        "garbage.yaml": ("camera_matrix: [1, 2\n", "cannot parse .*garbage.yaml"),
        "list.yaml": ("- 1\n- 2\n", "list.yaml has no camera_matrix"),
        "no_distortion.json": ({"camera_matrix": good["camera_matrix"]}, "no_distortion.json has no camera_matrix"),
        "shape.json": ({**good, "camera_matrix": [[1, 0, 2], [0, 1, 2]]}, r"camera_matrix is 2x3, expected 3x3"),
        "nan.json": ({**good, "distortion_coefficients": [0.1, float("nan"), 0, 0, 0]},
                     "distortion_coefficients holds a number that is not finite"),
        "six.json": ({**good, "distortion_coefficients": [0.1] * 6},
                     "has 6 coefficients; expected 0, 4, 5, 8, 12 or 14"),
        "not_camera.json": ({**good, "camera_matrix": [[1, 0, 2], [0, 1, 2], [0, 1, 1]]}, "is no camera matrix"),
        "fisheye.yaml": ("camera_matrix: {rows: 3, cols: 3, data: [1, 0, 0, 0, 1, 0, 0, 0, 1]}\n"
                         "distortion_model: equidistant\ndistortion_coefficients: {rows: 1, cols: 4, data: [0, 0, 0, 0]}"
                         "\n", "distortion_model 'equidistant'"),
        "rows.yaml": ("camera_matrix: {rows: 3, cols: 3, data: [1, 0, 0]}\ndistortion_coefficients: [0, 0, 0, 0]\n",
                      "malformed matrix"),
    }
    for name, (content, message) in cases.items():
        path = tmp_path / name
        if isinstance(content, str):
            path.write_text(content)
        elif content is not None:
            write_json(path, content)
        with pytest.raises(ValueError, match=f"^intrinsics: .*{message}"):
            read_intrinsics(str(path))
