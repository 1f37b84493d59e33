#pragma once

// The check of a calibrated rig on one synchronized frame of a ChArUco board: corners
// triangulated from every camera that saw them, compared with the board's geometry.

#include <opencv2/core.hpp>

#include <vector>

namespace vemo::calibration {

struct TriangulationReport {
  int frame_index = 0;  // the frame that was triangulated
  cv::Mat points_3d;    // N x 3 CV_64F, reference camera frame, metres; ascending corner id, degenerate ones dropped
  cv::Mat ids;          // N x 1 CV_32S, ChArUco corner id of each row
  std::vector<double> neighbor_distances_m;  // board-adjacent corner distances; each near the square length
  // Third singular value of the centred points (metres): the root of the summed squared
  // distances from their plane, not divided by the number of points.
  double plane_thickness_m = 0.0;
  std::vector<double> rms_per_camera;   // per camera, pixels; NaN without observations
  std::vector<int> counts_per_camera;   // per camera, corners behind its RMS; 0 when none
};

}  // namespace vemo::calibration
