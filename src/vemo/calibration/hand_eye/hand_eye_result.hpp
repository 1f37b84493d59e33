#pragma once

#include <opencv2/core.hpp>

#include <limits>
#include <vector>

#include "vemo/quality/verdict.hpp"

namespace vemo::calibration {

// How well the hand-eye chain robot_T_tcp * tcp_T_camera * camera_T_target agrees on one
// fixed target pose in the robot base frame (world_T_target) across the captures. Lengths
// in the common unit of robot translations and target sizes (metres by convention). All
// five lists have one entry per capture, in the order of the result's lists.
struct TargetConsistencyStats {
  double mean_translation_m = 0.0;  // mean of translation_deviations_m
  double max_translation_m = 0.0;   // largest of translation_deviations_m
  double mean_rotation_deg = 0.0;   // mean of rotation_deviations_deg
  double max_rotation_deg = 0.0;    // largest of rotation_deviations_deg
  std::vector<double> translation_deviations_m;  // distance of each world_T_target from the mean pose
  std::vector<double> rotation_deviations_deg;   // rotation angle between each world_T_target and the mean
  std::vector<double> distances_m;               // camera to target origin (|translation of camera_T_target|)
  std::vector<double> board_us;  // projected board centre, pixels; NaN when no camera matrix was known
  std::vector<double> board_vs;
};

// Everything an eye-in-hand run produced. Matrices share data with the inputs (header
// copies). Once a run has set them, the three lists are aligned: entry i of each belongs
// to the same capture.
struct HandEyeResult {
  bool ok = false;                  // true only when the hand-eye solve ran
  cv::Mat tcp_T_camera;             // 4x4 CV_64F pose of the camera in the TCP (flange) frame
  cv::Mat intrinsic_matrix;         // 3x3 camera matrix used for pose estimation; empty if none
  cv::Mat distortion_coefficients;  // its distortion coefficients; empty if none
  // Mean per-view error of the run's intrinsic calibration, pixels; NaN when the run did
  // not calibrate the intrinsics.
  double reprojection_error = std::numeric_limits<double>::quiet_NaN();
  // RMS over every corner of that calibration, pixels (what cv::calibrateCamera returns);
  // NaN when the run did not calibrate the intrinsics.
  double intrinsic_rms_px = std::numeric_limits<double>::quiet_NaN();
  std::vector<cv::Mat> valid_robot_T_tcp_list;  // robot poses of the captures used
  std::vector<cv::Mat> valid_image_list;        // their images
  std::vector<cv::Mat> camera_T_target_list;    // their target poses (4x4 CV_64F)
  bool has_consistency = false;                 // true once consistency has been filled
  TargetConsistencyStats consistency;
  // Whether the run's own evidence supports tcp_T_camera; set with the consistency.
  quality::Verdict verdict;
};

}  // namespace vemo::calibration
