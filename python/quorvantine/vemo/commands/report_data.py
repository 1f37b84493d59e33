"""The data of the --report files: calibration results as plain dictionaries."""

import math

import numpy as np

import _vemo

REPROJECTION_ERROR_MEANS = ("mean over the views of (Euclidean norm of all the view's corner residuals / its number "
                            "of corners), pixels: the figure the printed reports show")
RMS_MEANS = "square root of the mean squared corner residual over all corners of all views, pixels"


def rms_px(per_view_errors, image_points) -> float:
    """The RMS over all corners, from each view's RMS and its corner count."""
    counts = np.array([len(points) for points in image_points], dtype=float)
    if counts.sum() == 0:
        return math.nan
    return float(np.sqrt(np.sum(counts * np.square(per_view_errors)) / counts.sum()))


def intrinsics(result, threshold: float, image_names: list) -> dict:
    """An IntrinsicResult: camera, both error figures and every view's error."""
    # Each read of a list property converts the whole list: read each once.
    image_points = result.image_points
    per_view_errors = result.per_view_errors
    kept = set(result.low_view_error_indices)
    return {
        "intrinsic_matrix": result.intrinsic_matrix,
        "distortion_coefficients": np.ravel(result.distortion_coefficients),
        "reprojection_error": result.reprojection_error,
        "reprojection_error_means": REPROJECTION_ERROR_MEANS,
        "rms_px": rms_px(per_view_errors, image_points),
        "rms_px_means": RMS_MEANS,
        "per_view_error_threshold_px": threshold,
        "per_view_errors": [
            {"image": image_names[index], "corners": len(points), "rms_px": error, "within_threshold": view in kept}
            for view, (index, points, error) in enumerate(zip(result.successful_indices, image_points,
                                                              per_view_errors))],
    }


def captures_used(result) -> int:
    """How many captures the hand-eye run used. Counted on the robot poses, which go with the
    images one for one: reading valid_image_list would copy every image."""
    return len(result.valid_robot_T_tcp_list)


def hand_eye(result, method: str, capture_count: int, transform_names: tuple) -> dict:
    """A HandEyeResult or EyeToHandResult: the solved transforms, the captures used, the
    consistency of each and the rotation variety of the motions."""
    data = {"method": method, "ok": result.ok, "captures_total": capture_count,
            "captures_used": captures_used(result)}
    for name in transform_names:
        data.update(transform(name, getattr(result, name)))
    if result.has_consistency:
        data["consistency"] = consistency(result.consistency)
    camera_T_target_list = result.camera_T_target_list
    if len(camera_T_target_list) >= 2:
        variety = _vemo.diagnostics.analyze_rotation_variety(camera_T_target_list)
        data["rotation_variety"] = {
            "num_motions": variety.num_motions, "singular_values": variety.singular_values,
            "axis_span_ratio": variety.axis_span_ratio, "angle_mean_deg": variety.angle_mean_deg,
            "angle_max_deg": variety.angle_max_deg}
    return data


def transform(name: str, matrix) -> dict:
    """A solved transform under its frame name, and as a pose vector beside it (the vector None
    when the run left the transform empty)."""
    return {name: matrix,
            name + "_pose_xyz_m_rxyz_deg": _vemo.tf.transformation_matrix_to_pose(matrix) if matrix.size else None}


def consistency(c) -> dict:
    """A TargetConsistencyStats: how far the captures scatter the fixed target's pose."""
    return {
        "mean_translation_mm": 1000 * c.mean_translation_m, "max_translation_mm": 1000 * c.max_translation_m,
        "mean_rotation_deg": c.mean_rotation_deg, "max_rotation_deg": c.max_rotation_deg,
        "per_capture": [
            {"translation_mm": 1000 * t, "rotation_deg": r, "distance_mm": 1000 * d, "board_centre_px": [u, v]}
            for t, r, d, u, v in zip(c.translation_deviations_m, c.rotation_deviations_deg, c.distances_m,
                                     c.board_us, c.board_vs)],
    }


def refinement(result, transform_names: tuple = ("tcp_T_camera", "base_T_target")) -> dict:
    """A HandEyeRefinement (or EyeToHandRefinement, whose transform_names are base_T_camera
    and tcp_T_target): the refined transforms, their 1-sigma uncertainty and the noise found."""
    names = ("ok", "converged", "iterations", "loss_scale_px", *transform_names, "intrinsic_matrix", "distortion_coefficients",
             "rms_before_px", "rms_after_px", "rms_with_pose_errors_px", "per_capture_rms_px", "sigma_translation_mm",
             "sigma_rotation_deg", "sigma_with_intrinsics_translation_mm", "sigma_with_intrinsics_rotation_deg",
             "sigma_target_translation_mm", "sigma_target_rotation_deg", "image_noise_px",
             "robot_noise_translation_mm", "robot_noise_rotation_deg")
    return {name: getattr(result, name) for name in names}


def with_poses(data: dict, transform_names: tuple) -> dict:
    """data (a refinement's) with each named transform also as a pose vector beside it."""
    return {**data, **{key: value for name in transform_names for key, value in transform(name, data[name]).items()}}


def method_results(results: dict, verdict_data) -> dict:
    """Each hand-eye solver's run of a comparison (None where it failed): its transform, the
    consistency of the captures under it and its verdict (verdict_data(verdict))."""
    return {name: None if result is None else {
        **transform("tcp_T_camera", result.tcp_T_camera),
        "pose_deg": result.pose_deg,
        "consistency": consistency(result.consistency),
        "verdict": verdict_data(result.verdict)} for name, result in results.items()}


def method_agreement(agreement) -> dict | None:
    """A MethodAgreement: the solvers' median transform and each one's distance from it."""
    if agreement is None:
        return None
    return {**transform("median_tcp_T_camera", agreement.median_tcp_T_camera),
            "translation_threshold_mm": agreement.translation_threshold_mm,
            "rotation_threshold_deg": agreement.rotation_threshold_deg,
            "deviations": [{"method": d.method_name, "translation_mm": d.translation_mm, "rotation_deg": d.rotation_deg}
                           for d in agreement.deviations],
            "translation_outliers": list(agreement.translation_outliers),
            "rotation_outliers": list(agreement.rotation_outliers)}


def benchmark(result) -> dict:
    """A BenchmarkResult, under the names the other reports give the same things."""
    roundtrip = result.hand_eye_roundtrip_error
    return {"backend_name": result.backend_name, "image_count": result.image_count, "timestamp": result.timestamp,
            "reprojection_error": result.reprojection_error,
            "held_out_reprojection_error": result.held_out_reprojection_error,
            "hand_eye_roundtrip_error": roundtrip if roundtrip >= 0 else None,
            "intrinsic_matrix": result.camera_matrix, "distortion_coefficients": np.ravel(result.dist_coeffs)}


def rig_cameras(result) -> list:
    """A MultiCameraResult camera by camera, under the names the single-camera reports use."""
    return [{"camera": camera, **transform("reference_T_camera", pose), "intrinsic_matrix": matrix,
             "distortion_coefficients": np.ravel(distortion), "reprojection_error": intrinsic_error,
             "rms_px": rms, "pair_reprojection_error": pair_error}
            for camera, (pose, matrix, distortion, intrinsic_error, rms, pair_error) in enumerate(zip(
                result.reference_T_camera_list, result.intrinsic_matrices, result.distortion_coefficients,
                result.intrinsic_reprojection_errors, result.intrinsic_rms_px, result.pair_reprojection_errors))]
