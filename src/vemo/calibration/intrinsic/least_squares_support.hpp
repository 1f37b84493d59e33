#pragma once

// What the calibrations' Ceres problems share (the hand-eye refinement, the rig's bundle
// adjustment): poses as parameter blocks, a quiet solve, and covariance blocks.

#include <ceres/ceres.h>
#include <opencv2/core.hpp>

#include <array>
#include <vector>

namespace vemo::calibration::refinement {

// A pose as the solver moves it: unit quaternion (w, x, y, z) and translation.
struct PoseBlock {
  std::array<double, 4> rotation{};
  std::array<double, 3> translation{};
};

// A matrix of known size as doubles.
template <int rows, int cols>
cv::Matx<double, rows, cols> fixedOf(const cv::Mat& matrix) {
  cv::Mat as_double;
  matrix.convertTo(as_double, CV_64F);
  return cv::Matx<double, rows, cols>(as_double.ptr<double>());
}

// a_T_b (4x4) as a pose block, and back.
PoseBlock poseBlockOf(const cv::Mat& a_T_b);
cv::Mat transformOf(const PoseBlock& block);

// Solves with the given linear solver and iteration limit, Ceres printing nothing.
ceres::Solver::Summary solve(ceres::Problem& problem, int max_iterations, ceres::LinearSolverType linear_solver);

// Steps taken, successful or not.
int stepsOf(const ceres::Solver::Summary& summary);

// Unscaled tangent-space covariances of the listed blocks (their diagonal blocks), or
// nothing when the Jacobian is rank deficient.
bool covarianceOf(ceres::Problem& problem, const std::vector<const double*>& blocks,
                  std::vector<std::vector<double>>& covariances);

}  // namespace vemo::calibration::refinement
