#pragma once

// The target finders behind IntrinsicCalibrator::findCorners, one per target kind.
// Each converts every image (BGR, 3 or 4 channels) to grey, detects the target, and
// appends one entry per accepted image to the detections; a rejected image is skipped
// with a warning line naming its 0-based index. Never throws for a missing target.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/intrinsic_options.hpp"
#include "vemo/calibration/target_detections.hpp"
#include "vemo/core/targets.hpp"

namespace vemo::calibration {

// All inner corners must be found. "Default" corners are refined with cornerSubPix,
// "Sector Based" ones are not. Throws std::invalid_argument for another detector name,
// checked per image (so an empty batch never throws).
TargetDetections findChessboardTargetCorners(const ChessboardTarget& target, const IntrinsicOptions& options,
                                             const std::vector<cv::Mat>& images);

// Accepts an image with at least 4 interpolated ChArUco corners; fills point_ids.
TargetDetections findCharucoTargetCorners(const CharucoTarget& target, const std::vector<cv::Mat>& images);

// Accepts an image with at least 4 markers of the board (markers of the dictionary that
// are not on the board are dropped first), then lets board refinement recover missed
// markers. Points: the 4 corners of each marker, marker after marker.
TargetDetections findArucoTargetCorners(const ArucoTarget& target, const std::vector<cv::Mat>& images);

}  // namespace vemo::calibration
