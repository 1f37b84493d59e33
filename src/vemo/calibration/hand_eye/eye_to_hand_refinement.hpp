#pragma once

// The eye-to-hand refinement: the joint refinement of the inverted chain the run solves
// (chain_refinement.hpp), read with this chain's names.

#include <opencv2/core.hpp>

#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"

namespace vemo::calibration {

struct EyeToHandRefinement {
  // The chain's refinement: its tcp_T_camera is base_T_camera (sigma along and about the
  // base frame's axes), its base_T_target is tcp_T_target (sigma in the flange frame).
  HandEyeRefinement chain;

  const cv::Mat& baseTCamera() const { return chain.tcp_T_camera; }
  const cv::Mat& tcpTTarget() const { return chain.base_T_target; }
};

}  // namespace vemo::calibration
