#include "vemo/calibration/hand_eye/target_deviations.hpp"

#include <cmath>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

double rms(const std::vector<double>& values) {
  double sum = 0.0;
  for (double value : values) sum += value * value;
  return std::sqrt(sum / static_cast<double>(values.size()));
}

}  // namespace

double TargetDeviations::rmsTranslationM() const { return rms(translations_m); }
double TargetDeviations::rmsRotationDeg() const { return rms(rotations_deg); }

TargetDeviations targetDeviations(const std::vector<cv::Mat>& robot_T_tcp_list, const cv::Mat& tcp_T_camera,
                                  const std::vector<cv::Mat>& camera_T_target_list) {
  std::vector<cv::Mat> world_T_target(robot_T_tcp_list.size());
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    world_T_target[i] = robot_T_tcp_list[i] * tcp_T_camera * camera_T_target_list[i];
  }
  const cv::Mat mean_pose = tf::averagePose(world_T_target);
  TargetDeviations deviations;
  for (const cv::Mat& pose : world_T_target) {
    deviations.translations_m.push_back(cv::norm(tf::translationOf(pose), tf::translationOf(mean_pose), cv::NORM_L2));
    deviations.rotations_deg.push_back(tf::rotationAngleDeg(pose, mean_pose));
  }
  return deviations;
}

}  // namespace vemo::calibration
