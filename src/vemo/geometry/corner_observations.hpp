#pragma once

// The ChArUco corners of one synchronized frame of a rig, camera by camera, and the same
// corners regrouped by corner id: what triangulation consumes.

#include <opencv2/core.hpp>

#include <map>
#include <utility>
#include <vector>

#include "vemo/targets/targets.hpp"

namespace vemo::geometry {

// One camera's ChArUco corners. Both matrices are empty when fewer than 4 were found.
struct CornerDetection {
  cv::Mat corners;  // N x 2 CV_64F, pixels (x, y), one corner per row, in detection order
  cv::Mat ids;      // N x 1 CV_32S, the corner id of each row
};

// Corner id -> (camera index, pixel) observations, in ascending camera index and, within a
// camera, in detection row order.
using Observation = std::pair<int, cv::Point2d>;
using ObservationMap = std::map<int, std::vector<Observation>>;

// The board's corners in a BGR image (3 or 4 channels; OpenCV throws for grey images),
// found by the library's one ChArUco detection path with its default settings.
CornerDetection detectCharucoCorners(const cv::Mat& image, const CharucoTarget& target);

// Groups the corners of all cameras by id and keeps the ids seen at least twice (by two
// cameras, or twice by one: duplicates are not merged). Cameras with empty corners add
// nothing. Throws std::invalid_argument unless ids_per_camera[c] holds a CV_32S id for
// every row of corners_per_camera[c].
ObservationMap gatherObservations(const std::vector<cv::Mat>& corners_per_camera,
                                  const std::vector<cv::Mat>& ids_per_camera);

}  // namespace vemo::geometry
