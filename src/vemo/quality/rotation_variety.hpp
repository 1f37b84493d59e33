#pragma once

// Folder quality/: the part of namespace vemo::quality that only reads poses, so it sits
// low enough for the calibrations to print it in their reports.

#include <opencv2/core.hpp>

#include <array>
#include <optional>
#include <string>
#include <vector>

// How well the rotations between consecutive captures span all three axes. A hand-eye
// solve needs the camera rotated about several different axes: when the motions' axes
// lie in one plane, one direction of the hand-eye rotation is barely observed.
namespace vemo::quality {

// Motions rotating this little (degrees) are noise rather than rotation: the default
// threshold of the analysis.
inline constexpr double kDefaultMinRotationDeg = 0.5;

struct RotationVarietyStats {
  int num_motions = 0;                          // motions that passed the minimum-rotation filter
  std::array<double, 3> singular_values{};      // of the stacked rotation vectors, radians, largest first
  double axis_span_ratio = 0.0;                 // smallest / largest singular value; 0 = one axis only
  double angle_mean_deg = 0.0;                  // mean rotation angle of the analysed motions
  double angle_max_deg = 0.0;                   // largest rotation angle of the analysed motions
};

// Analyses the motions inverse(T[i-1]) * T[i] between consecutive 4x4 camera_T_target
// poses (any numeric depth, capture order). Only motions rotating strictly more than
// min_rotation_deg (degrees) count. Empty when fewer than 3 motions count, so fewer than
// 4 poses always give an empty result. A constant change of camera or target frame
// leaves the result unchanged. Throws std::invalid_argument for a pose that is not a
// single-channel 4x4 matrix, holds a non-finite value or is singular, and for a negative
// or NaN min_rotation_deg.
std::optional<RotationVarietyStats> analyzeRotationVariety(const std::vector<cv::Mat>& camera_T_target_list,
                                                           double min_rotation_deg);

// Multi-line report ending with a verdict: POOR below a ratio of 0.15, Marginal below
// 0.35, healthy otherwise; an empty optional gives "Not enough motions to analyze.".
std::string formatRotationVariety(const std::optional<RotationVarietyStats>& stats);

}  // namespace vemo::quality
