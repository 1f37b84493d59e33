#pragma once

// The target found in a batch of images: one entry per image where it was found.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/targets/annotation.hpp"
#include "vemo/targets/target_detection.hpp"

namespace vemo::calibration {

// All vectors run in parallel (except point_ids, see below), in image order; an image
// where the target was not found has no entry, so skipped images leave gaps in
// successful_indices. An empty batch, or one without any detection, gives all-empty vectors.
struct TargetDetections {
  std::vector<int> successful_indices;  // position of the image in the input batch, 0-based
  std::vector<cv::Mat> image_points;    // N x 1 CV_32FC2, detected points in pixels
  std::vector<cv::Mat> object_points;   // N x 3 CV_32F, matching board-frame points in metres
  // N x 1 CV_32S ChArUco corner ids. ChArUco targets only: for the other kinds this
  // vector has no entries at all.
  std::vector<cv::Mat> point_ids;
  // Every marker found in each view, ChArUco targets only (as point_ids).
  std::vector<DetectedMarkers> markers;
  // Copy of the input image with the detection drawn, drawn when first read.
  AnnotatedImages annotated_images;
};

}  // namespace vemo::calibration
