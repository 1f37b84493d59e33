#include "vemo/calibration/intrinsic/least_squares_support.hpp"

#include <ceres/rotation.h>

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

bool covarianceOf(ceres::Problem& problem, const std::vector<const double*>& blocks,
                  std::vector<std::vector<double>>& covariances) {
  covariances.clear();
  ceres::Covariance covariance{ceres::Covariance::Options()};
  std::vector<std::pair<const double*, const double*>> pairs;
  for (const double* block : blocks) pairs.emplace_back(block, block);
  if (!covariance.Compute(pairs, &problem)) return false;
  for (const double* block : blocks) {
    const int size = problem.ParameterBlockTangentSize(block);
    std::vector<double> values(static_cast<std::size_t>(size * size));
    if (!covariance.GetCovarianceBlockInTangentSpace(block, block, values.data())) {
      covariances.clear();
      return false;
    }
    covariances.push_back(std::move(values));
  }
  return true;
}

}  // namespace vemo::calibration::refinement
