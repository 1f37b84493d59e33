#include "vemo/synthetic/lens.hpp"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemo::synthetic {

namespace {

bool allFinite(const std::vector<double>& values) {
  for (double value : values) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

// OpenCV's sensor-tilt projection (the last two of 14 coefficients).
cv::Matx33d tiltProjection(double tau_x, double tau_y) {
  const double cx = std::cos(tau_x), sx = std::sin(tau_x), cy = std::cos(tau_y), sy = std::sin(tau_y);
  const cv::Matx33d rot_x(1, 0, 0, 0, cx, sx, 0, -sx, cx);
  const cv::Matx33d rot_y(cy, 0, -sy, 0, 1, 0, sy, 0, cy);
  const cv::Matx33d rot_xy = rot_y * rot_x;
  const cv::Matx33d proj_z(rot_xy(2, 2), 0, -rot_xy(0, 2), 0, rot_xy(2, 2), -rot_xy(1, 2), 0, 0, 1);
  return proj_z * rot_xy;
}

}  // namespace

Lens::Lens(const cv::Mat& camera_matrix, const cv::Mat& dist_coeffs, const char* operation) {
  const auto reject = [&](const std::string& message) {
    throw std::invalid_argument(std::string(operation) + ": " + message);
  };
  if (camera_matrix.rows != 3 || camera_matrix.cols != 3 || camera_matrix.channels() != 1) {
    reject("camera_matrix must be 3x3");
  }
  std::vector<double> k;
  camera_matrix.reshape(1, 9).convertTo(k, CV_64F);
  if (!allFinite(k) || !(k[0] > 0) || !(k[4] > 0)) reject("camera_matrix must be finite with positive focal lengths");
  // The projection below, like cv::projectPoints, reads only fx, fy, cx and cy: a view
  // rendered from any other matrix would not show what that matrix describes.
  if (k[1] != 0 || k[3] != 0 || k[6] != 0 || k[7] != 0 || k[8] != 1) {
    reject("camera_matrix must be [fx 0 cx; 0 fy cy; 0 0 1] (skew is not modelled)");
  }
  fx_ = k[0];
  fy_ = k[4];
  cx_ = k[2];
  cy_ = k[5];

  const size_t count = dist_coeffs.total() * dist_coeffs.channels();
  if (!dist_coeffs.empty() &&
      ((dist_coeffs.rows != 1 && dist_coeffs.cols != 1) ||
       (count != 4 && count != 5 && count != 8 && count != 12 && count != 14))) {
    reject("dist_coeffs must hold 4, 5, 8, 12 or 14 values");
  }
  std::vector<double> d(14, 0.0);
  if (count > 0) {
    std::vector<double> given;
    dist_coeffs.reshape(1, static_cast<int>(count)).convertTo(given, CV_64F);
    std::copy(given.begin(), given.end(), d.begin());
  }
  if (!allFinite(d)) reject("dist_coeffs must be finite");
  k_[0] = d[0];
  k_[1] = d[1];
  p_[0] = d[2];
  p_[1] = d[3];
  k_[2] = d[4];
  k_[3] = d[5];
  k_[4] = d[6];
  k_[5] = d[7];
  for (int i = 0; i < 4; ++i) s_[i] = d[8 + i];
  tilt_ = tiltProjection(d[12], d[13]);
  tilt_inverse_ = tilt_.inv();
}

cv::Point2d Lens::distort(const cv::Point2d& xy, cv::Matx22d* jacobian) const {
  const double x = xy.x, y = xy.y;
  const double r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
  const double cdist = 1 + k_[0] * r2 + k_[1] * r4 + k_[2] * r6;
  const double icdist2 = 1. / (1 + k_[3] * r2 + k_[4] * r4 + k_[5] * r6);
  const double radial = cdist * icdist2;
  const cv::Point2d distorted(x * radial + p_[0] * 2 * x * y + p_[1] * (r2 + 2 * x * x) + s_[0] * r2 + s_[1] * r4,
                              y * radial + p_[0] * (r2 + 2 * y * y) + p_[1] * 2 * x * y + s_[2] * r2 + s_[3] * r4);
  if (jacobian) {
    const double dradial_dr2 = (k_[0] + 2 * k_[1] * r2 + 3 * k_[2] * r4) * icdist2 -
                               cdist * icdist2 * icdist2 * (k_[3] + 2 * k_[4] * r2 + 3 * k_[5] * r4);
    const double prism_x = s_[0] + 2 * s_[1] * r2, prism_y = s_[2] + 2 * s_[3] * r2;
    *jacobian = cv::Matx22d(
        radial + 2 * x * x * dradial_dr2 + 2 * p_[0] * y + 6 * p_[1] * x + 2 * x * prism_x,
        2 * x * y * dradial_dr2 + 2 * p_[0] * x + 2 * p_[1] * y + 2 * y * prism_x,
        2 * x * y * dradial_dr2 + 2 * p_[0] * x + 2 * p_[1] * y + 2 * x * prism_y,
        radial + 2 * y * y * dradial_dr2 + 6 * p_[0] * y + 2 * p_[1] * x + 2 * y * prism_y);
  }
  return distorted;
}

cv::Point2d Lens::project(const cv::Point2d& normalized) const {
  const cv::Point2d distorted = distort(normalized, nullptr);
  const cv::Vec3d tilted = tilt_ * cv::Vec3d(distorted.x, distorted.y, 1);
  const double inv_proj = tilted[2] != 0 ? 1. / tilted[2] : 1;
  return {fx_ * inv_proj * tilted[0] + cx_, fy_ * inv_proj * tilted[1] + cy_};
}

std::optional<cv::Point2d> Lens::unproject(const cv::Point2d& pixel, const cv::Point2d& guess) const {
  const cv::Vec3d untilted = tilt_inverse_ * cv::Vec3d((pixel.x - cx_) / fx_, (pixel.y - cy_) / fy_, 1);
  if (!(std::abs(untilted[2]) > 0)) return std::nullopt;
  const cv::Point2d goal(untilted[0] / untilted[2], untilted[1] / untilted[2]);

  constexpr int kMaxIterations = 60;
  // Squared residuals, normalized units: 1e-15 and 1e-12 are far below 1e-9 px.
  constexpr double kConverged = 1e-30;
  constexpr double kAccepted = 1e-24;
  cv::Point2d xy = guess;
  cv::Matx22d jacobian;
  cv::Point2d residual = distort(xy, &jacobian) - goal;
  double error = residual.dot(residual);
  for (int iteration = 0; iteration < kMaxIterations && error > kConverged; ++iteration) {
    const double det = cv::determinant(jacobian);
    if (!(std::abs(det) > 0)) return std::nullopt;
    const cv::Vec2d step = jacobian.inv() * cv::Vec2d(residual.x, residual.y);
    // Halve the step while it does not reduce the residual: Newton can overshoot where the
    // distortion bends strongly.
    double scale = 1.0;
    for (int halving = 0; halving < 30; ++halving, scale /= 2) {
      const cv::Point2d candidate(xy.x - scale * step[0], xy.y - scale * step[1]);
      cv::Matx22d candidate_jacobian;
      const cv::Point2d candidate_residual = distort(candidate, &candidate_jacobian) - goal;
      const double candidate_error = candidate_residual.dot(candidate_residual);
      if (candidate_error < error) {
        xy = candidate;
        jacobian = candidate_jacobian;
        residual = candidate_residual;
        error = candidate_error;
        break;
      }
    }
    if (scale < 1e-8) break;
  }
  // Beyond the fold the model maps more than one ray to a pixel; only the branch where it
  // preserves orientation is the image a lens forms.
  if (!(error < kAccepted) || !(cv::determinant(jacobian) > 0)) return std::nullopt;
  return xy;
}

}  // namespace vemo::synthetic
