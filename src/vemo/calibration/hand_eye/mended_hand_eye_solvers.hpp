#pragma once

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_motions.hpp"

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

// tcp_T_camera (4x4 CV_64F) by the corrected method, cv::HandEyeCalibrationMethod TSAI,
// HORAUD or DANIILIDIS (std::invalid_argument for another), from the motions of every pair of
// captures (at least 3 captures). Where no correction applies, this is the method as every
// OpenCV computes it, to rounding. An empty matrix when TSAI keeps fewer than 2 motions: too
// little rotation variety to fix the rotation (OpenCV 4.11 then returns the identity, with
// only a log line).
cv::Mat solveCorrectedHandEye(const std::vector<HandEyeMotion>& motions, int method);

}  // namespace vemo::calibration
