#pragma once

// The check of the poses handed to the hand-eye calibrators, with messages that name the
// calibrator ("<class_name>: ...", std::invalid_argument). Camera matrices: see
// camera_matrix_check.hpp.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace vemo::calibration {

// Every pose is a finite 4x4 rigid transform: last row (0, 0, 0, 1) and a proper rotation
// block (within tf::kOrthonormalityTolerance). list_name names the list in the message,
// with the index of the first pose that is not.
void requireRigidPoses(const std::vector<cv::Mat>& poses, const std::string& list_name,
                       const std::string& class_name);

}  // namespace vemo::calibration
