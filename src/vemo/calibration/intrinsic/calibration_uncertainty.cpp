#include "vemo/calibration/intrinsic/calibration_uncertainty.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/core/version.hpp>

#include <cmath>

namespace vemo::calibration {
namespace {

constexpr int kIntrinsicCount = 18;  // OpenCV's intrinsic parameter vector: f, c, 14 distortion terms

// Flags that only decide which parameters are free.
constexpr int kParameterFlags =
    cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_ZERO_TANGENT_DIST |
    cv::CALIB_FIX_FOCAL_LENGTH | cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_FIX_K4 |
    cv::CALIB_FIX_K5 | cv::CALIB_FIX_K6 | cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL |
    cv::CALIB_FIX_S1_S2_S3_S4 | cv::CALIB_TILTED_MODEL | cv::CALIB_FIX_TAUX_TAUY | cv::CALIB_FIX_TANGENT_DIST;

// The residual variance is the squared residual norm over the degrees of freedom, which
// OpenCV 4.6 counts as points minus free parameters (a point one residual). Later versions
// count differently; until their count is checked here, they keep OpenCV's extended solve.
bool residualCountKnown() { return CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR == 6; }
double degreesOfFreedom(int points, int free_parameters) { return static_cast<double>(points - free_parameters); }

// Which of the 18 intrinsic parameters the solve left free, as cv::calibrateCamera decides
// it from the flags and the number of distortion coefficients.
std::vector<bool> freeIntrinsics(int flags, int distortion_count) {
  if (distortion_count < 8) {
    if (distortion_count < 5) flags |= cv::CALIB_FIX_K3;
    flags |= cv::CALIB_FIX_K4 | cv::CALIB_FIX_K5 | cv::CALIB_FIX_K6;
  }
  if (!(flags & cv::CALIB_RATIONAL_MODEL)) flags |= cv::CALIB_FIX_K4 | cv::CALIB_FIX_K5 | cv::CALIB_FIX_K6;
  if (!(flags & cv::CALIB_THIN_PRISM_MODEL)) flags |= cv::CALIB_FIX_S1_S2_S3_S4;
  if (!(flags & cv::CALIB_TILTED_MODEL)) flags |= cv::CALIB_FIX_TAUX_TAUY;
  const bool tangential = !(flags & (cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_TANGENT_DIST));
  const bool focal = !(flags & cv::CALIB_FIX_FOCAL_LENGTH);
  const bool centre = !(flags & cv::CALIB_FIX_PRINCIPAL_POINT);
  const bool prism = !(flags & cv::CALIB_FIX_S1_S2_S3_S4);
  const bool tilt = !(flags & cv::CALIB_FIX_TAUX_TAUY);
  return {focal,
          focal,
          centre,
          centre,
          !(flags & cv::CALIB_FIX_K1),
          !(flags & cv::CALIB_FIX_K2),
          tangential,
          tangential,
          !(flags & cv::CALIB_FIX_K3),
          !(flags & cv::CALIB_FIX_K4),
          !(flags & cv::CALIB_FIX_K5),
          !(flags & cv::CALIB_FIX_K6),
          prism,
          prism,
          prism,
          prism,
          tilt,
          tilt};
}

}  // namespace

bool calibrationUncertaintyMatchesOpenCv(int calibrate_camera_flags) {
  return residualCountKnown() && (calibrate_camera_flags & ~kParameterFlags) == 0;
}

std::optional<CalibrationUncertainty> calibrationUncertainty(const std::vector<cv::Mat>& object_points,
                                                             const std::vector<cv::Mat>& image_points,
                                                             const cv::Mat& intrinsic_matrix,
                                                             const cv::Mat& distortion_coefficients,
                                                             const std::vector<cv::Mat>& rotation_vectors,
                                                             const std::vector<cv::Mat>& translation_vectors,
                                                             int calibrate_camera_flags) {
  const int views = static_cast<int>(object_points.size());
  const int distortion_count = static_cast<int>(distortion_coefficients.total());
  const int parameters = kIntrinsicCount + 6 * views;

  // The normal matrix J'J over all parameters, assembled view by view in OpenCV's layout
  // and with its products, so that its inverse comes out as OpenCV's does: the intrinsic
  // block sums over the views, each view adds its 6 x 6 block and its intrinsic-extrinsic
  // block above the diagonal.
  cv::Mat normal = cv::Mat::zeros(parameters, parameters, CV_64F);
  CalibrationUncertainty uncertainty;
  double squared_residuals = 0.0;
  int points = 0;
  for (int i = 0; i < views; ++i) {
    const auto view = static_cast<std::size_t>(i);
    // In double, as the solver projects (the projection comes back in the input's depth).
    cv::Mat board_points, projected, jacobian, observed;
    object_points[view].convertTo(board_points, CV_64F);
    cv::projectPoints(board_points, rotation_vectors[view], translation_vectors[view], intrinsic_matrix,
                      distortion_coefficients, projected, jacobian);
    image_points[view].convertTo(observed, CV_64F);
    const double view_squared = cv::norm(projected, observed.reshape(2, projected.rows), cv::NORM_L2SQR);
    uncertainty.per_view_errors.push_back(std::sqrt(view_squared / projected.rows));
    squared_residuals += view_squared;
    points += projected.rows;

    // projectPoints' columns: rvec 0-2, tvec 3-5, f 6-7, c 8-9, distortion 10-.
    cv::Mat intrinsic_jacobian = cv::Mat::zeros(jacobian.rows, kIntrinsicCount, CV_64F);
    jacobian.colRange(6, 10 + distortion_count).copyTo(intrinsic_jacobian.colRange(0, 4 + distortion_count));
    const cv::Mat extrinsic_jacobian = jacobian.colRange(0, 6);
    const int offset = kIntrinsicCount + 6 * i;
    normal(cv::Rect(0, 0, kIntrinsicCount, kIntrinsicCount)) += intrinsic_jacobian.t() * intrinsic_jacobian;
    normal(cv::Rect(offset, offset, 6, 6)) = extrinsic_jacobian.t() * extrinsic_jacobian;
    normal(cv::Rect(offset, 0, 6, kIntrinsicCount)) = intrinsic_jacobian.t() * extrinsic_jacobian;
  }

  std::vector<bool> free = freeIntrinsics(calibrate_camera_flags, distortion_count);
  free.resize(static_cast<std::size_t>(parameters), true);
  std::vector<int> free_indices;
  for (int p = 0; p < parameters; ++p) {
    if (free[static_cast<std::size_t>(p)]) free_indices.push_back(p);
  }
  const int free_count = static_cast<int>(free_indices.size());
  if (points <= free_count) return std::nullopt;
  cv::Mat free_normal(free_count, free_count, CV_64F);
  for (int r = 0; r < free_count; ++r) {
    for (int c = 0; c < free_count; ++c) {
      free_normal.at<double>(r, c) = normal.at<double>(free_indices[static_cast<std::size_t>(r)],
                                                       free_indices[static_cast<std::size_t>(c)]);
    }
  }
  cv::completeSymm(free_normal, false);
  cv::Mat covariance;
  cv::invert(free_normal, covariance, cv::DECOMP_SVD);

  const double residual_variance = squared_residuals / degreesOfFreedom(points, free_count);
  cv::Mat deviations = cv::Mat::zeros(parameters, 1, CV_64F);
  for (int k = 0; k < free_count; ++k) {
    deviations.at<double>(free_indices[static_cast<std::size_t>(k)]) =
        std::sqrt(covariance.at<double>(k, k) * residual_variance);
  }
  uncertainty.std_deviations_intrinsics = deviations.rowRange(0, kIntrinsicCount).clone();
  uncertainty.std_deviations_extrinsics = deviations.rowRange(kIntrinsicCount, parameters).clone();
  return uncertainty;
}

}  // namespace vemo::calibration
