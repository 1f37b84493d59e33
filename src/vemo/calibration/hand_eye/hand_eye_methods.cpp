#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"

#include <opencv2/calib3d.hpp>

#include <stdexcept>

#include "vemo/calibration/hand_eye/hand_eye_motions.hpp"
#include "vemo/calibration/hand_eye/mended_hand_eye_solvers.hpp"
#include "vemo/calibration/hand_eye/pairwise_hand_eye_solvers.hpp"
#include "vemo/tf/tf.hpp"

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

cv::Mat solveHandEyeEquation(const std::vector<cv::Mat>& robot_T_tcp_list,
                             const std::vector<cv::Mat>& camera_T_target_list, int method) {
  // Below 3 captures OpenCV refuses the input; its own message is the one to give.
  if (camera_T_target_list.size() < 3) {
    std::vector<cv::Mat> r_gripper2base, t_gripper2base, r_target2cam, t_target2cam;
    for (std::size_t i = 0; i < camera_T_target_list.size(); ++i) {
      r_target2cam.push_back(tf::rotationOf(camera_T_target_list[i]).clone());
      t_target2cam.push_back(tf::translationOf(camera_T_target_list[i]).clone());
      r_gripper2base.push_back(tf::rotationOf(robot_T_tcp_list[i]).clone());
      t_gripper2base.push_back(tf::translationOf(robot_T_tcp_list[i]).clone());
    }
    cv::Mat r_cam2gripper, t_cam2gripper;
    cv::calibrateHandEye(r_gripper2base, t_gripper2base, r_target2cam, t_target2cam, r_cam2gripper, t_cam2gripper,
                         static_cast<cv::HandEyeCalibrationMethod>(method));
    return tf::composeTransformationMatrix(r_cam2gripper, t_cam2gripper);
  }
  const std::vector<HandEyeMotion> motions = handEyeMotionsOfAllPairs(robot_T_tcp_list, camera_T_target_list);
  switch (method) {
    case cv::CALIB_HAND_EYE_PARK:
      return solveParkMartin(motions);
    case cv::CALIB_HAND_EYE_ANDREFF:
      return solveAndreff(motions);
    default:
      return solveCorrectedHandEye(motions, method);
  }
}

}  // namespace vemo::calibration
