#pragma once

// The printed sheet of a target as a flat image, with the map from the board frame to its
// pixels: what a renderer pastes into a view, and what a user would print.

#include <opencv2/core.hpp>

#include "vemo/targets/targets.hpp"

namespace vemo::synthetic {

struct BoardImage {
  // CV_8UC3 BGR: black 0, white 255 (OpenCV may leave grey texels along marker edges that
  // do not fall on pixel boundaries).
  cv::Mat image;
  // Pixel coordinates (OpenCV convention: integer at pixel centres) of the board point
  // (x, y, 0) in metres: pixel_from_target * (x, y, 1). A scale and a shift, no rotation.
  cv::Matx23d pixel_from_target;
};

// The sheet at pixels_per_metre (> 0): the pattern and a white margin around it (one
// square for a chessboard, half a square for a ChArUco board, half a marker for an ArUco
// grid). Chessboards are drawn here, ChArUco and ArUco boards by OpenCV. Pattern edges
// fall on pixel boundaries wherever their lengths times pixels_per_metre are integers.
// Throws std::invalid_argument "boardImage: ..." for a non-positive resolution, a
// target with a non-positive size, an image that would exceed 2^28 pixels or markers
// narrower than one pixel per cell; "CharucoBoard: ..."/"GridBoard: ..." for more
// markers than the dictionary has;
// std::runtime_error for a dictionary this OpenCV does not have.
BoardImage boardImage(const Target& target, double pixels_per_metre);

// The renderer's resolution for a target's sheet: the smallest at which every edge of the
// pattern falls on pixel boundaries, so that looking up the nearest pixel reproduces the
// pattern exactly at any magnification. Where no such resolution exists (lengths in odd
// ratios), about 4096 pixels along the sheet's longer side. Throws std::invalid_argument
// "exactPixelsPerMetre: ..." for geometry boardImage rejects.
double exactPixelsPerMetre(const Target& target);

}  // namespace vemo::synthetic
