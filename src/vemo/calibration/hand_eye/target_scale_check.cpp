#include "vemo/calibration/hand_eye/target_scale_check.hpp"

#include <cmath>
#include <cstdio>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

constexpr double kSignificantSigmas = 3.0;

// The length the warning names, and what it calls it.
std::pair<double, const char*> namedLength(const Target& target) {
  if (const auto* chessboard = std::get_if<ChessboardTarget>(&target)) return {chessboard->square_size, "squares"};
  if (const auto* charuco = std::get_if<CharucoTarget>(&target)) return {charuco->square_length, "squares"};
  return {std::get<ArucoTarget>(target).marker_length, "markers"};
}

}  // namespace

std::optional<TargetScale> estimateTargetScale(const std::vector<cv::Mat>& robot_T_tcp_list,
                                               const cv::Mat& tcp_T_camera,
                                               const std::vector<cv::Mat>& camera_T_target_list) {
  const int n = static_cast<int>(robot_T_tcp_list.size());
  if (n < 3) return std::nullopt;
  // Unknowns: s, t_X (3), t_W (3).
  cv::Mat design = cv::Mat::zeros(3 * n, 7, CV_64F);
  cv::Mat observed(3 * n, 1, CV_64F);
  const cv::Mat hand_eye_rotation = tf::rotationOf(tcp_T_camera);
  for (int i = 0; i < n; ++i) {
    const cv::Mat robot_rotation = tf::rotationOf(robot_T_tcp_list[i]);
    const cv::Mat rows = design.rowRange(3 * i, 3 * i + 3);
    cv::Mat(robot_rotation * hand_eye_rotation * tf::translationOf(camera_T_target_list[i])).copyTo(rows.col(0));
    robot_rotation.copyTo(rows.colRange(1, 4));
    cv::Mat(-cv::Mat::eye(3, 3, CV_64F)).copyTo(rows.colRange(4, 7));
    cv::Mat(-tf::translationOf(robot_T_tcp_list[i])).copyTo(observed.rowRange(3 * i, 3 * i + 3));
  }
  const cv::Mat normal = design.t() * design;
  cv::Mat inverse;
  if (cv::invert(normal, inverse, cv::DECOMP_SVD) == 0.0) return std::nullopt;
  const cv::Mat solution = inverse * design.t() * observed;
  const cv::Mat residuals = design * solution - observed;
  const double variance = residuals.dot(residuals) / (3.0 * n - 7.0);
  return TargetScale{solution.at<double>(0), std::sqrt(variance * inverse.at<double>(0, 0))};
}

std::optional<std::string> targetScaleWarning(const TargetScale& scale, const Target& target) {
  const double off = std::abs(scale.scale - 1.0);
  if (!(off >= kTargetScaleTolerance && off > kSignificantSigmas * scale.sigma)) return std::nullopt;
  const auto [length, name] = namedLength(target);
  char text[160];
  std::snprintf(text, sizeof text, "the target's %s look like %.4f m, not %.4f m", name, length * scale.scale,
                length);
  return std::string(text);
}

}  // namespace vemo::calibration
