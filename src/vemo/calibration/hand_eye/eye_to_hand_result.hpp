#pragma once

#include <opencv2/core.hpp>

#include <limits>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_result.hpp"

namespace vemo::calibration {

// Everything an eye-to-hand run produced: a camera fixed in the cell and a target on the
// flange. Matrices may share data with the inputs (header copies). Once a run has set
// them, the three lists are aligned: entry i of each belongs to the same capture.
struct EyeToHandResult {
  bool ok = false;       // true only when the hand-eye solve ran
  cv::Mat base_T_camera;  // 4x4 CV_64F pose of the camera in the robot base frame
  // 4x4 CV_64F pose of the target in the flange (TCP) frame: the mean of the captures'
  // robot_T_tcp^-1 * base_T_camera * camera_T_target.
  cv::Mat tcp_T_target;
  cv::Mat intrinsic_matrix;         // 3x3 camera matrix used for pose estimation; empty if none
  cv::Mat distortion_coefficients;  // its distortion coefficients; empty if none
  // Mean per-view error of the run's intrinsic calibration, pixels; NaN when the run did
  // not calibrate the intrinsics.
  double reprojection_error = std::numeric_limits<double>::quiet_NaN();
  std::vector<cv::Mat> valid_robot_T_tcp_list;  // robot poses (robot_T_tcp) of the captures used
  std::vector<cv::Mat> valid_image_list;        // their images
  std::vector<cv::Mat> camera_T_target_list;    // their target poses (4x4 CV_64F)
  bool has_consistency = false;                 // true once consistency has been filled
  // How far each capture's tcp_T_target lies from tcp_T_target (the deviation lists), the
  // camera-to-target distances and the projected board centres, per capture.
  TargetConsistencyStats consistency;
  // Whether the run's own evidence supports base_T_camera; set with the consistency.
  quality::Verdict verdict;
};

}  // namespace vemo::calibration
