#include "vemo/calibration/hand_eye/hand_eye_refinement_noise.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "vemo/calibration/intrinsic/robust_loss_scale.hpp"

namespace vemo::calibration::refinement {

NoiseLevels startingNoise(const std::vector<Capture>& captures, const Parameters& solution,
                          const HandEyeRefinementOptions& options) {
  double rotation_spread = 0.0, translation_spread = 0.0, residual_sum = 0.0;
  std::size_t residual_count = 0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    Parameters alone = solution;
    alone.deltas[i] = {};
    ChainProblem chain_problem(alone);
    chain_problem.addCapture(captures[i], i, CornerLoss{CornerLoss::Kind::huber, options.loss_scale_px}, true);
    ceres::Problem& problem = chain_problem.problem();
    for (double* block : {alone.tcp_T_camera.rotation.data(), alone.tcp_T_camera.translation.data(),
                          alone.base_T_target.rotation.data(), alone.base_T_target.translation.data()}) {
      problem.SetParameterBlockConstant(block);
    }
    solve(problem, options.max_iterations, ceres::DENSE_QR);
    const auto& delta = alone.deltas[i];
    rotation_spread += delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2];
    translation_spread += delta[3] * delta[3] + delta[4] * delta[4] + delta[5] * delta[5];
    residual_sum += squaredErrorOf(captures[i], alone, delta);
    residual_count += 2 * captures[i].corners.size();
  }
  NoiseLevels noise;
  const double freedoms = static_cast<double>(residual_count) - 6.0 * static_cast<double>(captures.size());
  if (freedoms <= 0.0) return noise;
  const double count = 3.0 * static_cast<double>(captures.size());
  noise.image_px = std::sqrt(residual_sum / freedoms);
  noise.rotation_rad = std::sqrt(rotation_spread / count);
  noise.translation_m = std::sqrt(translation_spread / count);
  return noise;
}

double robustCornerNoise(const std::vector<Capture>& captures, const Parameters& solution) {
  std::vector<double> deviations;
  for (const Capture& capture : captures) {
    forEachResidual(capture, solution, {}, [&deviations](const double* residual) {
      deviations.push_back(std::abs(residual[0]));
      deviations.push_back(std::abs(residual[1]));
    });
  }
  return robustNoiseOf(std::move(deviations));
}

NoiseLevels reestimatedNoise(const ComponentSums& sums, const NoiseLevels& used, std::size_t captures,
                             std::size_t global_parameters) {
  const double count = 3.0 * static_cast<double>(captures);
  const double image_variance = used.image_px * used.image_px;
  const double rotation_redundancy =
      count - image_variance / (used.rotation_rad * used.rotation_rad) * sums.rotation_variance;
  const double translation_redundancy =
      count - image_variance / (used.translation_m * used.translation_m) * sums.translation_variance;
  const double corner_redundancy = sums.corner_residuals - static_cast<double>(global_parameters) -
                                   rotation_redundancy - translation_redundancy;
  NoiseLevels noise;
  noise.image_px = std::sqrt(sums.corner_squares / corner_redundancy);
  noise.rotation_rad = rotation_redundancy > 0.0 ? std::sqrt(sums.rotation_squares / rotation_redundancy) : 0.0;
  noise.translation_m =
      translation_redundancy > 0.0 ? std::sqrt(sums.translation_squares / translation_redundancy) : 0.0;
  return noise;
}

bool nearlyEqual(const NoiseLevels& a, const NoiseLevels& b) {
  const auto close = [](double x, double y) { return std::abs(x - y) <= 0.05 * std::max(x, y); };
  return close(a.image_px, b.image_px) && close(a.rotation_rad, b.rotation_rad) &&
         close(a.translation_m, b.translation_m);
}

}  // namespace vemo::calibration::refinement
