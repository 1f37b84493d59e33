#pragma once

// The verdict on an intrinsic calibration (see vemo/quality/verdict.hpp): the solver fits a
// camera to any corners, and a board layout given wrongly or one view taken many times
// still comes back "ok".

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_result.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/quality/verdict.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

// Corners further than this (RMS over all of them) from the calibrated model mean the
// target's layout or the lens model is wrong, pixels: detection noise stays far below it.
inline constexpr double kMaximumIntrinsicRmsPx = 2.0;
// Views whose corners all lie within this of another view's are the same view, pixels.
inline constexpr double kRepeatedViewTolerancePx = 0.5;
// Distinct views a calibration needs before its answer means anything.
inline constexpr std::size_t kMinimumDistinctViews = 3;

// RMS over all corners of the result's views, from its per-view RMS errors; NaN when there
// are none.
double intrinsicRmsPx(const IntrinsicResult& result);

// Per view, the view it repeats (the first with the same corners within the tolerance), or
// its own index. image_points: per view N x 1 CV_32FC2 (or N x 2).
std::vector<std::size_t> firstOfSameView(const std::vector<cv::Mat>& image_points);

// For a ChArUco target whose corners were found in no image: OpenCV 4.7 on finds none when
// the layout given is wrong (4.6 finds wrong ones), which leaves the user with "No corners
// found". Logs the layout check's warning when the markers do not fit the layout.
void warnOfChArUcoLayout(const Target& target, const std::vector<cv::Mat>& images);

// Logs one warning per repeated view group, naming input images by successful_indices,
// and one when a ChArUco target's markers do not fit its layout (charuco_layout_check.hpp).
quality::Verdict judgeIntrinsics(const IntrinsicResult& result, const Target& target,
                                 const TargetDetections& detections);

}  // namespace vemo::calibration
