#pragma once

// The target finding behind IntrinsicCalibrator::findCorners: the detection path of the
// target's kind with the intrinsic calibration's settings, over a batch of images. A
// rejected image is skipped with a warning line naming its 0-based index; a missing
// target never throws.

#include <opencv2/core.hpp>

#include <cstddef>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

// Chessboard: all inner corners must be found; "Default" corners are refined with
// cornerSubPix, "Sector Based" ones are not; another detector name throws
// std::invalid_argument, checked per image (so an empty batch never throws).
// ChArUco: at least 4 interpolated corners; fills point_ids.
// ArUco: at least 4 markers of the board (markers of the dictionary that are not on the
// board are dropped first), then board refinement recovers missed markers; points are
// the 4 corners of each marker, marker after marker.
// Every accepted view carries an annotated copy of its image.
TargetDetections findTargetCorners(const Target& target, const IntrinsicOptions& options,
                                   const std::vector<cv::Mat>& images);

// The warning findTargetCorners logs for the image at `index` when the target is not accepted.
void logSkippedImage(const Target& target, std::size_t index);

// Whether findTargetCorners finds the same corners under both options: they agree in every
// field it reads (detector name, chessboard flags, sub-pixel window, zero zone, criteria).
bool detectsAlike(const IntrinsicOptions& a, const IntrinsicOptions& b);

// The detections of the images at image_indices (positions in the batch that `detections`
// was found in), as findTargetCorners gives them for the batch of those images in that
// order.
TargetDetections selectDetections(const TargetDetections& detections, const std::vector<int>& image_indices);

}  // namespace vemo::calibration
