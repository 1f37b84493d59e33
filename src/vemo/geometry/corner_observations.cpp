#include "vemo/geometry/corner_observations.hpp"

#include <stdexcept>
#include <string>

#include "vemo/targets/target_detection.hpp"

namespace vemo::geometry {

CornerDetection detectCharucoCorners(const cv::Mat& image, const CharucoTarget& target) {
  const std::optional<TargetView> view = TargetDetector(target, DetectionSettings()).detect(image);
  if (!view) return {};
  CornerDetection detection;
  view->image_points.reshape(1).convertTo(detection.corners, CV_64F);
  detection.ids = view->point_ids.clone();
  return detection;
}

ObservationMap gatherObservations(const std::vector<cv::Mat>& corners_per_camera,
                                  const std::vector<cv::Mat>& ids_per_camera) {
  ObservationMap seen;
  for (std::size_t camera = 0; camera < corners_per_camera.size(); ++camera) {
    const cv::Mat& corners = corners_per_camera[camera];
    if (corners.empty()) continue;
    // A precondition, checked because breaking it would read past the ids.
    if (camera >= ids_per_camera.size() || ids_per_camera[camera].type() != CV_32S ||
        ids_per_camera[camera].total() < static_cast<std::size_t>(corners.rows)) {
      throw std::invalid_argument("gatherObservations: camera " + std::to_string(camera) +
                                  " needs one CV_32S id per corner row");
    }
    const cv::Mat ids = ids_per_camera[camera].isContinuous() ? ids_per_camera[camera] : ids_per_camera[camera].clone();
    const int* id = ids.ptr<int>();
    for (int row = 0; row < corners.rows; ++row) {
      seen[id[row]].emplace_back(static_cast<int>(camera),
                                 cv::Point2d(corners.at<double>(row, 0), corners.at<double>(row, 1)));
    }
  }
  ObservationMap shared;
  for (auto& [id, observations] : seen) {
    if (observations.size() >= 2) shared.emplace(id, std::move(observations));
  }
  return shared;
}

}  // namespace vemo::geometry
