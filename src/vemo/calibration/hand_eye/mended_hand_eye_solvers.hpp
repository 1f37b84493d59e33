#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

// Tsai-Lenz (1989), Horaud-Dornaika (1995) and Daniilidis (1999) as published, with the two
// corrections OpenCV made in 4.11 (pull request 24897) and that 4.6 and 4.10 lack:
// - Tsai-Lenz leaves out every motion whose rotation angle, of the flange or of the camera,
//   is below 2 asin(0.15) = 17.25 degrees or above 2 asin(0.85) = 116.42 degrees: the axis of a
//   small rotation drowns in noise, and its modified Rodrigues vector 2 sin(angle / 2) axis
//   turns its sign over as the angle nears 180 degrees. The bounds are those of OpenCV 4.11's
//   filter (|2 sin(angle / 2)| in [0.3, 1.7]), so that results equal that release's.
// - Horaud-Dornaika and Daniilidis take every motion's (dual) quaternion with a non-negative
//   real part, so that a flange motion and the camera motion it causes compare as equals and
//   not as q against -q.
namespace vemo::calibration {

// tcp_T_camera (4x4 CV_64F) by the corrected method when OpenCV's own calibrateHandEye has
// the fault that the correction mends and these inputs would meet it: TSAI with a motion
// between two captures that Tsai-Lenz leaves out, HORAUD or DANIILIDIS with a motion whose
// quaternion the old conversion gives a negative real part. std::nullopt otherwise (another
// method, fewer than 3 captures, no such motion, or an OpenCV that has the corrections):
// then OpenCV's call computes exactly what the corrected method would.
// Inputs: aligned 4x4 robot_T_tcp and camera_T_target lists (metres), method a
// cv::HandEyeCalibrationMethod value. An empty matrix when TSAI keeps fewer than 2 motions:
// too little rotation variety to fix the rotation (OpenCV 4.11 then returns the identity,
// with only a log line).
std::optional<cv::Mat> solveHandEyeWithCorrection(const std::vector<cv::Mat>& robot_T_tcp_list,
                                                  const std::vector<cv::Mat>& camera_T_target_list, int method);

}  // namespace vemo::calibration
