#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace vemo::calibration {

// Where each capture's chain robot_T_tcp * tcp_T_camera * camera_T_target puts the target,
// measured from the mean of those poses: distance (metres) and rotation angle (degrees) per
// capture. Aligned 4x4 CV_64F lists, at least one capture.
struct TargetDeviations {
  std::vector<double> translations_m;
  std::vector<double> rotations_deg;

  double rmsTranslationM() const;
  double rmsRotationDeg() const;
};

TargetDeviations targetDeviations(const std::vector<cv::Mat>& robot_T_tcp_list, const cv::Mat& tcp_T_camera,
                                  const std::vector<cv::Mat>& camera_T_target_list);

}  // namespace vemo::calibration
