#pragma once

// Outcome of an intrinsic calibration run.

#include <opencv2/core.hpp>

#include <cmath>
#include <limits>
#include <vector>

#include "vemo/quality/verdict.hpp"

namespace vemo::calibration {

// A default value (ok false, empty matrices, 0 error, empty vectors) is what a run that
// found no corners or whose solve failed returns, with the detection lists filled.
struct IntrinsicResult {
  bool ok = false;                   // the solve ran and returned a positive RMS
  cv::Mat intrinsic_matrix;          // 3x3 CV_64F camera matrix
  cv::Mat distortion_coefficients;   // 1 x k CV_64F, k as OpenCV returns for the flags
  // Mean over views of (L2 norm of the residuals / number of points), pixels: not an RMS,
  // so it differs from per_view_errors. 0 when not ok.
  double reprojection_error = 0.0;
  std::vector<int> successful_indices;      // positions in the input batch of the views used
  std::vector<cv::Mat> image_points;        // per view, N x 1 CV_32FC2
  // Positions within the successful views (0 to views - 1, not image indices) whose
  // per-view error is at most the threshold, ascending. May be empty on success.
  std::vector<int> low_view_error_indices;
  std::vector<double> per_view_errors;      // OpenCV's per-view RMS errors, pixels
  cv::Mat std_deviations_intrinsics;        // as returned by OpenCV
  cv::Mat std_deviations_extrinsics;        // as returned by OpenCV
  // Whether the run's own evidence supports the camera it found; set when ok.
  quality::Verdict verdict;
};

// The RMS of the reprojection distance over every corner of the views used, pixels (what
// cv::calibrateCamera returns), from the per-view RMS errors; NaN without views.
inline double cornerRms(const IntrinsicResult& result) {
  double squares = 0.0;
  double corners = 0.0;
  for (std::size_t view = 0; view < result.per_view_errors.size() && view < result.image_points.size(); ++view) {
    const double count = static_cast<double>(result.image_points[view].total());
    squares += count * result.per_view_errors[view] * result.per_view_errors[view];
    corners += count;
  }
  return corners > 0.0 ? std::sqrt(squares / corners) : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace vemo::calibration
