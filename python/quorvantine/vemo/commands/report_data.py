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
        matrix = getattr(result, name)
        data[name] = matrix
        data[name + "_pose_xyz_m_rxyz_deg"] = _vemo.tf.transformation_matrix_to_pose(matrix) if matrix.size else None
    if result.has_consistency:
        c = result.consistency
        data["consistency"] = {
            "mean_translation_mm": 1000 * c.mean_translation_m, "max_translation_mm": 1000 * c.max_translation_m,
            "mean_rotation_deg": c.mean_rotation_deg, "max_rotation_deg": c.max_rotation_deg,
            "per_capture": [
                {"translation_mm": 1000 * t, "rotation_deg": r, "distance_mm": 1000 * d, "board_centre_px": [u, v]}
                for t, r, d, u, v in zip(c.translation_deviations_m, c.rotation_deviations_deg, c.distances_m,
                                         c.board_us, c.board_vs)],
        }
    camera_T_target_list = result.camera_T_target_list
    if len(camera_T_target_list) >= 2:
        variety = _vemo.diagnostics.analyze_rotation_variety(camera_T_target_list)
        data["rotation_variety"] = {
            "num_motions": variety.num_motions, "singular_values": variety.singular_values,
            "axis_span_ratio": variety.axis_span_ratio, "angle_mean_deg": variety.angle_mean_deg,
            "angle_max_deg": variety.angle_max_deg}
    return data


def refinement(result, transform_names: tuple = ("tcp_T_camera", "base_T_target")) -> dict:
    """A HandEyeRefinement (or EyeToHandRefinement, whose transform_names are base_T_camera
    and tcp_T_target): the refined transforms, their 1-sigma uncertainty and the noise found."""
    names = ("ok", "converged", "iterations", *transform_names, "intrinsic_matrix", "distortion_coefficients",
             "rms_before_px", "rms_after_px", "rms_with_pose_errors_px", "per_capture_rms_px", "sigma_translation_mm",
             "sigma_rotation_deg", "sigma_with_intrinsics_translation_mm", "sigma_with_intrinsics_rotation_deg",
             "sigma_target_translation_mm", "sigma_target_rotation_deg", "image_noise_px",
             "robot_noise_translation_mm", "robot_noise_rotation_deg")
    return {name: getattr(result, name) for name in names}
