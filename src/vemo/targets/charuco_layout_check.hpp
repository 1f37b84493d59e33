#pragma once

// Whether the ArUco markers seen in a batch of images sit where a ChArUco target's layout
// puts them. A board given with its squares the wrong way round (9 x 12 for 12 x 9) or off
// by one still yields ChArUco corners, but interpolated from markers placed in the wrong
// squares: the calibration then "succeeds" on garbage. The marker ids say where each marker
// is on the board, so the layout is wrong when no plane-to-image mapping (a homography)
// carries the board positions of the detected markers' corners onto the image.
//
// The check only reads: it neither logs nor changes the calibration; callers decide what
// to do with its verdict and warning.

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

#include "vemo/targets/target_detection.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo {

// One layout measured against the markers.
struct CharucoLayoutFit {
  int squares_x = 0;
  int squares_y = 0;
  // Median over the images used of each image's RMS distance between the detected marker
  // corners and the best homography of their board positions, in edges of a square as
  // the image shows it (the mean marker edge in pixels scaled by square/marker length),
  // so that near and far views compare. Infinite when an id seen in two or more of the
  // images used (or in the only one) is beyond the board's markers: the board cannot hold
  // it. Ids beyond them seen in one image of several are taken for strays and left out
  // of that image's fit (an image left with fewer than kCharucoLayoutMinimumMarkers counts
  // as not fitting).
  double residual_squares = 0.0;
};

struct CharucoLayoutCheck {
  // False only when the images show that the markers do not fit the target's layout;
  // true when they fit or when no image has enough markers to tell.
  bool fits = true;
  // Images with at least kCharucoLayoutMinimumMarkers markers: the only evidence. Fewer
  // markers say nothing either way.
  int images_used = 0;
  // The target's layout first; when it does not fit, then every candidate tried: each
  // dimension up to 2 squares more or fewer, and the same with the dimensions swapped,
  // those with fewest changes first (a swap counts one). Boards with more markers than
  // the dictionary or under 2 x 2 squares are not candidates. Empty when no image was used.
  std::vector<CharucoLayoutFit> layouts;
  // (squares_x, squares_y) of the layout the markers fit: the target's own when it fits,
  // else the fitting candidate with fewest changes (then the smallest residual); empty
  // when no layout fits or no image was used.
  std::optional<cv::Size> fitting_layout;
  // Empty when fits; otherwise exactly
  // "ChArUco markers do not fit a <X>x<Y> board; they fit a <X2>x<Y2> board (squares_x x squares_y)"
  // or, when no candidate fits,
  // "ChArUco markers do not fit a <X>x<Y> board, nor any board a square or two larger, smaller or turned".
  std::string warning;
};

// Markers an image needs to count as evidence: a homography carries the 8 corners of two
// markers anywhere, and 12 corners of three barely test it.
inline constexpr int kCharucoLayoutMinimumMarkers = 4;
// Largest residual_squares of a layout that fits, halfway (geometrically) between what
// the right layout leaves and what the nearest wrong one does. Measured: the right layout
// leaves 0.02 to 0.06 on rendered views with noise, blur and moderate distortion, 0.11 to
// 0.19 with a board filling a strongly distorted image (k1 -0.35 to -0.45), 0.035 on a
// real photograph (in the pattern it was printed with); a width a square off or swapped
// places markers a row away and leaves 2 or more, and the subtlest wrong layout seen,
// OpenCV's pre-4.6 pattern of an even-row board (every row shifted by a square), 0.87 on
// that photograph.
inline constexpr double kCharucoLayoutFitLimitSquares = 0.4;

// Detects the target's dictionary's markers in every image (8-bit grey, BGR or BGRA; in
// parallel) and checks them. Throws std::invalid_argument as requireUsableTarget
// (target_check.hpp) for an unusable target and "CharucoBoard: ..." for a board with
// more markers than its dictionary; std::runtime_error "checkCharucoLayout: image <i>
// must be ..." for another kind of image.
CharucoLayoutCheck checkCharucoLayout(const CharucoTarget& target, const std::vector<cv::Mat>& images);

// The same on markers already detected with the target's dictionary, one entry per image.
// Throws std::invalid_argument "checkCharucoLayout: image <i> ..." when an entry's
// corners and ids differ in number, a marker has other than 4 corners or one that is not
// finite, or an id is negative.
CharucoLayoutCheck checkCharucoLayout(const CharucoTarget& target, const std::vector<DetectedMarkers>& markers);

}  // namespace vemo
