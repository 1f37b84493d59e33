#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration::refinement {

namespace {

cv::Mat pointRows(const cv::Mat& points, int width, const char* name) {
  cv::Mat rows = points.isContinuous() ? points : points.clone();
  if (rows.total() * rows.channels() % width != 0) {
    throw std::invalid_argument(std::string("refineHandEye: ") + name + " must hold " + std::to_string(width) +
                                " numbers per point");
  }
  cv::Mat as_double;
  rows.reshape(1, static_cast<int>(rows.total() * rows.channels() / width)).convertTo(as_double, CV_64F);
  return as_double;
}

}  // namespace

bool DeltaPrior::Evaluate(double const* const* parameters, double* residuals, double** jacobians) const {
  const std::array<double, 6>& weights = *weights_;
  for (int k = 0; k < 6; ++k) residuals[k] = weights[k] * parameters[0][k];
  if (jacobians != nullptr && jacobians[0] != nullptr) {
    std::fill(jacobians[0], jacobians[0] + 36, 0.0);
    for (int k = 0; k < 6; ++k) jacobians[0][7 * k] = weights[k];
  }
  return true;
}

std::vector<Capture> capturesOf(const HandEyeRefinementInput& input, double skew) {
  std::vector<Capture> captures(input.corners.size());
  for (std::size_t i = 0; i < input.corners.size(); ++i) {
    const cv::Mat object = pointRows(input.corners[i].object_points, 3, "object_points");
    const cv::Mat image = pointRows(input.corners[i].image_points, 2, "image_points");
    if (object.rows != image.rows || object.rows == 0) {
      throw std::invalid_argument("refineHandEye: capture " + std::to_string(i) +
                                  " needs as many image points as object points, at least one");
    }
    const cv::Matx44d tcp_T_base = fixedOf<4, 4>(input.robot_T_tcp_list[i]).inv();
    for (int j = 0; j < object.rows; ++j) {
      CornerResidual corner{};
      corner.point = {object.at<double>(j, 0), object.at<double>(j, 1), object.at<double>(j, 2)};
      corner.observed = {image.at<double>(j, 0), image.at<double>(j, 1)};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) corner.tcp_R_base[3 * r + c] = tcp_T_base(r, c);
        corner.tcp_t_base[r] = tcp_T_base(r, 3);
      }
      corner.skew = skew;
      corner.error_at_target = input.flange_holds == FlangeHolds::target;
      captures[i].corners.push_back(corner);
    }
  }
  return captures;
}

void addCapture(ceres::Problem& problem, Parameters& parameters, const Capture& capture, std::size_t index,
                ceres::LossFunction* loss, bool lens_fixed) {
  double* intrinsics = parameters.intrinsics.data();
  for (const CornerResidual& corner : capture.corners) {
    problem.AddResidualBlock(
        new ChainedCornerCost<CornerResidual, kIntrinsicCount - 4, 4, 3, 4, 3, 6>(corner, corner.observed, corner.skew),
        loss, parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
        parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
        parameters.deltas[index].data(), intrinsics);
  }
  if (lens_fixed) problem.SetParameterBlockConstant(intrinsics);
}

double squaredErrorOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta) {
  const double* blocks[] = {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
                            parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
                            delta.data()};
  double sum = 0.0;
  for (const CornerResidual& corner : capture.corners) {
    double in_camera[3], residual[2];
    corner(blocks, in_camera);
    reprojectionResidual(parameters.intrinsics.data(), corner.skew, in_camera, corner.observed, residual);
    sum += residual[0] * residual[0] + residual[1] * residual[1];
  }
  return sum;
}

std::vector<double> squaredErrorsPerCapture(const std::vector<Capture>& captures, const Parameters& parameters) {
  std::vector<double> sums;
  for (const Capture& capture : captures) sums.push_back(squaredErrorOf(capture, parameters, {}));
  return sums;
}

double rmsOf(const std::vector<double>& squared_sums, std::size_t corner_count) {
  double total = 0.0;
  for (double sum : squared_sums) total += sum;
  return std::sqrt(total / static_cast<double>(corner_count));
}

}  // namespace vemo::calibration::refinement
