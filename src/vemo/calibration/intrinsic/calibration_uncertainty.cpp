#include "vemo/calibration/intrinsic/calibration_uncertainty.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/core/version.hpp>

#include <cmath>
#include <limits>
#include <utility>

namespace vemo::calibration {
namespace {

constexpr int kIntrinsicCount = 18;  // OpenCV's intrinsic parameter vector: f, c, 14 distortion terms

// Flags that only decide which parameters are free (a fixed aspect ratio ties fx to fy).
constexpr int kParameterFlags =
    cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_ASPECT_RATIO | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_ZERO_TANGENT_DIST |
    cv::CALIB_FIX_FOCAL_LENGTH | cv::CALIB_FIX_K1 | cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3 | cv::CALIB_FIX_K4 |
    cv::CALIB_FIX_K5 | cv::CALIB_FIX_K6 | cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL |
    cv::CALIB_FIX_S1_S2_S3_S4 | cv::CALIB_TILTED_MODEL | cv::CALIB_FIX_TAUX_TAUY | cv::CALIB_FIX_TANGENT_DIST;

// The residual variance is the squared residual norm over the degrees of freedom, which
// OpenCV 4.6 counts as points minus free parameters (a point one residual) and later versions
// as residuals (two a point) minus free parameters. Checked against OpenCV's extended solve on
// 4.6 and 4.10; other versions keep OpenCV's extended solve.
constexpr bool kCountsPoints = CV_VERSION_MAJOR < 4 || (CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR <= 6);
bool residualCountKnown() { return CV_VERSION_MAJOR == 4 && (CV_VERSION_MINOR == 6 || CV_VERSION_MINOR == 10); }
double degreesOfFreedom(int points, int free_parameters) {
  return static_cast<double>((kCountsPoints ? points : 2 * points) - free_parameters);
}

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
  // Under a fixed aspect ratio fx follows fy: fy's derivative carries both.
  const bool fx = focal && !(flags & cv::CALIB_FIX_ASPECT_RATIO);
  const bool centre = !(flags & cv::CALIB_FIX_PRINCIPAL_POINT);
  const bool prism = !(flags & cv::CALIB_FIX_S1_S2_S3_S4);
  const bool tilt = !(flags & cv::CALIB_FIX_TAUX_TAUY);
  return {fx,
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

namespace {

// Up to this many views the whole normal matrix is inverted as OpenCV inverts it, so that the
// deviations agree with its extended solve to its last digits. Its cost is cubic in the views
// (12 s at 300); above the limit the same quantities come from the Schur complement over the
// view poses, in time linear in the views.
constexpr int kDenseViewLimit = 50;

// One view's part of the normal matrix: its intrinsic Jacobian (18 columns, zero where the
// model has no term) and its pose Jacobian (rvec, tvec).
struct ViewJacobian {
  cv::Mat intrinsic;
  cv::Mat extrinsic;
};

cv::Mat freeColumns(const cv::Mat& intrinsic_jacobian, const std::vector<int>& free_intrinsics) {
  cv::Mat columns(intrinsic_jacobian.rows, static_cast<int>(free_intrinsics.size()), CV_64F);
  for (std::size_t k = 0; k < free_intrinsics.size(); ++k) {
    intrinsic_jacobian.col(free_intrinsics[k]).copyTo(columns.col(static_cast<int>(k)));
  }
  return columns;
}

// The diagonal of the inverse normal matrix, intrinsics (free ones, in order) then each
// view's 6 pose terms, assembled view by view in OpenCV's layout and with its products.
std::vector<double> denseInverseDiagonal(const std::vector<ViewJacobian>& views,
                                         const std::vector<int>& free_intrinsics) {
  const int free_count = static_cast<int>(free_intrinsics.size());
  const int size = free_count + 6 * static_cast<int>(views.size());
  cv::Mat normal = cv::Mat::zeros(size, size, CV_64F);
  for (std::size_t i = 0; i < views.size(); ++i) {
    const cv::Mat intrinsic = freeColumns(views[i].intrinsic, free_intrinsics);
    const cv::Mat& extrinsic = views[i].extrinsic;
    const int offset = free_count + 6 * static_cast<int>(i);
    normal(cv::Rect(0, 0, free_count, free_count)) += intrinsic.t() * intrinsic;
    normal(cv::Rect(offset, offset, 6, 6)) = extrinsic.t() * extrinsic;
    normal(cv::Rect(offset, 0, 6, free_count)) = intrinsic.t() * extrinsic;
  }
  cv::completeSymm(normal, false);
  cv::Mat covariance;
  cv::invert(normal, covariance, cv::DECOMP_SVD);
  std::vector<double> diagonal(static_cast<std::size_t>(size));
  for (int k = 0; k < size; ++k) diagonal[static_cast<std::size_t>(k)] = covariance.at<double>(k, k);
  return diagonal;
}

// The same diagonal through the Schur complement S = A - sum B_i D_i^-1 B_i' of the view
// poses: the intrinsics' covariance is S^-1, view i's pose covariance D_i^-1 + W_i S^-1 W_i'
// with W_i = D_i^-1 B_i'.
std::vector<double> schurInverseDiagonal(const std::vector<ViewJacobian>& views,
                                         const std::vector<int>& free_intrinsics) {
  const int free_count = static_cast<int>(free_intrinsics.size());
  cv::Mat complement = cv::Mat::zeros(free_count, free_count, CV_64F);
  std::vector<cv::Mat> pose_inverses, weights;
  for (const ViewJacobian& view : views) {
    const cv::Mat intrinsic = freeColumns(view.intrinsic, free_intrinsics);
    cv::Mat pose_inverse;
    cv::invert(view.extrinsic.t() * view.extrinsic, pose_inverse, cv::DECOMP_SVD);
    const cv::Mat weight = pose_inverse * (view.extrinsic.t() * intrinsic);  // W_i = D_i^-1 B_i'
    // A_i - B_i D_i^-1 B_i' as the normal matrix of the intrinsic Jacobian with the pose
    // directions projected out: no difference of two nearly equal matrices.
    const cv::Mat projected = intrinsic - view.extrinsic * weight;
    complement += projected.t() * projected;
    pose_inverses.push_back(pose_inverse);
    weights.push_back(weight);
  }
  cv::completeSymm(complement, false);
  cv::Mat intrinsic_covariance;
  cv::invert(complement, intrinsic_covariance, cv::DECOMP_SVD);
  std::vector<double> diagonal;
  for (int k = 0; k < free_count; ++k) diagonal.push_back(intrinsic_covariance.at<double>(k, k));
  for (std::size_t i = 0; i < views.size(); ++i) {
    const cv::Mat pose_covariance = pose_inverses[i] + weights[i] * intrinsic_covariance * weights[i].t();
    for (int k = 0; k < 6; ++k) diagonal.push_back(pose_covariance.at<double>(k, k));
  }
  return diagonal;
}

}  // namespace

namespace {

// With dense_up_to views or fewer the normal matrix is inverted whole, as OpenCV does. The
// deviations are left empty when there are no more points than free parameters; the per-view
// errors are always known.
CalibrationUncertainty uncertaintyOf(const std::vector<cv::Mat>& object_points,
                                                    const std::vector<cv::Mat>& image_points,
                                                    const cv::Mat& intrinsic_matrix,
                                                    const cv::Mat& distortion_coefficients,
                                                    const std::vector<cv::Mat>& rotation_vectors,
                                                    const std::vector<cv::Mat>& translation_vectors,
                                                    int calibrate_camera_flags, int dense_up_to) {
  const int views = static_cast<int>(object_points.size());
  const int distortion_count = static_cast<int>(distortion_coefficients.total());
  cv::Mat camera;
  intrinsic_matrix.convertTo(camera, CV_64F);
  const double aspect_ratio = (calibrate_camera_flags & cv::CALIB_FIX_ASPECT_RATIO)
                                  ? camera.at<double>(0, 0) / camera.at<double>(1, 1)
                                  : 0.0;
  CalibrationUncertainty uncertainty;
  std::vector<ViewJacobian> jacobians;
  double squared_residuals = 0.0;
  int points = 0;
  for (int i = 0; i < views; ++i) {
    const auto view = static_cast<std::size_t>(i);
    // In double, as the solver projects (the projection comes back in the input's depth).
    cv::Mat board_points, projected, jacobian, observed;
    object_points[view].convertTo(board_points, CV_64F);
    cv::projectPoints(board_points, rotation_vectors[view], translation_vectors[view], intrinsic_matrix,
                      distortion_coefficients, projected, jacobian, aspect_ratio);
    image_points[view].convertTo(observed, CV_64F);
    const double view_squared = cv::norm(projected, observed.reshape(2, projected.rows), cv::NORM_L2SQR);
    uncertainty.per_view_errors.push_back(std::sqrt(view_squared / projected.rows));
    squared_residuals += view_squared;
    points += projected.rows;

    // projectPoints' columns: rvec 0-2, tvec 3-5, f 6-7, c 8-9, distortion 10-.
    ViewJacobian parts{cv::Mat::zeros(jacobian.rows, kIntrinsicCount, CV_64F), jacobian.colRange(0, 6).clone()};
    jacobian.colRange(6, 10 + distortion_count).copyTo(parts.intrinsic.colRange(0, 4 + distortion_count));
    jacobians.push_back(std::move(parts));
  }

  const std::vector<bool> free = freeIntrinsics(calibrate_camera_flags, distortion_count);
  std::vector<int> free_intrinsics;
  for (int p = 0; p < kIntrinsicCount; ++p) {
    if (free[static_cast<std::size_t>(p)]) free_intrinsics.push_back(p);
  }
  const int free_count = static_cast<int>(free_intrinsics.size()) + 6 * views;
  if (points <= free_count) return uncertainty;
  const std::vector<double> diagonal = views <= dense_up_to ? denseInverseDiagonal(jacobians, free_intrinsics)
                                                                : schurInverseDiagonal(jacobians, free_intrinsics);

  const double residual_variance = squared_residuals / degreesOfFreedom(points, free_count);
  uncertainty.std_deviations_intrinsics = cv::Mat::zeros(kIntrinsicCount, 1, CV_64F);
  for (std::size_t k = 0; k < free_intrinsics.size(); ++k) {
    uncertainty.std_deviations_intrinsics.at<double>(free_intrinsics[k]) = std::sqrt(diagonal[k] * residual_variance);
  }
  uncertainty.std_deviations_extrinsics = cv::Mat(6 * views, 1, CV_64F);
  for (int k = 0; k < 6 * views; ++k) {
    uncertainty.std_deviations_extrinsics.at<double>(k) =
        std::sqrt(diagonal[free_intrinsics.size() + static_cast<std::size_t>(k)] * residual_variance);
  }
  return uncertainty;
}

}  // namespace

std::optional<CalibrationUncertainty> calibrationUncertainty(const std::vector<cv::Mat>& object_points,
                                                             const std::vector<cv::Mat>& image_points,
                                                             const cv::Mat& intrinsic_matrix,
                                                             const cv::Mat& distortion_coefficients,
                                                             const std::vector<cv::Mat>& rotation_vectors,
                                                             const std::vector<cv::Mat>& translation_vectors,
                                                             int calibrate_camera_flags) {
  CalibrationUncertainty uncertainty =
      uncertaintyOf(object_points, image_points, intrinsic_matrix, distortion_coefficients, rotation_vectors,
                    translation_vectors, calibrate_camera_flags, kDenseViewLimit);
  if (uncertainty.std_deviations_intrinsics.empty()) return std::nullopt;
  return uncertainty;
}

CalibrationUncertainty calibrationUncertaintyOrUnknown(const std::vector<cv::Mat>& object_points,
                                                       const std::vector<cv::Mat>& image_points,
                                                       const cv::Mat& intrinsic_matrix,
                                                       const cv::Mat& distortion_coefficients,
                                                       const std::vector<cv::Mat>& rotation_vectors,
                                                       const std::vector<cv::Mat>& translation_vectors,
                                                       int calibrate_camera_flags) {
  const int flags = calibrate_camera_flags & kParameterFlags;
  // Always through the complement: a whole-matrix inversion carries relative errors of about
  // 1e-6 (10 views of 54 corners) that move with the last digits of the solution.
  CalibrationUncertainty uncertainty = uncertaintyOf(object_points, image_points, intrinsic_matrix,
                                                     distortion_coefficients, rotation_vectors, translation_vectors,
                                                     flags, 0);
  if (uncertainty.std_deviations_intrinsics.empty()) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    uncertainty.std_deviations_intrinsics = cv::Mat(kIntrinsicCount, 1, CV_64F, cv::Scalar(nan));
    uncertainty.std_deviations_extrinsics =
        cv::Mat(6 * static_cast<int>(object_points.size()), 1, CV_64F, cv::Scalar(nan));
  }
  return uncertainty;
}

}  // namespace vemo::calibration
