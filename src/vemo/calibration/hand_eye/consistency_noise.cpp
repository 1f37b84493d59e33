#include "vemo/calibration/hand_eye/consistency_noise.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

// The pose solve's covariance up to the corner variance: inverse of J'J over the rotation
// vector and translation, and the residuals' sum of squares.
struct PoseFit {
  cv::Matx66d inverse_normal;
  double squared_residuals = 0.0;
  int residual_count = 0;
};

PoseFit fitPose(const CaptureCorners& corners, const cv::Mat& camera_T_target, const cv::Mat& intrinsic_matrix,
                const cv::Mat& distortion_coefficients) {
  cv::Mat object_points, image_points, rvec, tvec, projected, jacobian;
  corners.object_points.reshape(3, corners.object_points.total() * corners.object_points.channels() / 3)
      .convertTo(object_points, CV_64FC3);
  corners.image_points.reshape(2, corners.image_points.total() * corners.image_points.channels() / 2)
      .convertTo(image_points, CV_64FC2);
  tf::transformationMatrixToRvecTvec(camera_T_target, rvec, tvec);
  cv::projectPoints(object_points, rvec, tvec, intrinsic_matrix, distortion_coefficients, projected, jacobian);
  const cv::Mat pose_jacobian = jacobian.colRange(0, 6);
  cv::Mat normal = pose_jacobian.t() * pose_jacobian;
  PoseFit fit;
  cv::Mat inverse;
  cv::invert(normal, inverse, cv::DECOMP_SVD);
  fit.inverse_normal = cv::Matx66d(inverse);
  const cv::Mat residuals = projected.reshape(2, image_points.rows) - image_points;
  fit.squared_residuals = residuals.dot(residuals);
  fit.residual_count = 2 * image_points.rows;
  return fit;
}

}  // namespace

ExpectedDeviation expectedTargetDeviation(const std::vector<cv::Mat>& robot_T_tcp_list, const cv::Mat& tcp_T_camera,
                                          const std::vector<cv::Mat>& camera_T_target_list,
                                          const std::vector<CaptureCorners>& corners, const cv::Mat& intrinsic_matrix,
                                          const cv::Mat& distortion_coefficients,
                                          const quality::VerdictOptions& options) {
  const std::size_t n = robot_T_tcp_list.size();
  const bool with_corners = corners.size() == n && !intrinsic_matrix.empty();
  std::vector<PoseFit> fits;
  double squared_residuals = 0.0;
  int degrees_of_freedom = 0, residual_count = 0;
  if (with_corners) {
    for (std::size_t i = 0; i < n; ++i) {
      fits.push_back(fitPose(corners[i], camera_T_target_list[i], intrinsic_matrix, distortion_coefficients));
      squared_residuals += fits.back().squared_residuals;
      degrees_of_freedom += std::max(fits.back().residual_count - 6, 0);
      residual_count += fits.back().residual_count;
    }
  }
  const double corner_variance = degrees_of_freedom > 0 ? squared_residuals / degrees_of_freedom : 0.0;

  const double robot_angle = tf::radiansFromDegrees(options.robot_repeatability_deg);
  const double robot_shift = options.robot_repeatability_m;
  double translation_sum = 0.0, rotation_sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    // A flange rotation error swings the target about the flange: for an eye-in-hand chain
    // its lever is the target seen from the flange; for the inverted (eye-to-hand) chain it
    // is the target's place in the chain's own frame. Taking the longer errs on the side
    // of not crying wolf.
    const cv::Mat flange_T_target = tcp_T_camera * camera_T_target_list[i];
    const cv::Mat world_T_target = robot_T_tcp_list[i] * flange_T_target;
    const double lever = std::max(cv::norm(tf::translationOf(flange_T_target)),
                                  cv::norm(tf::translationOf(world_T_target)));
    double translation_variance = 3.0 * robot_shift * robot_shift + 2.0 * robot_angle * robot_angle * lever * lever;
    double rotation_variance = 3.0 * robot_angle * robot_angle;
    if (with_corners) {
      const cv::Matx66d& c = fits[i].inverse_normal;
      translation_variance += corner_variance * (c(3, 3) + c(4, 4) + c(5, 5));
      rotation_variance += corner_variance * (c(0, 0) + c(1, 1) + c(2, 2));
    }
    translation_sum += translation_variance;
    rotation_sum += rotation_variance;
  }
  ExpectedDeviation expected;
  expected.translation_m = std::sqrt(translation_sum / static_cast<double>(n));
  expected.rotation_deg = std::sqrt(rotation_sum / static_cast<double>(n)) * 180.0 / tf::kPi;
  expected.corner_rms_px = residual_count > 0 ? std::sqrt(squared_residuals / residual_count)
                                             : std::numeric_limits<double>::quiet_NaN();
  return expected;
}

}  // namespace vemo::calibration
