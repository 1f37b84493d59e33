#include "vemo/quality/rotation_variety.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "vemo/tf/tf.hpp"

namespace vemo::quality {

namespace {

// The pose as CV_64F, after the checks that keep OpenCV from either aborting (wrong
// shape, channels) or quietly producing nonsense (NaN, a singular matrix whose "inverse"
// OpenCV returns as zeros).
cv::Mat checkedPose(const cv::Mat& camera_T_target, std::size_t index) {
  const std::string where = "analyzeRotationVariety: pose " + std::to_string(index);
  const tf::PoseRequirements finite_only{true, false, false, false};
  switch (tf::findPoseDefect(camera_T_target, finite_only)) {
    case tf::PoseDefect::None: break;
    case tf::PoseDefect::NotSingleChannel4x4: throw std::invalid_argument(where + " is not a single-channel 4x4 matrix");
    default: throw std::invalid_argument(where + " contains NaN or infinity");
  }
  cv::Mat pose;
  camera_T_target.convertTo(pose, CV_64F);
  return pose;
}

cv::Mat inverseOf(const cv::Mat& pose, std::size_t index) {
  cv::Mat inverse;
  if (cv::invert(pose, inverse, cv::DECOMP_LU) == 0.0) {
    throw std::invalid_argument("analyzeRotationVariety: pose " + std::to_string(index) + " is singular");
  }
  return inverse;
}

}  // namespace

std::optional<RotationVarietyStats> analyzeRotationVariety(const std::vector<cv::Mat>& camera_T_target_list,
                                                           double min_rotation_deg) {
  // A negative or NaN threshold would let zero rotations through and make the ratio 0/0.
  if (!(min_rotation_deg >= 0.0)) {
    throw std::invalid_argument("analyzeRotationVariety: min_rotation_deg must be non-negative, got " +
                                std::to_string(min_rotation_deg));
  }
  const double min_rotation_rad = tf::radiansFromDegrees(min_rotation_deg);

  std::vector<cv::Vec3d> rvecs;
  std::vector<double> angles_rad;
  cv::Mat previous;
  for (std::size_t i = 0; i < camera_T_target_list.size(); ++i) {
    cv::Mat current = checkedPose(camera_T_target_list[i], i);
    if (!previous.empty()) {
      const cv::Mat motion = inverseOf(previous, i - 1) * current;
      cv::Vec3d rvec;
      cv::Rodrigues(tf::rotationOf(motion), rvec);
      const double angle = cv::norm(rvec);
      if (angle > min_rotation_rad) {
        rvecs.push_back(rvec);
        angles_rad.push_back(angle);
      }
    }
    previous = std::move(current);
  }
  if (rvecs.size() < 3) return std::nullopt;

  const int m = static_cast<int>(rvecs.size());
  const cv::Mat stacked = cv::Mat(rvecs, false).reshape(1, m);
  cv::Mat singular_values;
  cv::SVD::compute(stacked, singular_values, 0);

  RotationVarietyStats stats;
  stats.num_motions = m;
  for (int k = 0; k < 3; ++k) stats.singular_values[k] = singular_values.at<double>(k);
  stats.axis_span_ratio = stats.singular_values[2] / stats.singular_values[0];
  double sum_deg = 0.0;
  for (double angle : angles_rad) {
    const double angle_deg = tf::degreesFromRadians(angle);
    sum_deg += angle_deg;
    stats.angle_max_deg = std::max(stats.angle_max_deg, angle_deg);
  }
  stats.angle_mean_deg = sum_deg / m;
  return stats;
}

std::string formatRotationVariety(const std::optional<RotationVarietyStats>& stats) {
  const std::string rule(60, '=');
  std::ostringstream out;
  out << rule << "\nROTATION VARIETY OF CAPTURED CAMERA POSES\n" << rule << "\n";
  if (!stats) {
    out << "  Not enough motions to analyze.\n";
    return out.str();
  }
  const auto& s = stats->singular_values;
  out << std::fixed;
  out << "  Inter-frame motions analyzed: " << stats->num_motions << "\n";
  out.precision(2);
  out << "  Mean inter-frame rotation:    " << stats->angle_mean_deg << " deg\n";
  out << "  Max  inter-frame rotation:    " << stats->angle_max_deg << " deg\n";
  out.precision(3);
  out << "  Singular values of rvecs:     [" << s[0] << ", " << s[1] << ", " << s[2] << "]\n";
  out << "  Axis-spread ratio (sv_min/sv_max): " << stats->axis_span_ratio << "\n";
  if (stats->axis_span_ratio < 0.15) {
    out << "  >>> POOR rotation variety  -  motions cluster in a plane.\n"
        << "  >>> Hand-eye is poorly observable in one axis; expect bias.\n";
  } else if (stats->axis_span_ratio < 0.35) {
    out << "  >>> Marginal rotation variety  -  possible bias in one axis.\n";
  } else {
    out << "  >>> Rotation variety is healthy.\n";
  }
  return out.str();
}

}  // namespace vemo::quality
