#include "vemo/calibration/hand_eye/hand_eye_refinement_covariance.hpp"

#include <Eigen/Dense>

#include <cmath>
#include <limits>
#include <utility>

namespace vemo::calibration::refinement {

namespace {

// Alternations of solving and re-estimating the noise levels; they settle within a few.
constexpr int kNoiseEstimationRounds = 6;

// A symmetric matrix's inverse through its eigen decomposition, or false when its reciprocal
// condition is below 1e-14 (ceres::Covariance's default test).
template <class Matrix>
bool inverseOf(const Matrix& matrix, Matrix& inverse) {
  const Eigen::SelfAdjointEigenSolver<Matrix> eigen(matrix);
  if (eigen.info() != Eigen::Success || matrix.rows() == 0) return false;
  const auto& values = eigen.eigenvalues();
  if (!(values(0) > 1e-14 * values(values.size() - 1))) return false;
  inverse = eigen.eigenvectors() * values.cwiseInverse().asDiagonal() * eigen.eigenvectors().transpose();
  return true;
}

// 1 / sqrt of a normal matrix's diagonal: radians, metres and pixels differ by orders of
// magnitude, so the rank is judged, and the inversion done, at a unit diagonal.
template <class Diagonal>
Eigen::VectorXd unitScaleOf(const Diagonal& diagonal) {
  return diagonal.cwiseMax(std::numeric_limits<double>::min()).cwiseSqrt().cwiseInverse();
}

template <class Block>
std::vector<double> rowMajor(const Block& block) {
  std::vector<double> values(static_cast<std::size_t>(block.size()));
  Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(values.data(), block.rows(),
                                                                                     block.cols()) = block;
  return values;
}

}  // namespace

bool covarianceOfChain(ChainProblem& problem, std::vector<std::vector<double>>& covariances) {
  covariances.clear();
  using Matrix6 = Eigen::Matrix<double, 6, 6>;
  using Coupling = Eigen::Matrix<double, Eigen::Dynamic, 6>;
  // A free pose error's blocks at a unit diagonal: D_i, B_i, D_i^-1 and B_i D_i^-1.
  struct PoseError {
    Eigen::Matrix<double, 6, 1> scale;
    Matrix6 normal;
    Coupling coupling;
    Matrix6 inverse;
    Coupling weight;
  };
  const NormalBlocks normal = problem.normalBlocks();
  const Eigen::VectorXd global_scale = unitScaleOf(normal.global.diagonal());
  const Eigen::MatrixXd global_normal = global_scale.asDiagonal() * normal.global * global_scale.asDiagonal();
  std::vector<PoseError> pose_errors(normal.pose_error.size());
  Eigen::MatrixXd complement = global_normal;  // S = A - sum B_i D_i^-1 B_i'
  for (std::size_t i = 0; i < pose_errors.size(); ++i) {
    PoseError& pose_error = pose_errors[i];
    pose_error.scale = unitScaleOf(normal.pose_error[i].diagonal());
    pose_error.normal = pose_error.scale.asDiagonal() * normal.pose_error[i] * pose_error.scale.asDiagonal();
    if (!inverseOf(pose_error.normal, pose_error.inverse)) return false;
    pose_error.coupling = global_scale.asDiagonal() * normal.coupling[i] * pose_error.scale.asDiagonal();
    pose_error.weight = pose_error.coupling * pose_error.inverse;
    complement.noalias() -= pose_error.weight * pose_error.coupling.transpose();
  }
  Eigen::MatrixXd complement_inverse;
  if (!inverseOf(Eigen::MatrixXd(0.5 * (complement + complement.transpose())), complement_inverse)) return false;

  // S is a small difference of large matrices where the pose errors take up most of what the
  // corners tell of the transforms (A's eigenvalues exceed S's a hundredfold), and S^-1 is off
  // by some 4e-10 relative. One step of iterative refinement against the whole normal matrix's
  // blocks, for the global columns X of its inverse (pose error rows X_i = -W_i' X), brings it
  // within 1e-11 of an inversion in long double, closer than a dense inversion of the whole
  // matrix comes (5e-11).
  Eigen::MatrixXd global_residual = Eigen::MatrixXd::Identity(global_normal.rows(), global_normal.cols()) -
                                    global_normal * complement_inverse;
  Eigen::MatrixXd correction = Eigen::MatrixXd::Zero(global_normal.rows(), global_normal.cols());
  for (const PoseError& pose_error : pose_errors) {
    const Eigen::Matrix<double, 6, Eigen::Dynamic> rows = -pose_error.weight.transpose() * complement_inverse;
    global_residual.noalias() -= pose_error.coupling * rows;
    const Eigen::Matrix<double, 6, Eigen::Dynamic> residual =
        -(pose_error.coupling.transpose() * complement_inverse + pose_error.normal * rows);
    correction.noalias() -= pose_error.weight * residual;
  }
  correction += global_residual;
  Eigen::MatrixXd global_inverse = complement_inverse + complement_inverse * correction;
  global_inverse = (0.5 * (global_inverse + global_inverse.transpose())).eval();

  const Eigen::MatrixXd global = global_scale.asDiagonal() * global_inverse * global_scale.asDiagonal();
  for (std::size_t block = 0; block < kTransformBlocks; ++block) {
    covariances.push_back(rowMajor(global.block<3, 3>(3 * static_cast<int>(block), 3 * static_cast<int>(block))));
  }
  // A pose error's block of the inverse: D_i^-1 + W_i' S^-1 W_i.
  for (const PoseError& pose_error : pose_errors) {
    const Matrix6 scaled = pose_error.inverse + pose_error.weight.transpose() * global_inverse * pose_error.weight;
    covariances.push_back(rowMajor(pose_error.scale.asDiagonal() * scaled * pose_error.scale.asDiagonal()));
  }
  return true;
}

Uncertainty weighedByNoise(ChainProblem& problem, Parameters& parameters, const std::vector<Capture>& captures,
                           const CornerLoss& loss, const NoiseLevels& start, std::size_t global_parameters,
                           int max_iterations) {
  problem.freePoseErrors();

  Uncertainty uncertainty;
  uncertainty.noise = start;
  for (int round = 0; round < kNoiseEstimationRounds; ++round) {
    const NoiseLevels& noise = uncertainty.noise;
    for (int k = 0; k < 3; ++k) {
      parameters.prior_weights[k] = noise.image_px / noise.rotation_rad;
      parameters.prior_weights[3 + k] = noise.image_px / noise.translation_m;
    }
    const ceres::Solver::Summary summary = solve(problem.problem(), max_iterations, ceres::DENSE_SCHUR);
    uncertainty.iterations += stepsOf(summary);
    uncertainty.converged = uncertainty.converged && summary.termination_type == ceres::CONVERGENCE;
    if (!covarianceOfChain(problem, uncertainty.covariance)) break;
    uncertainty.scale = noise.image_px * noise.image_px;
    ComponentSums sums;
    for (std::size_t i = 0; i < captures.size(); ++i) {
      const auto& delta = parameters.deltas[i];
      const std::vector<double>& delta_covariance = uncertainty.covariance[kTransformBlocks + i];
      const KeptSquares kept = keptSquaresOf(captures[i], parameters, delta, loss);
      sums.corner_squares += kept.squares;
      sums.corner_residuals += kept.residuals;
      for (int k = 0; k < 3; ++k) {
        sums.rotation_squares += delta[k] * delta[k];
        sums.translation_squares += delta[3 + k] * delta[3 + k];
        sums.rotation_variance += delta_covariance[7 * k];
        sums.translation_variance += delta_covariance[7 * (3 + k)];
      }
    }
    const NoiseLevels next = reestimatedNoise(sums, noise, captures.size(), global_parameters);
    if (!(next.image_px > 0.0 && next.rotation_rad > 0.0 && next.translation_m > 0.0)) break;
    const bool settled = nearlyEqual(next, noise);
    uncertainty.noise = next;
    if (settled) break;
  }
  return uncertainty;
}

Uncertainty imageNoiseOnly(ChainProblem& problem, const Parameters& parameters, const std::vector<Capture>& captures,
                           const CornerLoss& loss, std::size_t global_parameters) {
  Uncertainty uncertainty;
  double total = 0.0, corner_residuals = 0.0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    const KeptSquares kept = keptSquaresOf(captures[i], parameters, parameters.deltas[i], loss);
    total += kept.squares;
    corner_residuals += kept.residuals;
  }
  const double freedoms = corner_residuals - static_cast<double>(global_parameters);
  uncertainty.scale = freedoms > 0.0 ? total / freedoms : 0.0;
  uncertainty.noise.image_px = std::sqrt(uncertainty.scale);
  covarianceOfChain(problem, uncertainty.covariance);
  return uncertainty;
}

}  // namespace vemo::calibration::refinement
