"""Pinhole projection with OpenCV's lens model, for reprojection errors under poses that the
package composes itself (a calibration held fixed); the library projects only inside its own
solves."""

import numpy as np


def project_points(object_points: np.ndarray, camera_T_target: np.ndarray, camera_matrix: np.ndarray,
                   dist_coeffs: np.ndarray) -> np.ndarray:
    """(N, 2) pixels of the (N, 3) target points seen at camera_T_target, as cv::projectPoints
    gives them for 0, 4, 5, 8, 12 or 14 coefficients (k1 k2 p1 p2 k3 k4 k5 k6 s1 s2 s3 s4 tx
    ty); ValueError for a tilted sensor (tx, ty not 0), which this model leaves out."""
    d = np.zeros(14)
    coefficients = np.ravel(dist_coeffs).astype(float)
    d[:coefficients.size] = coefficients
    if d[12] or d[13]:
        raise ValueError("projection: a tilted sensor model (14 coefficients with tx, ty not 0) is not supported")
    k1, k2, p1, p2, k3, k4, k5, k6, s1, s2, s3, s4 = d[:12]
    points = np.asarray(object_points, float).reshape(-1, 3) @ camera_T_target[:3, :3].T + camera_T_target[:3, 3]
    x, y = points[:, 0] / points[:, 2], points[:, 1] / points[:, 2]
    r2 = x * x + y * y
    r4, r6 = r2 * r2, r2 * r2 * r2
    radial = (1 + k1 * r2 + k2 * r4 + k3 * r6) / (1 + k4 * r2 + k5 * r4 + k6 * r6)
    xd = x * radial + 2 * p1 * x * y + p2 * (r2 + 2 * x * x) + s1 * r2 + s2 * r4
    yd = y * radial + p1 * (r2 + 2 * y * y) + 2 * p2 * x * y + s3 * r2 + s4 * r4
    K = np.asarray(camera_matrix, float)
    # No skew term: OpenCV's projection and pose solves read only fx, fy, cx and cy.
    return np.column_stack([K[0, 0] * xd + K[0, 2], K[1, 1] * yd + K[1, 2]])


def rms_px(detected: np.ndarray, predicted: np.ndarray) -> float:
    """RMS of the distances between detected and predicted pixels."""
    difference = np.asarray(detected, float).reshape(-1, 2) - predicted
    return float(np.sqrt(np.mean(np.sum(difference * difference, axis=1))))
