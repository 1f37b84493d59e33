#include "vemo/calibration/intrinsic/view_block_least_squares.hpp"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace vemo::calibration {
namespace {

std::vector<ViewNormals> evaluate(const ViewBlockProblem& problem, const BlockParameters& parameters,
                                  bool with_derivatives) {
  std::vector<ViewNormals> normals(problem.viewCount());
  cv::parallel_for_(cv::Range(0, static_cast<int>(normals.size())), [&](const cv::Range& range) {
    for (int i = range.start; i < range.end; ++i) {
      const auto view = static_cast<std::size_t>(i);
      normals[view] = problem.evaluateView(view, parameters.shared, parameters.poses[view], with_derivatives);
    }
  });
  return normals;
}

double squaredErrorOf(const std::vector<ViewNormals>& normals) {
  double sum = 0.0;
  for (const ViewNormals& view : normals) sum += view.squared_error;
  return sum;
}

// The Levenberg-Marquardt step of OpenCV's solver, J'J with its diagonal scaled by 1 + lambda,
// through the Schur complement over the view poses: the parameters minus the solution.
BlockParameters step(const ViewBlockProblem& problem, const BlockParameters& from,
                     const std::vector<ViewNormals>& normals, double lambda) {
  const std::vector<int>& free = problem.freeShared();
  const int free_count = static_cast<int>(free.size());
  const auto index = [&](int k) { return free[static_cast<std::size_t>(k)]; };
  const int columns = std::max(free_count, 1);  // a zero column when nothing shared moves
  cv::Mat complement = cv::Mat::zeros(columns, columns, CV_64F);
  cv::Mat reduced = cv::Mat::zeros(columns, 1, CV_64F);
  for (const ViewNormals& view : normals) {
    for (int r = 0; r < free_count; ++r) {
      reduced.at<double>(r) += view.shared_gradient[index(r)];
      for (int c = 0; c < free_count; ++c) complement.at<double>(r, c) += view.shared_shared(index(r), index(c));
    }
  }
  for (int k = 0; k < free_count; ++k) complement.at<double>(k, k) *= 1.0 + lambda;
  std::vector<cv::Mat> pose_inverses, couplings;  // U'^-1 and the free columns of W, per view
  for (const ViewNormals& view : normals) {
    cv::Mat damped(view.pose_pose, true);
    for (int k = 0; k < 6; ++k) damped.at<double>(k, k) *= 1.0 + lambda;
    cv::Mat inverse;
    if (cv::invert(damped, inverse, cv::DECOMP_CHOLESKY) == 0.0) cv::invert(damped, inverse, cv::DECOMP_SVD);
    cv::Mat coupling = cv::Mat::zeros(6, columns, CV_64F);
    for (int c = 0; c < free_count; ++c) {
      for (int r = 0; r < 6; ++r) coupling.at<double>(r, c) = view.pose_shared(r, index(c));
    }
    if (free_count > 0) {
      complement -= coupling.t() * inverse * coupling;
      reduced -= coupling.t() * (inverse * cv::Mat(view.pose_gradient));
    }
    pose_inverses.push_back(inverse);
    couplings.push_back(coupling);
  }
  cv::Mat shared_step = cv::Mat::zeros(columns, 1, CV_64F);
  if (free_count > 0) cv::solve(complement, reduced, shared_step, cv::DECOMP_SVD);
  BlockParameters next = from;
  for (int k = 0; k < free_count; ++k) next.shared[index(k)] -= shared_step.at<double>(k);
  for (std::size_t i = 0; i < normals.size(); ++i) {
    const cv::Mat pose_step = pose_inverses[i] * (cv::Mat(normals[i].pose_gradient) - couplings[i] * shared_step);
    for (int k = 0; k < 6; ++k) next.poses[i][k] -= pose_step.at<double>(k);
  }
  problem.tie(next.shared);
  return next;
}

double relativeChange(const BlockParameters& now, const BlockParameters& before) {
  double change = cv::norm(now.shared, before.shared, cv::NORM_L2SQR);
  double size = cv::norm(before.shared, cv::NORM_L2SQR);
  for (std::size_t i = 0; i < now.poses.size(); ++i) {
    change += cv::norm(now.poses[i], before.poses[i], cv::NORM_L2SQR);
    size += cv::norm(before.poses[i], cv::NORM_L2SQR);
  }
  return std::sqrt(change) / std::max(std::sqrt(size), DBL_EPSILON);
}

constexpr double kRoundingStep = 1e-12;  // a step this small was let through by the error's rounding

// Where OpenCV's schedule ends on a step too small to lower the error, the error's rounding
// (about 1e-14 of it) hides the last gains, and the point reached depends on which steps
// rounding let through: on weakly determined coefficients up to 1e-7 away from the
// stationary point. Gauss-Newton steps then go on towards it, taken while each is at most
// 0.9 of the one before; a step that no longer shrinks is rounding, and stops them.
void settle(const ViewBlockProblem& problem, BlockParameters& parameters) {
  double previous_change = std::numeric_limits<double>::infinity();
  for (int k = 0; k < 40; ++k) {
    const BlockParameters next = step(problem, parameters, evaluate(problem, parameters, true), 0.0);
    const double change = relativeChange(next, parameters);
    if (!(change <= 0.9 * previous_change)) return;
    parameters = next;
    previous_change = change;
  }
}

}  // namespace

ViewNormals normalsOf(const cv::Mat& jacobian, const cv::Mat& errors) {
  const int shared = jacobian.cols - 6;
  cv::Mat normal, gradient;
  cv::mulTransposed(jacobian, normal, true);
  cv::gemm(jacobian, errors, 1.0, cv::noArray(), 0.0, gradient, cv::GEMM_1_T);
  ViewNormals normals;
  normals.squared_error = errors.dot(errors);
  for (int r = 0; r < 6; ++r) {
    normals.pose_gradient[r] = gradient.at<double>(r);
    for (int c = 0; c < 6; ++c) normals.pose_pose(r, c) = normal.at<double>(r, c);
    for (int c = 0; c < shared; ++c) normals.pose_shared(r, c) = normal.at<double>(r, 6 + c);
  }
  for (int r = 0; r < shared; ++r) {
    normals.shared_gradient[r] = gradient.at<double>(6 + r);
    for (int c = 0; c < shared; ++c) normals.shared_shared(r, c) = normal.at<double>(6 + r, 6 + c);
  }
  return normals;
}

// OpenCV's schedule: lambda starts at 1e-3, is multiplied by 10 while a step raises the error
// (up to 1e16) and divided by 10 after each step taken (down to 1e-16).
double minimiseAsOpenCv(const ViewBlockProblem& problem, BlockParameters& parameters,
                        const cv::TermCriteria& criteria) {
  const int max_iterations = (criteria.type & cv::TermCriteria::COUNT) ? std::clamp(criteria.maxCount, 1, 1000) : 30;
  const double epsilon = (criteria.type & cv::TermCriteria::EPS) ? std::max(criteria.epsilon, 0.0) : DBL_EPSILON;
  int lambda_exponent = -3;
  std::vector<ViewNormals> normals = evaluate(problem, parameters, true);
  double error = squaredErrorOf(normals);
  for (int iteration = 1;; ++iteration) {
    const BlockParameters before = parameters;
    const double error_before = error;
    parameters = step(problem, before, normals, std::pow(10.0, lambda_exponent));
    error = squaredErrorOf(evaluate(problem, parameters, false));
    while (error > error_before && ++lambda_exponent <= 16) {
      parameters = step(problem, before, normals, std::pow(10.0, lambda_exponent));
      error = squaredErrorOf(evaluate(problem, parameters, false));
    }
    lambda_exponent = std::max(lambda_exponent - 1, -16);
    const double change = relativeChange(parameters, before);
    if (change < std::min(epsilon, kRoundingStep)) {
      settle(problem, parameters);
      return squaredErrorOf(evaluate(problem, parameters, false));
    }
    if (iteration >= max_iterations || change < epsilon) return error;
    normals = evaluate(problem, parameters, true);
    error = squaredErrorOf(normals);
  }
}

}  // namespace vemo::calibration
