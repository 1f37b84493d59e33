#pragma once

// Agreement of the hand-eye solvers in translation and in the whole rotation, beside the
// comparison's rz verdict: a solver can agree with the others on rz to a hundredth of a
// degree and still sit centimetres away from them.
//
// In src/vemo/evaluation beside the comparison whose results it reads, in namespace
// vemo::quality with the other diagnostics.

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "vemo/evaluation/hand_eye_method_comparison.hpp"

namespace vemo::quality {

inline constexpr double kDefaultTranslationAgreementMm = 5.0;
inline constexpr double kDefaultRotationAgreementDeg = 0.5;

struct MethodDeviation {
  std::string method_name;
  double translation_mm = 0.0;  // distance of its translation from the median translation
  double rotation_deg = 0.0;    // angle of the rotation between it and the median rotation
};

struct MethodAgreement {
  // Median translation (of x, y and z each) and median rotation (of the unit quaternions'
  // components, signs aligned, normalised) of the methods with a result.
  cv::Mat median_tcp_T_camera;                 // 4x4 CV_64F
  std::vector<MethodDeviation> deviations;     // methods with a result, in map order
  std::vector<std::string> translation_outliers;  // translation_mm > threshold, map order
  std::vector<std::string> rotation_outliers;     // rotation_deg > threshold, map order
  double translation_threshold_mm = kDefaultTranslationAgreementMm;
  double rotation_threshold_deg = kDefaultRotationAgreementDeg;
};

// Empty when fewer than two methods have a result. A deviation equal to its threshold
// agrees. Throws std::invalid_argument for a negative or NaN threshold.
std::optional<MethodAgreement> assessMethodAgreement(const HandEyeMethodResults& method_results,
                                                     double translation_threshold_mm,
                                                     double rotation_threshold_deg);

// Each method's two deviations and one verdict line for translation and one for rotation.
std::string formatMethodAgreement(const std::optional<MethodAgreement>& agreement);

}  // namespace vemo::quality
