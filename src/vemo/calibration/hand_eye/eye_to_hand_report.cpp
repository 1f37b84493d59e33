// EyeToHandCalibrator: the report, in the layout of the eye-in-hand report.

#include "vemo/calibration/hand_eye/eye_to_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_report.hpp"
#include "vemo/core/report_output.hpp"

namespace vemo::calibration {

std::string EyeToHandCalibrator::formatResults() const {
  return hand_eye_report::formatReport("EYE-TO-HAND RESULTS",
                                       {{"Camera in Robot Base (Base -> Camera)", last_result_.base_T_camera},
                                        {"Target on Flange (TCP -> Target)", last_result_.tcp_T_target}},
                                       last_result_);
}

void EyeToHandCalibrator::printResults() const { report::write(formatResults()); }

}  // namespace vemo::calibration
