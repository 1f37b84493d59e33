#pragma once

// The hand-eye chain fixes the scale of the camera's translations: the robot's translations
// are in metres, the target poses in whatever the target's lengths make them. A mistyped
// square size scales every camera translation alike, and every closed-form solver absorbs
// it into a wrong tcp_T_camera without complaint. Solving the chain's translations for that
// factor as well shows it.

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

// Factors further from 1 than this are worth a warning, when the data also pin them down.
inline constexpr double kTargetScaleTolerance = 0.02;

struct TargetScale {
  double scale = 1.0;  // the factor the camera translations need to fit the robot's
  double sigma = 0.0;  // its standard deviation, from the fit's residuals
};

// Least squares over the captures of robot_R_i (R_X s t_i + t_X) + robot_t_i = t_W, for the
// factor s, the hand-eye translation t_X and the target position t_W, with the hand-eye
// rotation R_X of tcp_T_camera. Aligned 4x4 CV_64F lists; empty with fewer than 3 captures.
std::optional<TargetScale> estimateTargetScale(const std::vector<cv::Mat>& robot_T_tcp_list,
                                               const cv::Mat& tcp_T_camera,
                                               const std::vector<cv::Mat>& camera_T_target_list);

// "the target's squares look like 0.0200 m, not 0.0250 m" (markers for an ArUco grid) when
// the factor differs from 1 by the tolerance and by three standard deviations; empty
// otherwise.
std::optional<std::string> targetScaleWarning(const TargetScale& scale, const Target& target);

}  // namespace vemo::calibration
