#pragma once

// One calibration backend's benchmark outcome.
//
// In src/vemo/evaluation because the benchmark runs calibrations, yet in namespace
// vemo::quality, as the library's interface names it.

#include <opencv2/core.hpp>

#include <string>

namespace vemo::quality {

struct BenchmarkResult {
  std::string backend_name;                   // the run's label
  double reprojection_error = 0.0;            // full intrinsic calibration, pixels
  double held_out_reprojection_error = 0.0;   // cross-validation mean, pixels; +inf when none computed
  double hand_eye_roundtrip_error = -1.0;     // pixels; -1 not measured, +inf measured without a usable frame
  cv::Mat camera_matrix;                      // 3x3 of the full calibration
  cv::Mat dist_coeffs;                        // its distortion coefficients
  std::string timestamp;                      // UTC end of the run, utcTimestamp()
  int image_count = 0;                        // input images
};

}  // namespace vemo::quality
