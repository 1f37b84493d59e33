#pragma once

// What the hand-eye refinement (hand_eye_refinement.hpp) starts from: each capture's corners,
// the robot poses, the lens and the closed-form solution, and how to refine.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/hand_eye/flange_holds.hpp"
#include "vemo/calibration/intrinsic/robust_loss_scale.hpp"

namespace vemo::calibration {

// The corners of one capture: board points and where they were seen, row for row.
struct CaptureCorners {
  cv::Mat object_points;  // N x 3 (or N x 1, 3 channels), target frame, metres
  cv::Mat image_points;   // N x 2 (or N x 1, 2 channels), pixels
};

struct HandEyeRefinementInput {
  std::vector<cv::Mat> robot_T_tcp_list;  // 4x4 per capture
  std::vector<CaptureCorners> corners;    // per capture, aligned with robot_T_tcp_list
  cv::Mat intrinsic_matrix;               // 3x3
  cv::Mat distortion_coefficients;        // empty, or 4, 5, 8 or 12 OpenCV coefficients
  cv::Mat tcp_T_camera;                   // start: a closed-form solution
  cv::Mat base_T_target;                  // start: the target in the robot base frame
  // camera: the chain above. target: an eye-to-hand chain given as its inverse, robot poses
  // inverted, tcp_T_camera the camera in the base frame and base_T_target the target in the
  // flange frame; the robot's pose errors then still act at the flange, on the target.
  FlangeHolds flange_holds = FlangeHolds::camera;
};

struct HandEyeRefinementOptions {
  bool refine_intrinsics = false;  // also move fx, fy, cx, cy and the distortion coefficients
  double loss_scale_px = 1.0;      // Huber: corners further off than this count linearly
  // > 0: the Huber scale is this multiple of the corners' robust noise (1.4826 times the median
  // absolute residual, per axis, of a first solve at loss_scale_px with the robot poses as
  // given) instead of loss_scale_px. Detected corners have heavy tails (a few pixels off among
  // many a fifth of a pixel off): a scale near the core's noise gives the tails little pull,
  // where a fixed 1 px lets them bend the fit. 0 (default): loss_scale_px as given.
  double loss_scale_noise_multiple = 0.0;
  // > 0, with loss_scale_noise_multiple: the fit goes on from the Huber solution under Tukey's
  // biweight at this multiple of the same robust noise. The Huber fit brings it within reach of
  // the solution (the biweight's cost is not convex, and gives a corner beyond its scale no
  // gradient); the biweight then gives the few corners pixels off no pull at all, where Huber's
  // pull stays constant, which under the detector's heavy tails comes closer to the likelihood's
  // own weighting. 0 (default): the Huber fit is the solution.
  double redescending_noise_multiple = 0.0;
  int max_iterations = 100;
};

// The multiple for the biweight that follows: Tukey's constant of 95 % efficiency. Of 3, 3.5,
// 4, 4.685, 5 and 6 it gave the hand-eye errors closest to the floor on rendered scenes of 12
// and 30 captures (bench/refinement_noise_floor_study.py), though within their seed-to-seed
// spread of one another.
inline constexpr double kRedescendingNoiseMultiple = 4.685;

// What the calibrators' refine runs: Huber at the given scale.
inline HandEyeRefinementOptions givenScaleOptions(bool refine_intrinsics, double loss_scale_px) {
  HandEyeRefinementOptions options;
  options.refine_intrinsics = refine_intrinsics;
  options.loss_scale_px = loss_scale_px;
  return options;
}

// What the calibrators' refineAtNoiseScale runs: the Huber scale from the corners' robust
// noise, then the biweight from the same noise.
inline HandEyeRefinementOptions noiseScaledOptions(bool refine_intrinsics) {
  HandEyeRefinementOptions options;
  options.refine_intrinsics = refine_intrinsics;
  options.loss_scale_noise_multiple = refinement::kLossScaleNoiseMultiple;
  options.redescending_noise_multiple = kRedescendingNoiseMultiple;
  return options;
}

}  // namespace vemo::calibration
