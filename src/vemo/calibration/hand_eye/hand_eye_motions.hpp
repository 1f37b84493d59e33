#pragma once

#include <opencv2/core.hpp>

#include <vector>

// The motions between captures that hand-eye solvers compare: AX = XB, with A the flange's
// motion, B the camera's and X = tcp_T_camera.
namespace vemo::calibration {

// The motions between captures i and j: robot = inv(robot_T_tcp[j]) * robot_T_tcp[i] (the
// flange's motion, in the flange frame of capture j) and camera = camera_T_target[j] *
// inv(camera_T_target[i]), so that robot * tcp_T_camera = tcp_T_camera * camera for exact
// poses. Translations in the poses' length unit (metres by convention).
struct HandEyeMotion {
  cv::Matx44d robot;
  cv::Matx44d camera;
};

// The motions of every pair of captures i < j, in the order (0, 1), (0, 2), ..., (n-2, n-1):
// the pairs cv::calibrateHandEye uses. Inputs: aligned 4x4 robot_T_tcp and camera_T_target
// lists of any floating-point depth.
std::vector<HandEyeMotion> handEyeMotionsOfAllPairs(const std::vector<cv::Mat>& robot_T_tcp_list,
                                                    const std::vector<cv::Mat>& camera_T_target_list);

// Rotation block and translation column of a 4x4 transform.
cv::Matx33d rotationBlock(const cv::Matx44d& a_T_b);
cv::Vec3d translationColumn(const cv::Matx44d& a_T_b);

}  // namespace vemo::calibration
