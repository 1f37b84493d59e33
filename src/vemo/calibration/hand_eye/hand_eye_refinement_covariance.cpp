#include "vemo/calibration/hand_eye/hand_eye_refinement_covariance.hpp"

#include <cmath>
#include <utility>

namespace vemo::calibration::refinement {

namespace {

// Alternations of solving and re-estimating the noise levels; they settle within a few.
constexpr int kNoiseEstimationRounds = 6;

}  // namespace

std::vector<const double*> transformBlocks(const Parameters& parameters) {
  return {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
          parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data()};
}

Uncertainty weighedByNoise(ceres::Problem& problem, Parameters& parameters, const std::vector<Capture>& captures,
                           const NoiseLevels& start, std::size_t global_parameters, int max_iterations) {
  std::size_t corner_residuals = 0;
  for (const Capture& capture : captures) corner_residuals += 2 * capture.corners.size();
  for (auto& delta : parameters.deltas) {
    problem.SetParameterBlockVariable(delta.data());
    problem.AddResidualBlock(new DeltaPrior(&parameters.prior_weights), nullptr, delta.data());
  }
  std::vector<const double*> blocks = transformBlocks(parameters);
  for (const auto& delta : parameters.deltas) blocks.push_back(delta.data());

  Uncertainty uncertainty;
  uncertainty.noise = start;
  for (int round = 0; round < kNoiseEstimationRounds; ++round) {
    const NoiseLevels& noise = uncertainty.noise;
    for (int k = 0; k < 3; ++k) {
      parameters.prior_weights[k] = noise.image_px / noise.rotation_rad;
      parameters.prior_weights[3 + k] = noise.image_px / noise.translation_m;
    }
    const ceres::Solver::Summary summary = solve(problem, max_iterations, ceres::DENSE_SCHUR);
    uncertainty.iterations += stepsOf(summary);
    uncertainty.converged = uncertainty.converged && summary.termination_type == ceres::CONVERGENCE;
    if (!covarianceOf(problem, blocks, uncertainty.covariance)) break;
    uncertainty.scale = noise.image_px * noise.image_px;
    ComponentSums sums;
    for (std::size_t i = 0; i < captures.size(); ++i) {
      const auto& delta = parameters.deltas[i];
      const std::vector<double>& delta_covariance = uncertainty.covariance[kTransformBlocks + i];
      sums.corner_squares += squaredErrorOf(captures[i], parameters, delta);
      for (int k = 0; k < 3; ++k) {
        sums.rotation_squares += delta[k] * delta[k];
        sums.translation_squares += delta[3 + k] * delta[3 + k];
        sums.rotation_variance += delta_covariance[7 * k];
        sums.translation_variance += delta_covariance[7 * (3 + k)];
      }
    }
    const NoiseLevels next = reestimatedNoise(sums, noise, captures.size(), corner_residuals, global_parameters);
    if (!(next.image_px > 0.0 && next.rotation_rad > 0.0 && next.translation_m > 0.0)) break;
    const bool settled = nearlyEqual(next, noise);
    uncertainty.noise = next;
    if (settled) break;
  }
  return uncertainty;
}

Uncertainty imageNoiseOnly(ceres::Problem& problem, const Parameters& parameters, const std::vector<Capture>& captures,
                           std::size_t global_parameters) {
  Uncertainty uncertainty;
  double total = 0.0;
  std::size_t corner_residuals = 0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    total += squaredErrorOf(captures[i], parameters, parameters.deltas[i]);
    corner_residuals += 2 * captures[i].corners.size();
  }
  const double freedoms = static_cast<double>(corner_residuals) - static_cast<double>(global_parameters);
  uncertainty.scale = freedoms > 0.0 ? total / freedoms : 0.0;
  uncertainty.noise.image_px = std::sqrt(uncertainty.scale);
  covarianceOf(problem, transformBlocks(parameters), uncertainty.covariance);
  return uncertainty;
}

}  // namespace vemo::calibration::refinement
