#pragma once

// OpenCV's pinhole-plus-distortion camera model, both ways: the forward projection
// exactly as cv::projectPoints computes it, and its inverse solved to machine precision
// (cv::undistortPoints stops after a few fixed-point steps, too early for ground truth).

#include <opencv2/core.hpp>

#include <optional>

namespace vemo::synthetic {

class Lens {
 public:
  // camera_matrix: 3x3 [fx 0 cx; 0 fy cy; 0 0 1] (cv::projectPoints has no skew).
  // dist_coeffs: empty or 4, 5, 8, 12 or 14 values, k1 k2 p1 p2 [k3 [k4 k5 k6 [s1 s2 s3 s4
  // [tau_x tau_y]]]]. Throws std::invalid_argument "<operation>: ..." for other shapes,
  // non-finite values, non-positive focal lengths, a skew or another last row.
  Lens(const cv::Mat& camera_matrix, const cv::Mat& dist_coeffs, const char* operation);

  // Pixel of the normalized ray (x, y, 1).
  cv::Point2d project(const cv::Point2d& normalized) const;

  // Normalized ray (x, y) whose projection is `pixel`, by Newton's method from `guess`;
  // nothing when it does not converge or lands beyond the fold of the distortion (where
  // the model stops being one-to-one).
  std::optional<cv::Point2d> unproject(const cv::Point2d& pixel, const cv::Point2d& guess) const;

 private:
  // Distorted normalized coordinates (before the sensor tilt) and their Jacobian.
  cv::Point2d distort(const cv::Point2d& xy, cv::Matx22d* jacobian) const;

  double fx_, fy_, cx_, cy_;
  double k_[6] = {};  // k1 .. k6
  double p_[2] = {};  // p1 p2
  double s_[4] = {};  // s1 .. s4
  cv::Matx33d tilt_ = cv::Matx33d::eye();
  cv::Matx33d tilt_inverse_ = cv::Matx33d::eye();
};

}  // namespace vemo::synthetic
