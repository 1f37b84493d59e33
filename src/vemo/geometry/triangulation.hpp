#pragma once

// Folder geometry/: multi-view geometry, namespace vemo::geometry: the corners a frame
// shows, their triangulation (here) and its figures.
//
// Linear (DLT) triangulation of corners seen by several calibrated cameras, in the
// reference camera's frame and the length unit of the rig's translations (metres).

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/geometry/corner_observations.hpp"

namespace vemo::geometry {

struct TriangulatedPoints {
  cv::Mat points;  // N x 3 CV_64F, one row per map entry in ascending id; NaN row when degenerate
  cv::Mat ids;     // N x 1 CV_32S, the id of each row (degenerate rows keep theirs)
};

// P_i = K_i * (top 3 rows of reference_T_camera[i]^-1): 3x4 CV_64F per camera, as many as
// intrinsic matrices. OpenCV throws for a singular or non-CV_64F transform.
std::vector<cv::Mat> buildProjectionMatrices(const std::vector<cv::Mat>& intrinsic_matrices,
                                             const std::vector<cv::Mat>& reference_T_camera_list);

// One unweighted DLT per map entry on undistorted pixels; no refinement and no check that
// the point lies in front of the cameras. A point at infinity (|w| < 1e-12, as from
// parallel rays) becomes a NaN row.
TriangulatedPoints triangulateAll(const ObservationMap& observations, const std::vector<cv::Mat>& projection_matrices,
                                  const std::vector<cv::Mat>& intrinsic_matrices,
                                  const std::vector<cv::Mat>& distortion_coefficients);

}  // namespace vemo::geometry
