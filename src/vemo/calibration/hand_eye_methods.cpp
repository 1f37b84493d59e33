#include "vemo/calibration/hand_eye_methods.hpp"

#include <opencv2/calib3d.hpp>

#include <stdexcept>

namespace vemo::calibration {

const std::map<std::string, int>& handEyeMethodByNameMap() {
  static const std::map<std::string, int> methods{
      {"TSAI", cv::CALIB_HAND_EYE_TSAI},
      {"PARK", cv::CALIB_HAND_EYE_PARK},
      {"HORAUD", cv::CALIB_HAND_EYE_HORAUD},
      {"ANDREFF", cv::CALIB_HAND_EYE_ANDREFF},
      {"DANIILIDIS", cv::CALIB_HAND_EYE_DANIILIDIS},
  };
  return methods;
}

int handEyeMethodValue(const std::string& method) {
  const auto& methods = handEyeMethodByNameMap();
  const auto entry = methods.find(method);
  if (entry == methods.end()) throw std::invalid_argument("Unknown hand-eye method '" + method + "'");
  return entry->second;
}

}  // namespace vemo::calibration
