#include "vemo/calibration/hand_eye/hand_eye_motions.hpp"

namespace vemo::calibration {

namespace {

cv::Matx44d asMatx(const cv::Mat& a_T_b) {
  cv::Matx44d pose;
  a_T_b.convertTo(pose, CV_64F);
  return pose;
}

// The inverse of a rigid transform: transposed rotation, translation moved back.
cv::Matx44d rigidInverse(const cv::Matx44d& a_T_b) {
  const cv::Matx33d rotation_t = rotationBlock(a_T_b).t();
  const cv::Vec3d translation = -(rotation_t * translationColumn(a_T_b));
  cv::Matx44d b_T_a = cv::Matx44d::eye();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) b_T_a(r, c) = rotation_t(r, c);
    b_T_a(r, 3) = translation[r];
  }
  return b_T_a;
}

}  // namespace

cv::Matx33d rotationBlock(const cv::Matx44d& a_T_b) { return a_T_b.get_minor<3, 3>(0, 0); }

cv::Vec3d translationColumn(const cv::Matx44d& a_T_b) { return {a_T_b(0, 3), a_T_b(1, 3), a_T_b(2, 3)}; }

std::vector<HandEyeMotion> handEyeMotionsOfAllPairs(const std::vector<cv::Mat>& robot_T_tcp_list,
                                                    const std::vector<cv::Mat>& camera_T_target_list) {
  std::vector<cv::Matx44d> robot, camera;
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    robot.push_back(asMatx(robot_T_tcp_list[i]));
    camera.push_back(asMatx(camera_T_target_list[i]));
  }
  std::vector<HandEyeMotion> motions;
  if (!robot.empty()) motions.reserve(robot.size() * (robot.size() - 1) / 2);
  for (std::size_t i = 0; i < robot.size(); ++i) {
    for (std::size_t j = i + 1; j < robot.size(); ++j) {
      motions.push_back({rigidInverse(robot[j]) * robot[i], camera[j] * rigidInverse(camera[i])});
    }
  }
  return motions;
}

}  // namespace vemo::calibration
