#pragma once

// How far the captures' target poses may scatter on correct data: what the corner noise
// (through each capture's pose solve) and the robot's repeatability explain.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"
#include "vemo/quality/verdict.hpp"

namespace vemo::calibration {

struct ExpectedDeviation {
  double translation_m = 0.0;  // RMS over the captures of the target position's expected scatter
  double rotation_deg = 0.0;   // the same for its orientation
  // RMS reprojection residual of the captures' pose solves, pixels; NaN without corners.
  double corner_rms_px = 0.0;
};

// Aligned 4x4 CV_64F lists of the chain robot_T_tcp * tcp_T_camera * camera_T_target, and
// per capture the corners its target pose was solved from (empty when the poses were
// given: the corner term is then left out). The robot's noise is taken to act at the flange.
ExpectedDeviation expectedTargetDeviation(const std::vector<cv::Mat>& robot_T_tcp_list, const cv::Mat& tcp_T_camera,
                                          const std::vector<cv::Mat>& camera_T_target_list,
                                          const std::vector<CaptureCorners>& corners, const cv::Mat& intrinsic_matrix,
                                          const cv::Mat& distortion_coefficients,
                                          const quality::VerdictOptions& options);

}  // namespace vemo::calibration
