#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"

#include <ceres/ceres.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_covariance.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_noise.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

using namespace refinement;

void checkInput(const HandEyeRefinementInput& input, const HandEyeRefinementOptions& options) {
  const auto fail = [](const std::string& what) { throw std::invalid_argument("refineHandEye: " + what); };
  if (input.robot_T_tcp_list.size() != input.corners.size()) {
    fail("robot_T_tcp_list and corners must have the same length. Got " +
         std::to_string(input.robot_T_tcp_list.size()) + " vs " + std::to_string(input.corners.size()));
  }
  if (input.corners.size() < eye_in_hand::kMinimumCaptures) {
    fail("needs at least " + std::to_string(eye_in_hand::kMinimumCaptures) + " captures");
  }
  for (std::size_t i = 0; i < input.robot_T_tcp_list.size(); ++i) {
    if (tf::findPoseDefect(input.robot_T_tcp_list[i]) != tf::PoseDefect::None) {
      fail("robot_T_tcp_list[" + std::to_string(i) + "] " +
           tf::describePoseDefect(tf::findPoseDefect(input.robot_T_tcp_list[i])));
    }
  }
  tf::PoseRequirements rigid;
  rigid.orthonormal_rotation = true;
  for (const auto& [name, pose] : {std::pair{"tcp_T_camera", &input.tcp_T_camera},
                                   std::pair{"base_T_target", &input.base_T_target}}) {
    const tf::PoseDefect defect = tf::findPoseDefect(*pose, rigid);
    if (defect != tf::PoseDefect::None) fail(std::string(name) + " " + tf::describePoseDefect(defect));
  }
  if (input.intrinsic_matrix.rows != 3 || input.intrinsic_matrix.cols != 3 || input.intrinsic_matrix.channels() != 1) {
    fail("intrinsic_matrix must be 3x3");
  }
  const std::size_t distortion = input.distortion_coefficients.total() * input.distortion_coefficients.channels();
  if (distortion != 0 && distortion != 4 && distortion != 5 && distortion != 8 && distortion != 12) {
    fail("distortion_coefficients must hold 0, 4, 5, 8 or 12 values (the tilted model is not supported)");
  }
  if (!(options.loss_scale_px > 0.0) || !std::isfinite(options.loss_scale_px)) {
    fail("loss_scale_px must be positive");
  }
  if (!(options.loss_scale_noise_multiple >= 0.0) || !std::isfinite(options.loss_scale_noise_multiple)) {
    fail("loss_scale_noise_multiple must be 0 or positive");
  }
  if (!(options.redescending_noise_multiple >= 0.0) || !std::isfinite(options.redescending_noise_multiple)) {
    fail("redescending_noise_multiple must be 0 or positive");
  }
  if (options.max_iterations < 1) fail("max_iterations must be at least 1");
}

// Rotations move on the unit quaternions. (The lens block holds only the coefficients its
// model has: a free lens moves in those alone.)
void setManifolds(ceres::Problem& problem, Parameters& parameters) {
  problem.SetManifold(parameters.tcp_T_camera.rotation.data(), new ceres::QuaternionManifold);
  problem.SetManifold(parameters.base_T_target.rotation.data(), new ceres::QuaternionManifold);
}

// Every capture's corners under loss, the rotations on their manifolds and the robot pose
// errors held at 0: the fit at the robot poses as given.
void addCorners(ChainProblem& chain_problem, Parameters& parameters, const std::vector<Capture>& captures,
                const CornerLoss& loss, bool lens_fixed) {
  for (std::size_t i = 0; i < captures.size(); ++i) chain_problem.addCapture(captures[i], i, loss, lens_fixed);
  setManifolds(chain_problem.problem(), parameters);
  for (auto& delta : parameters.deltas) chain_problem.problem().SetParameterBlockConstant(delta.data());
}

// The transforms' covariance at the solution with the lens free as well: held fixed, the
// intrinsics' own error (they were estimated, usually from the same corners) would be left
// out of the transforms' sigma. The problem is the solution's, as its uncertainty left it, so
// the robot's pose errors enter as in the solution's own; its lens stays free after.
std::vector<std::vector<double>> covarianceWithLensFree(ChainProblem& problem, Parameters& parameters) {
  problem.problem().SetParameterBlockVariable(parameters.intrinsics.data());
  std::vector<std::vector<double>> covariance;
  covarianceOfChain(problem, covariance);
  return covariance;
}

CornerLoss huber(double scale_px) { return {CornerLoss::Kind::huber, scale_px}; }

// 1-sigma of a transform from its rotation and translation covariance blocks, scaled.
void sigmasOf(const std::vector<double>& rotation, const std::vector<double>& translation, double scale,
              cv::Vec3d& rotation_deg, cv::Vec3d& translation_mm) {
  for (int k = 0; k < 3; ++k) {
    // The quaternion manifold's tangent is half the rotation vector.
    rotation_deg[k] = tf::degreesFromRadians(2.0 * std::sqrt(scale * rotation[4 * k]));
    translation_mm[k] = 1000.0 * std::sqrt(scale * translation[4 * k]);
  }
}

}  // namespace

HandEyeRefinement refineHandEye(const HandEyeRefinementInput& input, const HandEyeRefinementOptions& options) {
  checkInput(input, options);
  const cv::Matx33d camera = fixedOf<3, 3>(input.intrinsic_matrix);
  const std::vector<Capture> captures = capturesOf(input, camera(0, 1));

  Parameters parameters;
  parameters.tcp_T_camera = poseBlockOf(input.tcp_T_camera);
  parameters.base_T_target = poseBlockOf(input.base_T_target);
  parameters.intrinsics = lensParametersOf(input.intrinsic_matrix, input.distortion_coefficients);
  const int distortion_count =
      static_cast<int>(input.distortion_coefficients.total() * input.distortion_coefficients.channels());
  parameters.distortion_count = distortion_count;
  parameters.deltas.assign(captures.size(), {});

  HandEyeRefinement refinement;
  refinement.refined_intrinsics = options.refine_intrinsics;
  refinement.initial_tcp_T_camera = transformOf(parameters.tcp_T_camera);
  for (const Capture& capture : captures) refinement.corner_count += capture.corners.size();
  refinement.rms_before_px = rmsOf(squaredErrorsPerCapture(captures, parameters), refinement.corner_count);

  HandEyeRefinementOptions used = options;
  if (options.loss_scale_noise_multiple > 0.0) {
    // The noise is read off a fit, not off the start: a closed-form start's residuals hold
    // its own error, many times the corners'.
    ChainProblem first(parameters);
    addCorners(first, parameters, captures, huber(options.loss_scale_px), !options.refine_intrinsics);
    const ceres::Solver::Summary summary = solve(first.problem(), options.max_iterations, ceres::DENSE_QR);
    refinement.iterations += stepsOf(summary);
    if (!summary.IsSolutionUsable()) return refinement;
    refinement.loss_scale_corner_noise_px = robustCornerNoise(captures, parameters);
    // Exact corners (noise 0) leave nothing to scale: the given scale stays.
    if (refinement.loss_scale_corner_noise_px > 0.0) {
      used.loss_scale_px = options.loss_scale_noise_multiple * refinement.loss_scale_corner_noise_px;
    }
  }
  refinement.loss_scale_px = used.loss_scale_px;

  CornerLoss loss = huber(used.loss_scale_px);
  auto chain = std::make_unique<ChainProblem>(parameters);
  addCorners(*chain, parameters, captures, loss, !options.refine_intrinsics);
  ceres::Solver::Summary joint = solve(chain->problem(), options.max_iterations, ceres::DENSE_QR);
  refinement.iterations += stepsOf(joint);
  if (joint.IsSolutionUsable() && options.redescending_noise_multiple > 0.0 &&
      refinement.loss_scale_corner_noise_px > 0.0) {
    loss = {CornerLoss::Kind::tukey, options.redescending_noise_multiple * refinement.loss_scale_corner_noise_px};
    refinement.redescending_scale_px = loss.scale_px;
    chain = std::make_unique<ChainProblem>(parameters);
    addCorners(*chain, parameters, captures, loss, !options.refine_intrinsics);
    joint = solve(chain->problem(), options.max_iterations, ceres::DENSE_QR);
    refinement.iterations += stepsOf(joint);
  }
  ChainProblem& chain_problem = *chain;
  refinement.ok = joint.IsSolutionUsable();
  refinement.converged = joint.termination_type == ceres::CONVERGENCE;
  if (!refinement.ok) return refinement;

  const std::size_t global_parameters = 12 + (options.refine_intrinsics ? 4 + distortion_count : 0);
  const NoiseLevels start = startingNoise(captures, parameters, used);
  const bool pose_errors_free = start.image_px > 0.0 && start.rotation_rad > 0.0 && start.translation_m > 0.0;
  const Uncertainty uncertainty =
      pose_errors_free
          ? weighedByNoise(chain_problem, parameters, captures, loss, start, global_parameters, options.max_iterations)
          : imageNoiseOnly(chain_problem, parameters, captures, loss, global_parameters);
  refinement.iterations += uncertainty.iterations;
  refinement.converged = refinement.converged && uncertainty.converged;
  refinement.image_noise_px = uncertainty.noise.image_px;
  refinement.robot_noise_rotation_deg = tf::degreesFromRadians(uncertainty.noise.rotation_rad);
  refinement.robot_noise_translation_mm = 1000.0 * uncertainty.noise.translation_m;
  if (!uncertainty.covariance.empty()) {
    const std::vector<std::vector<double>>& c = uncertainty.covariance;
    sigmasOf(c[0], c[1], uncertainty.scale, refinement.sigma_rotation_deg, refinement.sigma_translation_mm);
    sigmasOf(c[2], c[3], uncertainty.scale, refinement.sigma_target_rotation_deg,
             refinement.sigma_target_translation_mm);
    const std::vector<std::vector<double>> with_lens =
        options.refine_intrinsics ? c
                                  : covarianceWithLensFree(chain_problem, parameters);
    if (!with_lens.empty()) {
      sigmasOf(with_lens[0], with_lens[1], uncertainty.scale, refinement.sigma_with_intrinsics_rotation_deg,
               refinement.sigma_with_intrinsics_translation_mm);
    }
  }
  double with_pose_errors = 0.0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    with_pose_errors += squaredErrorOf(captures[i], parameters, parameters.deltas[i]);
  }
  refinement.rms_with_pose_errors_px = std::sqrt(with_pose_errors / static_cast<double>(refinement.corner_count));

  const std::vector<double> squared = squaredErrorsPerCapture(captures, parameters);
  refinement.rms_after_px = rmsOf(squared, refinement.corner_count);
  for (std::size_t i = 0; i < captures.size(); ++i) {
    refinement.per_capture_rms_px.push_back(std::sqrt(squared[i] / static_cast<double>(captures[i].corners.size())));
  }
  refinement.tcp_T_camera = transformOf(parameters.tcp_T_camera);
  refinement.base_T_target = transformOf(parameters.base_T_target);
  refinement.intrinsic_matrix = cameraMatrixOf(parameters.intrinsics, camera(0, 1));
  refinement.distortion_coefficients = distortionOf(parameters.intrinsics, distortion_count);
  return refinement;
}

}  // namespace vemo::calibration
