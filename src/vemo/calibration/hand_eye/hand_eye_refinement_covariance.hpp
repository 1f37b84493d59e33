#pragma once

// The uncertainty of the refined tcp_T_camera: covariance blocks at the solution and the
// scale that turns them into variances. Internal to the hand-eye refinement.

#include <ceres/ceres.h>

#include <cstddef>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_noise.hpp"

namespace vemo::calibration::refinement {

// Covariance blocks of the two transforms: rotation and translation of each.
inline constexpr std::size_t kTransformBlocks = 4;

// Unscaled tangent-space covariance blocks at the problem's parameters (row-major): the
// transforms' (kTransformBlocks, 3 x 3), then each free pose error's (6 x 6) in the order of
// the captures. From the Schur complement of the normal matrix over the pose errors, which only
// their own capture touches: time linear in the captures. False, and nothing, when the
// Jacobian is rank deficient (a reciprocal condition below 1e-14 at a unit diagonal, in the
// Schur complement or a pose error's block).
bool covarianceOfChain(ChainProblem& problem, std::vector<std::vector<double>>& covariances);

// The noise levels and the unscaled tangent-space covariance blocks of tcp_T_camera and
// base_T_target (kTransformBlocks), then each capture's pose error when they were free,
// with the scale that turns them into variances. Empty covariance: the Jacobian is rank
// deficient.
struct Uncertainty {
  NoiseLevels noise;
  double scale = 0.0;
  std::vector<std::vector<double>> covariance;
  int iterations = 0;
  bool converged = true;
};

// Frees each capture's robot pose error under a prior of the robot's noise: the solution
// then weighs the captures by what they really tell, and its covariance carries the robot's
// share. The noise levels and the solution are estimated in turn from the start given.
// The corners' squares and count are those the problem's loss keeps (keptSquaresOf).
Uncertainty weighedByNoise(ChainProblem& problem, Parameters& parameters, const std::vector<Capture>& captures,
                           const CornerLoss& loss, const NoiseLevels& start, std::size_t global_parameters,
                           int max_iterations);

// The captures show no noise beyond the corners' (exact robot poses): sigma from the
// Jacobian of the joint fit and its residual variance alone.
Uncertainty imageNoiseOnly(ChainProblem& problem, const Parameters& parameters, const std::vector<Capture>& captures,
                           const CornerLoss& loss, std::size_t global_parameters);

}  // namespace vemo::calibration::refinement
