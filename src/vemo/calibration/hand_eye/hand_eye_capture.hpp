#pragma once

// One capture of a hand-eye run as the run filters it: a filter clears `kept` instead of
// re-indexing parallel lists, so that a capture's image, robot pose, corners and target
// pose never part.

#include <opencv2/core.hpp>

#include <cstddef>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"
#include "vemo/calibration/hand_eye/hand_eye_result.hpp"

namespace vemo::calibration {

struct HandEyeCapture {
  cv::Mat image;            // BGR, a header of the caller's; empty when the target pose was given
  cv::Mat robot_T_tcp;      // 4x4 CV_64F flange pose as the solve takes it (inverted for eye-to-hand)
  CaptureCorners corners;   // the points camera_T_target was solved from; empty when it was given
  cv::Mat camera_T_target;  // 4x4 CV_64F; empty until the target pose is known
  bool kept = true;         // false once a filter has dropped the capture
};

// Every capture of a run's input, in input order, kept or not.
using HandEyeCaptures = std::vector<HandEyeCapture>;

// Poses as CV_64F: header copies of those that already are, converted copies of the rest.
// The solve and the statistics multiply poses together, which needs one depth.
std::vector<cv::Mat> posesAsDouble(const std::vector<cv::Mat>& poses);

// How many captures every filter so far has kept.
std::size_t keptCount(const HandEyeCaptures& captures);

// Drops every kept capture whose position among the kept ones is not in kept_positions
// (ascending).
void keepOnly(HandEyeCaptures& captures, const std::vector<int>& kept_positions);

// Of a list parallel to the captures (or the captures' images), the entries of the kept ones.
std::vector<cv::Mat> keptOf(const std::vector<cv::Mat>& items, const HandEyeCaptures& captures);
std::vector<cv::Mat> keptImages(const HandEyeCaptures& captures);

// The kept captures' robot poses and images, and with_target_poses their target poses, as
// the result's aligned lists.
void setAlignedLists(const HandEyeCaptures& captures, HandEyeResult& result, bool with_target_poses);

// Per kept capture, the corners its target pose was solved from; none at all when the
// target poses were given.
std::vector<CaptureCorners> keptCorners(const HandEyeCaptures& captures);

// The input positions of the kept captures, ascending.
std::vector<int> keptPositions(const HandEyeCaptures& captures);

}  // namespace vemo::calibration
