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

// tcp_T_camera (4x4 CV_64F) solving AX = XB by the method with this cv::HandEyeCalibrationMethod
// value, from aligned 4x4 CV_64F robot_T_tcp and camera_T_target lists. Computed here, not by
// cv::calibrateHandEye, which allocates matrices for every pair of captures and decomposes all
// their rows at once (a second per method at 300 captures): PARK and ANDREFF as OpenCV
// computes them (pairwise_hand_eye_solvers.hpp), TSAI, HORAUD and DANIILIDIS with the
// corrections OpenCV 4.11 made (mended_hand_eye_solvers.hpp), each equal to OpenCV's result to
// rounding where the corrections do not apply. Below 3 captures OpenCV's call gives its error.
// Empty when TSAI finds fewer than 2 informative motions between the captures;
// std::invalid_argument for a value that is no method.
cv::Mat solveHandEyeEquation(const std::vector<cv::Mat>& robot_T_tcp_list,
                             const std::vector<cv::Mat>& camera_T_target_list, int method);

}  // namespace vemo::calibration
