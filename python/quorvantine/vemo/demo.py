"""The built-in example: calibrations on rendered images whose ground truth is known."""

import contextlib
import io
import tempfile

import numpy as np

import _vemo
from quorvantine.vemo.scenes import (make_eye_to_hand_scene, make_hand_eye_scene, make_rig_scene, pose_error,
                                     render_orbit)

CALIB_FIX_K3 = 128  # OpenCV's calibration flag


def intrinsic_demo() -> None:
    true_K = np.array([[640.0, 0.0, 322.0], [0.0, 636.0, 238.0], [0.0, 0.0, 1.0]])
    true_dist = np.array([[-0.15, 0.06, 0.0005, -0.0004, 0.0]])
    target = _vemo.CharucoTarget(7, 5, 0.035, 0.026, "DICT_4X4_50")
    images = render_orbit(target, true_K, true_dist, (640, 480), count=12, distance=0.38, pan_deg=10)
    print(f"Intrinsic calibration of {len(images)} rendered 640x480 views of {target!r}:", flush=True)
    # k3 is held at its true 0: with views that leave the image corners uncovered k2 and k3
    # trade off against each other, as with real data.
    options = _vemo.IntrinsicOptions()
    options.calibrate_camera_flags = CALIB_FIX_K3
    result = _vemo.IntrinsicCalibrator(target, options).calibrate(images)
    if not result.ok:
        print("calibration failed")
        return
    K, dist = result.intrinsic_matrix, result.distortion_coefficients[0]
    rows = [("fx", true_K[0, 0], K[0, 0]), ("fy", true_K[1, 1], K[1, 1]), ("cx", true_K[0, 2], K[0, 2]),
            ("cy", true_K[1, 2], K[1, 2])]
    rows += [(name, true_dist[0, i], dist[i]) for i, name in enumerate(["k1", "k2", "p1", "p2", "k3 (fixed)"])]
    print(f"{'':10}{'true':>12}{'recovered':>12}")
    for name, truth, recovered in rows:
        print(f"{name:10}{truth:12.4f}{recovered:12.4f}")
    print(f"views used: {len(result.successful_indices)}, within {_vemo.IntrinsicOptions().per_view_error_threshold}"
          f" px: {len(result.low_view_error_indices)}, mean reprojection error {result.reprojection_error:.4f} px\n")


def hand_eye_demo() -> None:
    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    scene = make_hand_eye_scene(target, count=20, image_size=(1280, 960), distance=0.42)
    print(f"Eye-in-hand calibration: {len(scene.images)} rendered 1280x960 captures of {target!r}\n"
          f"from a camera on the flange at tcp_T_camera pose "
          f"{[round(x, 4) for x in _vemo.tf.transformation_matrix_to_pose(scene.tcp_T_camera)]}.", flush=True)

    with tempfile.TemporaryDirectory(prefix="vemo-demo-") as data_dir:
        _vemo.io.save_hand_eye_dataset(data_dir, scene.images, scene.robot_T_tcp_list)
        images, robot_T_tcp_list = _vemo.io.load_hand_eye_dataset(data_dir)
        calibrator = _vemo.EyeInHandCalibrator(target)
        result = calibrator.calibrate(robot_T_tcp_list, images, "TSAI", output_path=data_dir)
        if not result.ok:
            print("calibration failed")
            return

        # Every solver on the same target poses; their own reports are not needed here.
        errors = {}
        for method in _vemo.hand_eye_method_by_name_map():
            with contextlib.redirect_stdout(io.StringIO()):
                solved = _vemo.EyeInHandCalibrator(target).calibrate(
                    result.valid_robot_T_tcp_list, [], method, result.camera_T_target_list,
                    result.intrinsic_matrix, result.distortion_coefficients)
            errors[method] = pose_error(solved.tcp_T_camera, scene.tcp_T_camera)

    print("\nError of each solver's tcp_T_camera against the truth:")
    print(f"  {'method':<12}{'rotation (deg)':>16}{'translation (mm)':>18}")
    for method, (rotation_deg, translation_m) in errors.items():
        print(f"  {method:<12}{rotation_deg:16.4f}{1000 * translation_m:18.3f}")


def rig_demo() -> None:
    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    scene = make_rig_scene(target, num_cameras=3, frames=16)
    print(f"\nMulti-camera rig: 3 cameras with their own lenses, 0.12 to 0.30 m apart, {len(scene.image_lists[0])} "
          f"synchronized 1280x960 captures of {target!r}\n(camera 1 misses one capture, cameras 0 and 2 see half of "
          f"the board in another).", flush=True)
    with tempfile.TemporaryDirectory(prefix="vemo-demo-rig-") as data_dir:
        for capture in range(len(scene.image_lists[0])):
            _vemo.io.save_multi_camera_capture(data_dir, [images[capture] for images in scene.image_lists], capture)
        image_lists = _vemo.io.load_multi_camera_dataset(data_dir, 3)
        calibrator = _vemo.MultiCameraCalibrator(target, 3)
        result = calibrator.calibrate(image_lists, output_path=data_dir)
        if not result.ok:
            print("calibration failed")
            return
        print("\nError of each reference_T_camera against the truth:")
        print(f"  {'camera':<8}{'rotation (deg)':>16}{'translation (mm)':>18}")
        for camera, reference_T_camera in enumerate(result.reference_T_camera_list):
            rotation_deg, translation_m = pose_error(reference_T_camera, scene.reference_T_camera(0, camera))
            print(f"  cam_{camera:<4}{rotation_deg:16.4f}{1000 * translation_m:18.3f}")

        # Every pair and the whole rig on their own; their reports are not needed here.
        print("\nCalibrating every camera pair and the whole rig on their own...", flush=True)
        with contextlib.redirect_stdout(io.StringIO()):
            calibrator.calibrate_subsets(image_lists, [2, 3])
    report = calibrator.format_results()
    print(report[report.index("=" * 90):], end="")


def eye_to_hand_demo() -> None:
    target = _vemo.CharucoTarget(10, 7, 0.03, 0.022, "DICT_5X5_100")
    scene = make_eye_to_hand_scene(target, count=16, image_size=(1280, 960), distance=0.5)
    print(f"\nEye-to-hand calibration: {len(scene.images)} rendered 1280x960 captures of the board on the flange,\n"
          f"seen by a camera fixed in the cell. The intrinsics are calibrated once, then every solver runs on\n"
          f"the board poses re-detected with them.", flush=True)
    intrinsic_calibrator = _vemo.IntrinsicCalibrator(target)
    intrinsics = intrinsic_calibrator.calibrate(scene.images)
    if not intrinsics.ok:
        print("calibration failed")
        return
    print(f"  {'method':<12}{'base_T_camera':>28}{'tcp_T_target':>28}")
    print(f"  {'':<12}{'(deg)':>14}{'(mm)':>14}{'(deg)':>14}{'(mm)':>14}")
    solved = {}
    for method in _vemo.hand_eye_method_by_name_map():
        with contextlib.redirect_stdout(io.StringIO()):
            solved[method] = _vemo.EyeToHandCalibrator(target).calibrate(
                scene.robot_T_tcp_list, scene.images, method, [], intrinsics.intrinsic_matrix,
                intrinsics.distortion_coefficients)
        camera_deg, camera_m = pose_error(solved[method].base_T_camera, scene.base_T_camera)
        target_deg, target_m = pose_error(solved[method].tcp_T_target, scene.tcp_T_target)
        print(f"  {method:<12}{camera_deg:14.4f}{1000 * camera_m:14.3f}{target_deg:14.4f}{1000 * target_m:14.3f}")

    try:
        from quorvantine.vemo import plots
        folder = tempfile.mkdtemp(prefix="vemo-demo-plots-")
        residuals = intrinsic_calibrator.reprojection_residuals(intrinsics.intrinsic_matrix,
                                                                intrinsics.distortion_coefficients)
        written = plots.intrinsic_figures(folder, intrinsics, residuals, scene.image_size,
                                          _vemo.IntrinsicOptions().per_view_error_threshold)
        written += plots.hand_eye_figures(folder, solved["TSAI"])
        written.append(plots.comparison({method: result.base_T_camera for method, result in solved.items()},
                                        f"{folder}/comparison.png", "base_T_camera"))
        print(f"\nPictures of the eye-to-hand run ({', '.join(path.name for path in written)}) are in {folder}")
    except ImportError as error:
        print(f"\nNo pictures: {error}")


def run() -> int:
    intrinsic_demo()
    hand_eye_demo()
    rig_demo()
    eye_to_hand_demo()
    return 0
