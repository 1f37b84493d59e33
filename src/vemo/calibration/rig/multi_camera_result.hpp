#pragma once

// Outcome of a rig calibration: each camera's intrinsics and its pose in the reference
// camera's frame.

#include <opencv2/core.hpp>

#include <vector>

namespace vemo::calibration {

// All lists hold one entry per rig camera, indexed by camera. A camera whose pair with
// the reference was skipped has an empty pose and a NaN pair error, and ok is false.
struct MultiCameraResult {
  bool ok = false;          // every camera has a pose (the reference's identity included)
  int reference_index = 0;  // the camera whose frame the poses are expressed in
  std::vector<cv::Mat> reference_T_camera_list;  // 4x4 CV_64F, metres; identity for the reference
  std::vector<cv::Mat> intrinsic_matrices;       // 3x3
  std::vector<cv::Mat> distortion_coefficients;  // as calibrated or supplied; 1 x n after stereo refinement
  std::vector<double> intrinsic_reprojection_errors;  // pixels; NaN when the intrinsics were supplied
  // RMS over every corner of the camera's intrinsic calibration, pixels (the figure OpenCV's
  // calibrateCamera returns); NaN when the intrinsics were supplied.
  std::vector<double> intrinsic_rms_px;
  // RMS (pixels) that cv::stereoCalibrate returned for the camera's pair with the
  // reference; NaN for the reference and for skipped cameras.
  std::vector<double> pair_reprojection_errors;
};

}  // namespace vemo::calibration
