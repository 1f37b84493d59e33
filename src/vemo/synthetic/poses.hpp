#pragma once

// Camera poses for rendered views: where to put a camera so that it sees the target.

#include <opencv2/core.hpp>

#include "vemo/targets/targets.hpp"

namespace vemo::synthetic {

// Centre of the target's pattern in its board frame (metres, z = 0).
cv::Point3d targetCentre(const Target& target);

// camera_T_target (4x4 CV_64F) of a camera at camera_position (board frame, metres; z < 0
// is in front of the printed side) looking at the target's centre, upright (image y axis
// along the board's y axis as far as the viewing direction allows), then rolled by
// roll_deg about its viewing axis. Throws std::invalid_argument
// "cameraTTargetLookingAt: ..." for non-finite values, when the camera sits on the centre
// or looks along the board's y axis.
cv::Mat cameraTTargetLookingAt(const Target& target, const cv::Point3d& camera_position, double roll_deg = 0.0);

}  // namespace vemo::synthetic
