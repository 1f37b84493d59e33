#pragma once

// What cv::calibrateCamera adds when asked for standard deviations and per-view errors,
// computed after a solve that did not ask for them. Asked for them, OpenCV's solver also
// carries the Jacobian of every object point through every iteration (2N x 3N per view),
// which makes it several times slower at a few hundred points per view, although only the
// Jacobian at the solution enters the result. Here that Jacobian is taken once, view by
// view. Up to 50 views the normal matrix is assembled and inverted exactly as OpenCV does it
// (its SVD of an ill-conditioned matrix is what the numbers must agree with, to 1e-7); above,
// where that inversion's cubic cost dominates, the Schur complement over the view poses gives
// the same quantities in linear time: within about 1e-6 of OpenCV's, whose SVD of the whole
// matrix is the less accurate of the two there (a long-double inversion agrees with the
// complement to 1e-14).

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

namespace vemo::calibration {

struct CalibrationUncertainty {
  cv::Mat std_deviations_intrinsics;  // 18 x 1 CV_64F: fx fy cx cy k1 k2 p1 p2 k3 k4 k5 k6 s1 s2 s3 s4 tx ty
  cv::Mat std_deviations_extrinsics;  // 6·views x 1 CV_64F: rvec then tvec of each view
  std::vector<double> per_view_errors;  // RMS reprojection error of each view, pixels
};

// True when calibrationUncertainty reproduces this OpenCV build's extended solve for a
// standard solve with these flags: the residual-variance scaling is known for this version,
// and the flags only fix, free or tie parameters (no choice of linear solver).
bool calibrationUncertaintyMatchesOpenCv(int calibrate_camera_flags);

// The deviations and per-view errors of a finished cv::calibrateCamera (no released object
// points), from its inputs and outputs: per view object points (N x 3 CV_32F) and image
// points (N x 1 CV_32FC2), the solved camera matrix and distortion, the view poses and the
// flags it ran with. Nothing (so that the caller asks OpenCV instead) when there are no more
// points than free parameters, where OpenCV's residual variance has no meaning.
std::optional<CalibrationUncertainty> calibrationUncertainty(const std::vector<cv::Mat>& object_points,
                                                             const std::vector<cv::Mat>& image_points,
                                                             const cv::Mat& intrinsic_matrix,
                                                             const cv::Mat& distortion_coefficients,
                                                             const std::vector<cv::Mat>& rotation_vectors,
                                                             const std::vector<cv::Mat>& translation_vectors,
                                                             int calibrate_camera_flags);

// The same for a solve that OpenCV did not make (the sparse solve): the flags' choice of linear
// solver is ignored, the residual variance counted as this OpenCV version counts it, and where
// there are no more points than free parameters the deviations are NaN (the per-view errors
// are always known).
CalibrationUncertainty calibrationUncertaintyOrUnknown(const std::vector<cv::Mat>& object_points,
                                                       const std::vector<cv::Mat>& image_points,
                                                       const cv::Mat& intrinsic_matrix,
                                                       const cv::Mat& distortion_coefficients,
                                                       const std::vector<cv::Mat>& rotation_vectors,
                                                       const std::vector<cv::Mat>& translation_vectors,
                                                       int calibrate_camera_flags);

}  // namespace vemo::calibration
