#pragma once

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_motions.hpp"

// Park-Martin (1994) and Andreff-Horaud-Espiau (1999) as cv::calibrateHandEye computes them,
// with its results to rounding, in time and memory that stay small per pair of captures:
// OpenCV builds a handful of heap matrices for every pair and stacks every pair's rows before
// one decomposition, which at 300 captures (44,850 pairs) takes a second per method and
// dominates a whole calibration.
namespace vemo::calibration {

// X = tcp_T_camera given its rotation: the translation t solving (R_robot - I) t =
// rotation * t_camera - t_robot, every motion's three rows together in the least-squares sense.
cv::Mat withTranslationFitted(const std::vector<HandEyeMotion>& motions, const cv::Matx33d& rotation);

// Park-Martin: M = sum over the motions of log(R_camera) log(R_robot)^T, the rotation
// (M^T M)^(-1/2) M^T, then the translation. 4x4 CV_64F tcp_T_camera.
cv::Mat solveParkMartin(const std::vector<HandEyeMotion>& motions);

// Andreff: vec(R) and t together from the linear system of every motion,
// (I9 - R_robot (x) R_camera) vec(R) = 0 and (I3 (x) t_camera^T) vec(R) + (I3 - R_robot) t = t_robot,
// in the least-squares sense, then R scaled to determinant 1 and taken to the nearest rotation.
// 4x4 CV_64F tcp_T_camera.
cv::Mat solveAndreff(const std::vector<HandEyeMotion>& motions);

}  // namespace vemo::calibration
