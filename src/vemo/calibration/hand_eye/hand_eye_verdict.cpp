#include "vemo/calibration/hand_eye/hand_eye_verdict.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "vemo/calibration/hand_eye/consistency_noise.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/calibration/hand_eye/target_deviations.hpp"
#include "vemo/calibration/hand_eye/target_scale_check.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/core/parallel_map.hpp"
#include "vemo/quality/rotation_variety.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

// Below this axis span the report calls the rotation variety POOR.
constexpr double kPoorAxisSpanRatio = 0.15;

template <class... Numbers>
std::string format(const char* pattern, Numbers... numbers) {
  char text[400];
  std::snprintf(text, sizeof text, pattern, numbers...);
  return text;
}

struct Scatter {
  double translation_m = 0.0;
  double rotation_deg = 0.0;
};

// The chain's scatter under the hand-eye solve of these lists; none when the solve fails.
std::optional<Scatter> solvedScatter(const std::vector<cv::Mat>& robot, const std::vector<cv::Mat>& camera,
                                     int method) {
  cv::Mat tcp_T_camera;
  try {
    tcp_T_camera = solveHandEyeEquation(robot, camera, method);
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  if (tcp_T_camera.empty() || !cv::checkRange(tcp_T_camera)) return std::nullopt;
  const TargetDeviations deviations = targetDeviations(robot, tcp_T_camera, camera);
  return Scatter{deviations.rmsTranslationM(), deviations.rmsRotationDeg()};
}

struct Limits {
  double translation_m;
  double rotation_deg;
  bool exceeded(const Scatter& scatter) const {
    return scatter.translation_m > translation_m || scatter.rotation_deg > rotation_deg;
  }
};

template <class T>
std::vector<T> without(const std::vector<T>& items, std::size_t left_out) {
  std::vector<T> rest;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i != left_out) rest.push_back(items[i]);
  }
  return rest;
}

// The captures without which the chain agrees much better, most suspect first: leaving out,
// one at a time, the capture whose absence lowers the scatter most, while that lowers it
// clearly and until the rest agree (a swapped pair takes two steps).
std::vector<quality::Suspect> leaveOneOut(const HandEyeVerdictInput& input, Scatter scatter, const Limits& limits) {
  std::vector<cv::Mat> robot = input.result.valid_robot_T_tcp_list;
  std::vector<cv::Mat> camera = input.result.camera_T_target_list;
  std::vector<int> positions = input.input_positions;
  std::vector<quality::Suspect> suspects;
  while (suspects.size() < kMaximumSuspects && robot.size() > eye_in_hand::kMinimumCaptures &&
         limits.exceeded(scatter)) {
    // Each capture left out costs a solve quadratic in the captures: they run side by side.
    std::vector<Outcome<std::optional<Scatter>>> left_out = parallelMap(
        robot.size(), [&](std::size_t k) { return solvedScatter(without(robot, k), without(camera, k), input.method); });
    std::optional<std::size_t> best;
    Scatter best_rest;
    std::vector<double> rests;
    for (std::size_t k = 0; k < robot.size(); ++k) {
      const std::optional<Scatter>& rest = left_out[k].take();
      if (!rest) continue;
      rests.push_back(rest->translation_m);
      if (!best || rest->translation_m < best_rest.translation_m) {
        best = k;
        best_rest = *rest;
      }
    }
    if (!best) break;
    // Leaving out a sound capture hardly changes the scatter: the typical change is the median.
    std::nth_element(rests.begin(), rests.begin() + rests.size() / 2, rests.end());
    if (best_rest.translation_m >= kSuspectShare * rests[rests.size() / 2]) break;
    suspects.push_back({positions[*best], best_rest.translation_m});
    robot = without(robot, *best);
    camera = without(camera, *best);
    positions = without(positions, *best);
    scatter = best_rest;
  }
  return suspects;
}

// Every robot pose paired with the image one capture later (or earlier): the chain then
// agrees within the limits.
std::optional<std::string> shiftedPairing(const HandEyeResult& result, int method, const Limits& limits) {
  const std::vector<cv::Mat>& robot = result.valid_robot_T_tcp_list;
  const std::vector<cv::Mat>& camera = result.camera_T_target_list;
  if (robot.size() <= eye_in_hand::kMinimumCaptures) return std::nullopt;
  for (int shift : {1, -1}) {
    const std::vector<cv::Mat> shifted_robot(robot.begin() + (shift > 0 ? 1 : 0), robot.end() - (shift > 0 ? 0 : 1));
    const std::vector<cv::Mat> shifted_camera(camera.begin() + (shift > 0 ? 0 : 1), camera.end() - (shift > 0 ? 1 : 0));
    const std::optional<Scatter> scatter = solvedScatter(shifted_robot, shifted_camera, method);
    if (scatter && !limits.exceeded(*scatter)) {
      return std::string("robot poses look shifted by one capture against the images: each robot pose fits the "
                         "image ") + (shift > 0 ? "before" : "after") + " its own";
    }
  }
  return std::nullopt;
}

// The solvers other than the run's whose results lie outside the agreement limits of it.
std::optional<std::string> solverDisagreement(const HandEyeResult& result, int method, HandEyeSolutions& solutions) {
  std::vector<std::string> outliers;
  for (const auto& [name, value] : handEyeMethodByNameMap()) {
    if (value == method) continue;
    cv::Mat other;
    try {
      other = solutions.solution(value);
    } catch (const cv::Exception&) {
    }
    if (!other.empty() && cv::checkRange(other) &&
        cv::norm(tf::translationOf(other), tf::translationOf(result.tcp_T_camera)) <= kSolverAgreementM &&
        tf::rotationAngleDeg(other, result.tcp_T_camera) <= kSolverAgreementDeg) {
      continue;
    }
    outliers.push_back(name);
  }
  // Agreeing with two of the four others is agreement: one solver may meet its own weakness.
  if (outliers.size() < 3) return std::nullopt;
  std::string names;
  for (const std::string& name : outliers) names += (names.empty() ? "" : ", ") + name;
  return "the other solvers (" + names + ") put the transform more than " +
         format("%.0f mm or %.1f degrees away", kSolverAgreementM * 1000.0, kSolverAgreementDeg);
}

// A wrong target length, when the camera translations scaled by the factor the chain asks for
// leave the captures agreeing: a scatter of another cause (a swapped capture) also skews the
// factor, and rescaling does not mend it.
std::optional<std::string> targetScaleMistake(const HandEyeVerdictInput& input, const Limits& limits) {
  const HandEyeResult& result = input.result;
  const std::optional<TargetScale> scale =
      estimateTargetScale(result.valid_robot_T_tcp_list, result.tcp_T_camera, result.camera_T_target_list);
  if (!scale) return std::nullopt;
  std::optional<std::string> warning = targetScaleWarning(*scale, input.target);
  if (!warning) return std::nullopt;
  std::vector<cv::Mat> rescaled;
  for (const cv::Mat& pose : result.camera_T_target_list) {
    rescaled.push_back(pose.clone());
    tf::translationOf(rescaled.back()) *= scale->scale;
  }
  const std::optional<Scatter> scatter = solvedScatter(result.valid_robot_T_tcp_list, rescaled, input.method);
  if (!scatter || limits.exceeded(*scatter)) return std::nullopt;
  return warning;
}

}  // namespace

quality::Verdict judgeHandEye(const HandEyeVerdictInput& input) {
  const HandEyeResult& result = input.result;
  quality::Verdict verdict = input.intrinsic_verdict;
  for (const std::string& misreading : input.misreadings) {
    const std::size_t end_of_prefix = misreading.find("] ");
    quality::distrust(verdict, end_of_prefix == std::string::npos ? misreading : misreading.substr(end_of_prefix + 2));
  }

  const ExpectedDeviation expected = expectedTargetDeviation(
      result.valid_robot_T_tcp_list, result.tcp_T_camera, result.camera_T_target_list, input.corners,
      result.intrinsic_matrix, result.distortion_coefficients, input.options);
  if (expected.corner_rms_px > kMaximumCornerRmsPx) {
    quality::distrust(verdict, format("the corners lie %.2f px (RMS) from where the solved target poses put them; "
                                      "detection noise explains under %.0f px: is the target's layout right?",
                                      expected.corner_rms_px, kMaximumCornerRmsPx));
  }

  const TargetDeviations deviations =
      targetDeviations(result.valid_robot_T_tcp_list, result.tcp_T_camera, result.camera_T_target_list);
  const Scatter scatter{deviations.rmsTranslationM(), deviations.rmsRotationDeg()};
  const Limits limits{std::max(kUnexplainedFactor * expected.translation_m, kUnexplainedFloorM),
                      std::max(kUnexplainedFactor * expected.rotation_deg, kUnexplainedFloorDeg)};
  const bool scattered = limits.exceeded(scatter);
  if (scattered) {
    quality::distrust(verdict,
                      format("the captures place the target %.2f mm and %.3f degrees (RMS) from its mean pose, "
                             "where corner noise and robot repeatability explain %.2f mm and %.3f degrees",
                             scatter.translation_m * 1000.0, scatter.rotation_deg, expected.translation_m * 1000.0,
                             expected.rotation_deg));
  }

  if (input.misreadings.empty()) {
    if (const std::optional<std::string> warning = targetScaleMistake(input, limits)) {
      logging::log(logging::Level::Warning, "[" + input.class_name + "] " + *warning);
      quality::distrust(verdict, *warning);
    }
  }

  const std::optional<quality::RotationVarietyStats> variety =
      quality::analyzeRotationVariety(result.camera_T_target_list, eye_in_hand::kReportMinRotationDeg);
  if (variety && variety->axis_span_ratio < kPoorAxisSpanRatio) {
    quality::distrust(verdict, format("the rotations between captures barely turn about a second axis (axis span "
                                      "ratio %.2f, POOR below %.2f)",
                                      variety->axis_span_ratio, kPoorAxisSpanRatio));
  }

  if (const std::optional<std::string> disagreement = solverDisagreement(result, input.method, input.solutions)) {
    quality::distrust(verdict, *disagreement);
  }

  if (scattered) {
    if (const std::optional<std::string> shift = shiftedPairing(result, input.method, limits)) {
      quality::distrust(verdict, *shift);
    } else {
      verdict.suspects = leaveOneOut(input, scatter, limits);
    }
  }
  return verdict;
}

}  // namespace vemo::calibration
