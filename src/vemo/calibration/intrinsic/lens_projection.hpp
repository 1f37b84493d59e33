#pragma once

// OpenCV's camera model (pinhole, radial up to the rational model, tangential, thin prism)
// as one template that Ceres can differentiate, and the flat parameter array the
// refinements move. The tilted-sensor model (14 coefficients) is not covered.

#include <opencv2/core.hpp>

#include <array>

namespace vemo::calibration {

// fx, fy, cx, cy, then OpenCV's distortion coefficients k1 k2 p1 p2 k3 k4 k5 k6 s1 s2 s3 s4,
// those the caller's model lacks held at 0.
inline constexpr int kLensParameterCount = 16;
using LensParameters = std::array<double, kLensParameterCount>;

// Pixel position of a point in camera coordinates (z > 0), as cv::projectPoints gives it,
// for a lens of 4 + distortion_count parameters (0, 4, 5, 8 or 12 coefficients); skew is the
// camera matrix's (0, 1) entry, held as given. The terms a model lacks are left out rather
// than multiplied by zero: the same numbers, with derivatives that cost only what the model
// has.
template <int distortion_count, typename T>
void projectThroughModel(const T* lens, double skew, const T* in_camera, T* pixel) {
  static_assert(distortion_count == 0 || distortion_count == 4 || distortion_count == 5 || distortion_count == 8 ||
                distortion_count == 12);
  const T x = in_camera[0] / in_camera[2];
  const T y = in_camera[1] / in_camera[2];
  T xd = x;
  T yd = y;
  if constexpr (distortion_count > 0) {
    const T* d = lens + 4;
    const T r2 = x * x + y * y;
    const T r4 = r2 * r2;
    T radial = T(1) + d[0] * r2 + d[1] * r4;
    if constexpr (distortion_count >= 5) radial += d[4] * (r4 * r2);
    if constexpr (distortion_count >= 8) radial /= T(1) + d[5] * r2 + d[6] * r4 + d[7] * (r4 * r2);
    xd = x * radial + T(2) * d[2] * x * y + d[3] * (r2 + T(2) * x * x);
    yd = y * radial + d[2] * (r2 + T(2) * y * y) + T(2) * d[3] * x * y;
    if constexpr (distortion_count == 12) {
      xd = xd + d[8] * r2 + d[9] * r4;
      yd = yd + d[10] * r2 + d[11] * r4;
    }
  }
  pixel[0] = lens[0] * xd + T(skew) * yd + lens[2];
  pixel[1] = lens[1] * yd + lens[3];
}

// The same over the full parameter array, the coefficients a model lacks held at 0.
template <typename T>
void projectThroughLens(const T* lens, double skew, const T* in_camera, T* pixel) {
  projectThroughModel<kLensParameterCount - 4>(lens, skew, in_camera, pixel);
}

// Predicted minus observed pixel of a point in camera coordinates.
template <typename T>
void reprojectionResidual(const T* lens, double skew, const T* in_camera, const std::array<double, 2>& observed,
                          T* residual) {
  T pixel[2];
  projectThroughLens(lens, skew, in_camera, pixel);
  residual[0] = pixel[0] - T(observed[0]);
  residual[1] = pixel[1] - T(observed[1]);
}

// A camera matrix (3x3) and its distortion coefficients (0, 4, 5, 8 or 12 of them, any
// shape) as lens parameters.
LensParameters lensParametersOf(const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients);

// The camera matrix (with the given skew) and the first distortion_count coefficients
// (1 x distortion_count CV_64F) of lens parameters.
cv::Mat cameraMatrixOf(const LensParameters& lens, double skew);
cv::Mat distortionOf(const LensParameters& lens, int distortion_count);

}  // namespace vemo::calibration
