#pragma once

// The sections that the hand-eye reports (eye-in-hand and eye-to-hand) share, written
// into the report's stream in the order a report uses them. Numbers print in the
// stream's default notation until writeIntrinsicsSection meets a finite reprojection
// error: from there on the stream is in fixed notation with 4 decimals.

#include <opencv2/core.hpp>

#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_result.hpp"

namespace vemo::calibration::hand_eye_report {

// "\n", 60 "=", "\n", title, "\n", 60 "=", "\n".
void writeTitle(std::ostream& out, const std::string& title);

// "\n<heading>:\n", the 4x4 a_T_b as OpenCV prints it, then its pose vector
// "\nPose [x, y, z, rx, ry, rz] (deg):\n  [x, y, z, rx, ry, rz]\n".
void writeTransformSection(std::ostream& out, const std::string& heading, const cv::Mat& a_T_b);

// Camera matrix, distortion and "Reprojection Error: " with the value in pixels (4
// decimals), or "n/a" when it is NaN.
void writeIntrinsicsSection(std::ostream& out, const cv::Mat& intrinsic_matrix,
                            const cv::Mat& distortion_coefficients, double reprojection_error);

// "Target Consistency Residual:" with the mean and largest deviations and one line per
// capture.
void writeConsistencySection(std::ostream& out, const TargetConsistencyStats& consistency);

// "\n" and the rotation-variety text of the target poses.
void writeRotationVarietySection(std::ostream& out, const std::vector<cv::Mat>& camera_T_target_list);

// The whole report of a result (HandEyeResult or EyeToHandResult): the title, then
// "Calibration failed.\n" when the first transform is empty, or else each transform under
// its heading, the intrinsics, the consistency once filled and the rotation variety when
// there are target poses.
template <class Result>
std::string formatReport(const std::string& title, const std::vector<std::pair<std::string, cv::Mat>>& transforms,
                         const Result& result) {
  std::ostringstream out;
  writeTitle(out, title);
  if (transforms.front().second.empty()) {
    out << "Calibration failed.\n";
    return out.str();
  }
  for (const auto& [heading, a_T_b] : transforms) writeTransformSection(out, heading, a_T_b);
  writeIntrinsicsSection(out, result.intrinsic_matrix, result.distortion_coefficients, result.reprojection_error);
  if (result.has_consistency) writeConsistencySection(out, result.consistency);
  if (!result.camera_T_target_list.empty()) writeRotationVarietySection(out, result.camera_T_target_list);
  return out.str();
}

}  // namespace vemo::calibration::hand_eye_report
