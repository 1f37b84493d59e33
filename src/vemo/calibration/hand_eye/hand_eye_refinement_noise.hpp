#pragma once

// How noisy the captures are: the corners' image noise and the robot's pose noise, estimated
// from a solution of the joint refinement. Internal to the hand-eye refinement.

#include <cstddef>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"

namespace vemo::calibration::refinement {

// The captures' two kinds of error: corner noise per axis (px), and the robot's pose noise
// per axis of each capture (rotation rad, translation m, flange frame).
struct NoiseLevels {
  double image_px = 0.0;
  double rotation_rad = 0.0;
  double translation_m = 0.0;
};

// Where the estimate of the noise levels starts: each capture's pose error fitted alone at
// the joint solution. What remains of the corners is image noise; the spread of the pose
// errors (which still holds each pose's own image noise) bounds the robot's share above.
NoiseLevels startingNoise(const std::vector<Capture>& captures, const Parameters& solution,
                          const HandEyeRefinementOptions& options);

// The corners' robust noise per axis at a solution, the robot poses as given: 1.4826 times
// the median absolute residual over both axes of every corner (the standard deviation for
// Gaussian noise, untouched by a few corners pixels off). Pixels.
double robustCornerNoise(const std::vector<Capture>& captures, const Parameters& solution);

// Sums over the captures that one estimate of the noise levels needs.
struct ComponentSums {
  double corner_squares = 0.0;
  double corner_residuals = 0.0;  // their count, both as the loss keeps them (keptSquaresOf)
  double rotation_squares = 0.0, translation_squares = 0.0;    // of the pose errors
  double rotation_variance = 0.0, translation_variance = 0.0;  // traces of their covariance
};

// Variance component estimation: each level is the square sum of its errors over its
// redundancy, the share of its observations not spent on the unknowns (for the pose-error
// priors: count - weight^2 * trace of the errors' covariance). Redundancies add up to all
// observations less all unknowns, which gives the corners' share.
NoiseLevels reestimatedNoise(const ComponentSums& sums, const NoiseLevels& used, std::size_t captures,
                             std::size_t global_parameters);

// Noise levels within 5 % of each other give sigmas within 5 %: close enough to stop.
bool nearlyEqual(const NoiseLevels& a, const NoiseLevels& b);

}  // namespace vemo::calibration::refinement
