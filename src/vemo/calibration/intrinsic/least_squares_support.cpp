#include "vemo/calibration/intrinsic/least_squares_support.hpp"

#include <ceres/rotation.h>

#include <Eigen/Dense>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <utility>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration::refinement {

PoseBlock poseBlockOf(const cv::Mat& a_T_b) {
  const cv::Matx44d m = fixedOf<4, 4>(a_T_b);
  PoseBlock block;
  const double rotation[9] = {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
  ceres::RotationMatrixToQuaternion(ceres::RowMajorAdapter3x3<const double>(rotation), block.rotation.data());
  block.translation = {m(0, 3), m(1, 3), m(2, 3)};
  return block;
}

cv::Mat transformOf(const PoseBlock& block) {
  cv::Matx33d rotation;
  ceres::QuaternionToRotation(block.rotation.data(), ceres::RowMajorAdapter3x3(rotation.val));
  return tf::composeTransformationMatrix(cv::Mat(rotation), cv::Mat(cv::Vec3d(block.translation.data())));
}

ceres::Solver::Summary solve(ceres::Problem& problem, int max_iterations, ceres::LinearSolverType linear_solver) {
  ceres::Solver::Options options;
  options.linear_solver_type = linear_solver;
  options.max_num_iterations = max_iterations;
  options.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  return summary;
}

int stepsOf(const ceres::Solver::Summary& summary) {
  return summary.num_successful_steps + summary.num_unsuccessful_steps;
}

// The normal matrix is small (the poses of a few dozen views and a few cameras or lenses) and
// dense once the views are joined, so it is formed and inverted directly: a sparse QR of the
// whole Jacobian, ceres::Covariance's way, costs more than the solve it follows.
bool covarianceOf(ceres::Problem& problem, const std::vector<const double*>& blocks,
                  std::vector<std::vector<double>>& covariances) {
  covariances.clear();
  ceres::Problem::EvaluateOptions options;
  problem.GetParameterBlocks(&options.parameter_blocks);
  options.parameter_blocks.erase(std::remove_if(options.parameter_blocks.begin(), options.parameter_blocks.end(),
                                                [&](double* block) { return problem.IsParameterBlockConstant(block); }),
                                 options.parameter_blocks.end());
  std::unordered_map<const double*, int> column_of;
  int columns = 0;
  for (double* block : options.parameter_blocks) {
    column_of[block] = columns;
    columns += problem.ParameterBlockTangentSize(block);
  }
  ceres::CRSMatrix jacobian;
  if (!problem.Evaluate(options, nullptr, nullptr, nullptr, &jacobian)) return false;

  Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(columns, columns);
  for (int row = 0; row < jacobian.num_rows; ++row) {
    for (int i = jacobian.rows[row]; i < jacobian.rows[row + 1]; ++i) {
      for (int j = i; j < jacobian.rows[row + 1]; ++j) {
        normal(jacobian.cols[i], jacobian.cols[j]) += jacobian.values[i] * jacobian.values[j];
      }
    }
  }
  // Radians, metres and pixels differ by orders of magnitude: judge the rank, and invert, at
  // a unit diagonal. The rank test is ceres::Covariance's default (reciprocal condition 1e-14).
  const Eigen::VectorXd scale = normal.diagonal().cwiseMax(std::numeric_limits<double>::min()).cwiseSqrt().cwiseInverse();
  const Eigen::MatrixXd symmetric = normal.selfadjointView<Eigen::Upper>();
  const Eigen::MatrixXd scaled = scale.asDiagonal() * symmetric * scale.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(scaled);
  if (eigen.info() != Eigen::Success || columns == 0) return false;
  const Eigen::VectorXd& values = eigen.eigenvalues();
  if (!(values(0) > 1e-14 * values(columns - 1))) return false;
  const Eigen::MatrixXd inverse = scale.asDiagonal() *
                                  (eigen.eigenvectors() * values.cwiseInverse().asDiagonal() *
                                   eigen.eigenvectors().transpose()) *
                                  scale.asDiagonal();
  for (const double* block : blocks) {
    const auto found = column_of.find(block);
    if (found == column_of.end()) {
      covariances.clear();
      return false;
    }
    const int size = problem.ParameterBlockTangentSize(block);
    std::vector<double> values_of_block(static_cast<std::size_t>(size * size));
    Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(values_of_block.data(), size,
                                                                                       size) =
        inverse.block(found->second, found->second, size, size);
    covariances.push_back(std::move(values_of_block));
  }
  return true;
}

}  // namespace vemo::calibration::refinement
