#include "vemo/calibration/intrinsic/lens_manifold.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <initializer_list>

namespace vemo::calibration {
namespace {

double squaredLength(const LensDirection& direction) {
  double sum = 0.0;
  for (const auto& entry : direction) sum += entry.second * entry.second;
  return sum;
}

std::vector<int> heldLensParameters(int flags, int distortion_count) {
  std::vector<int> held;
  const auto hold_if = [&](int flag, std::initializer_list<int> indices) {
    if (flags & flag) held.insert(held.end(), indices);
  };
  hold_if(cv::CALIB_FIX_FOCAL_LENGTH, {0, 1});
  hold_if(cv::CALIB_FIX_PRINCIPAL_POINT, {2, 3});
  hold_if(cv::CALIB_FIX_K1, {4});
  hold_if(cv::CALIB_FIX_K2, {5});
  hold_if(cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_TANGENT_DIST, {6, 7});
  hold_if(cv::CALIB_FIX_K3, {8});
  hold_if(cv::CALIB_FIX_K4, {9});
  hold_if(cv::CALIB_FIX_K5, {10});
  hold_if(cv::CALIB_FIX_K6, {11});
  hold_if(cv::CALIB_FIX_S1_S2_S3_S4, {12, 13, 14, 15});
  // Parameters beyond the model are not in the camera's block at all.
  held.erase(std::remove_if(held.begin(), held.end(), [&](int k) { return k >= 4 + distortion_count; }), held.end());
  std::sort(held.begin(), held.end());
  held.erase(std::unique(held.begin(), held.end()), held.end());
  return held;
}

}  // namespace

std::vector<LensDirection> lensDirectionsOf(const LensParameters& lens, int flags, int distortion_count) {
  const std::vector<int> held = heldLensParameters(flags, distortion_count);
  const auto is_held = [&](int k) { return std::find(held.begin(), held.end(), k) != held.end(); };
  const bool tied = (flags & cv::CALIB_FIX_ASPECT_RATIO) && !is_held(0) && !is_held(1);
  std::vector<LensDirection> directions;
  for (int k = 0; k < 4 + distortion_count; ++k) {
    if (is_held(k) || (tied && k == 1)) continue;
    if (tied && k == 0) {
      directions.push_back({{0, 1.0}, {1, lens[1] / lens[0]}});
    } else {
      directions.push_back({{k, 1.0}});
    }
  }
  return directions;
}

LensManifold::LensManifold(int size, std::vector<LensDirection> directions)
    : size_(size), directions_(std::move(directions)) {}

bool LensManifold::Plus(const double* x, const double* delta, double* x_plus_delta) const {
  std::copy(x, x + size_, x_plus_delta);
  for (std::size_t t = 0; t < directions_.size(); ++t) {
    for (const auto& [index, weight] : directions_[t]) x_plus_delta[index] += weight * delta[t];
  }
  return true;
}

bool LensManifold::PlusJacobian(const double*, double* jacobian) const {
  const int tangent = TangentSize();
  std::fill(jacobian, jacobian + size_ * tangent, 0.0);
  for (int t = 0; t < tangent; ++t) {
    for (const auto& [index, weight] : directions_[static_cast<std::size_t>(t)]) jacobian[index * tangent + t] = weight;
  }
  return true;
}

// The directions touch disjoint parameters, so each step is a projection on its own.
bool LensManifold::Minus(const double* y, const double* x, double* y_minus_x) const {
  for (std::size_t t = 0; t < directions_.size(); ++t) {
    double along = 0.0;
    for (const auto& [index, weight] : directions_[t]) along += weight * (y[index] - x[index]);
    y_minus_x[t] = along / squaredLength(directions_[t]);
  }
  return true;
}

bool LensManifold::MinusJacobian(const double*, double* jacobian) const {
  std::fill(jacobian, jacobian + TangentSize() * size_, 0.0);
  for (std::size_t t = 0; t < directions_.size(); ++t) {
    const double length = squaredLength(directions_[t]);
    for (const auto& [index, weight] : directions_[t]) jacobian[t * static_cast<std::size_t>(size_) + index] = weight / length;
  }
  return true;
}

}  // namespace vemo::calibration
