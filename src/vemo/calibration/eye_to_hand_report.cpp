// EyeToHandCalibrator: the report, in the layout of the eye-in-hand report.

#include <sstream>

#include "vemo/calibration/eye_to_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye_report.hpp"
#include "vemo/core/report_output.hpp"

namespace vemo::calibration {

std::string EyeToHandCalibrator::formatResults() const {
  const EyeToHandResult& result = last_result_;
  std::ostringstream out;
  hand_eye_report::writeTitle(out, "EYE-TO-HAND RESULTS");
  if (result.base_T_camera.empty()) {
    out << "Calibration failed.\n";
    return out.str();
  }
  hand_eye_report::writeTransformSection(out, "Camera in Robot Base (Base -> Camera)", result.base_T_camera);
  hand_eye_report::writeTransformSection(out, "Target on Flange (TCP -> Target)", result.tcp_T_target);
  hand_eye_report::writeIntrinsicsSection(out, result.intrinsic_matrix, result.distortion_coefficients,
                                          result.reprojection_error);
  if (result.has_consistency) hand_eye_report::writeConsistencySection(out, result.consistency);
  if (!result.camera_T_target_list.empty()) {
    hand_eye_report::writeRotationVarietySection(out, result.camera_T_target_list);
  }
  return out.str();
}

void EyeToHandCalibrator::printResults() const { report::write(formatResults()); }

}  // namespace vemo::calibration
