#pragma once

// The ways OpenCV's calibration flags let a lens block (lens_projection.hpp's layout: fx fy
// cx cy, then the distortion coefficients) move, as a Ceres manifold: a held parameter has
// no direction, and under a fixed aspect ratio fx and fy move together at the starting ratio.

#include <ceres/manifold.h>

#include <utility>
#include <vector>

#include "vemo/calibration/intrinsic/lens_projection.hpp"

namespace vemo::calibration {

// One way the lens block may move: the parameters it changes, with their weights.
using LensDirection = std::vector<std::pair<int, double>>;

// Every parameter of a lens of 4 + distortion_count parameters that the cv::CALIB_* flags do
// not hold, each on its own; under CALIB_FIX_ASPECT_RATIO fy follows fx at the ratio of `lens`.
// Empty when the flags hold the whole lens.
std::vector<LensDirection> lensDirectionsOf(const LensParameters& lens, int flags, int distortion_count);

// The lens block's tangent space spanned by the directions (which touch disjoint parameters).
class LensManifold final : public ceres::Manifold {
 public:
  LensManifold(int size, std::vector<LensDirection> directions);

  int AmbientSize() const override { return size_; }
  int TangentSize() const override { return static_cast<int>(directions_.size()); }
  bool Plus(const double* x, const double* delta, double* x_plus_delta) const override;
  bool PlusJacobian(const double* x, double* jacobian) const override;
  bool Minus(const double* y, const double* x, double* y_minus_x) const override;
  bool MinusJacobian(const double* x, double* jacobian) const override;

 private:
  int size_;
  std::vector<LensDirection> directions_;
};

}  // namespace vemo::calibration
