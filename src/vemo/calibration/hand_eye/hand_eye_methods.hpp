#pragma once

#include <opencv2/core.hpp>

#include <map>
#include <string>
#include <vector>

namespace vemo::calibration {

// Hand-eye solver names to cv::HandEyeCalibrationMethod values: "TSAI" 0, "PARK" 1,
// "HORAUD" 2, "ANDREFF" 3, "DANIILIDIS" 4. Keys are matched exactly (upper case);
// iteration runs in byte order of the names. Built on first use, never changed.
const std::map<std::string, int>& handEyeMethodByNameMap();

// The value of a method name; std::invalid_argument "Unknown hand-eye method '<name>'" for
// a name not in the table.
int handEyeMethodValue(const std::string& method);

// tcp_T_camera (4x4 CV_64F) solving AX = XB by cv::calibrateHandEye with the method value,
// from aligned 4x4 CV_64F robot_T_tcp and camera_T_target lists; by the corrected method
// instead where this OpenCV's TSAI, HORAUD or DANIILIDIS would meet its known faults on
// these poses (mended_hand_eye_solvers.hpp), so that every OpenCV gives the corrected result;
// PARK and ANDREFF by their own computation of OpenCV's method (pairwise_hand_eye_solvers.hpp),
// which equals OpenCV's to rounding at a fraction of its cost.
// Empty when TSAI finds fewer than 2 informative motions between the captures.
cv::Mat solveHandEyeEquation(const std::vector<cv::Mat>& robot_T_tcp_list,
                             const std::vector<cv::Mat>& camera_T_target_list, int method);

}  // namespace vemo::calibration
