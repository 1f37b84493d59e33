#include "vemo/calibration/target_corner_finders.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "vemo/core/aruco.hpp"
#include "vemo/core/logging.hpp"

namespace vemo::calibration {
namespace {

struct ViewDetection {
  cv::Mat image_points;   // N x 1 CV_32FC2
  cv::Mat object_points;  // N x 3 CV_32F
  cv::Mat point_ids;      // N x 1 CV_32S, or empty for targets without corner ids
  cv::Mat annotated_image;
};

// Runs detect(image, grey) on every image in order; an accepted view is appended under
// its index, a rejected one logs skip_warning followed by the index.
template <class Detect>
TargetDetections findInEachImage(const std::vector<cv::Mat>& images, const std::string& skip_warning,
                                 Detect detect) {
  TargetDetections detections;
  for (std::size_t i = 0; i < images.size(); ++i) {
    cv::Mat grey;
    cv::cvtColor(images[i], grey, cv::COLOR_BGR2GRAY);
    std::optional<ViewDetection> view = detect(images[i], grey);
    if (!view) {
      logging::log(logging::Level::Warning, skip_warning + std::to_string(i));
      continue;
    }
    detections.successful_indices.push_back(static_cast<int>(i));
    detections.image_points.push_back(std::move(view->image_points));
    detections.object_points.push_back(std::move(view->object_points));
    if (!view->point_ids.empty()) detections.point_ids.push_back(std::move(view->point_ids));
    detections.annotated_images.push_back(std::move(view->annotated_image));
  }
  return detections;
}

cv::Mat objectPointRows(const std::vector<cv::Point3f>& points) {
  return cv::Mat(static_cast<int>(points.size()), 3, CV_32F, const_cast<cv::Point3f*>(points.data())).clone();
}

cv::Mat imagePointColumn(const std::vector<cv::Point2f>& points) { return cv::Mat(points, true); }

}  // namespace

TargetDetections findChessboardTargetCorners(const ChessboardTarget& target, const IntrinsicOptions& options,
                                             const std::vector<cv::Mat>& images) {
  const cv::Mat object_points = target.objectPoints();
  const std::string& detector = options.chessboard_corner_detector;
  const cv::Size window(options.sub_pixel_detection_window_size, options.sub_pixel_detection_window_size);
  const cv::Size zero_zone(options.sub_pixel_detection_zero_zone_size, options.sub_pixel_detection_zero_zone_size);

  return findInEachImage(
      images, "[IntrinsicCalibrator] Chessboard not found in image ",
      [&](const cv::Mat& image, const cv::Mat& grey) -> std::optional<ViewDetection> {
        std::vector<cv::Point2f> corners;
        bool found = false;
        if (detector == "Default") {
          found = cv::findChessboardCorners(grey, target.size, corners, options.chessboard_flags);
          // The sector-based detector is already sub-pixel accurate; only this one is refined.
          if (found) cv::cornerSubPix(grey, corners, window, zero_zone, options.criteria);
        } else if (detector == "Sector Based") {
          found = cv::findChessboardCornersSB(grey, target.size, corners, options.chessboard_flags);
        } else {
          throw std::invalid_argument(
              "IntrinsicCalibrator: chessboard_corner_detector must be 'Default' or 'Sector Based', got '" +
              detector + "'");
        }
        if (!found) return std::nullopt;
        ViewDetection view{imagePointColumn(corners), object_points.clone(), cv::Mat(), image.clone()};
        cv::drawChessboardCorners(view.annotated_image, target.size, corners, true);
        return view;
      });
}

TargetDetections findCharucoTargetCorners(const CharucoTarget& target, const std::vector<cv::Mat>& images) {
  const aruco::CharucoDetector detector = target.buildDetector();
  const std::vector<cv::Point3f> board_corners = detector.getBoard().getChessboardCorners();

  return findInEachImage(
      images, "[CharucoIntrinsicCalibrator] Not enough ChArUco corners in image ",
      [&](const cv::Mat& image, const cv::Mat& grey) -> std::optional<ViewDetection> {
        std::vector<cv::Point2f> corners;
        std::vector<int> ids;
        std::vector<std::vector<cv::Point2f>> marker_corners;
        std::vector<int> marker_ids;
        detector.detectBoard(grey, corners, ids, marker_corners, marker_ids);
        if (corners.size() < 4) return std::nullopt;

        std::vector<cv::Point3f> object_points;
        object_points.reserve(ids.size());
        for (int id : ids) object_points.push_back(board_corners.at(static_cast<std::size_t>(id)));
        ViewDetection view{imagePointColumn(corners), objectPointRows(object_points), cv::Mat(ids, true),
                           image.clone()};
        if (!marker_ids.empty()) {
          aruco::drawDetectedMarkers(view.annotated_image, marker_corners, marker_ids, cv::Scalar(0, 255, 0));
        }
        aruco::drawDetectedCornersCharuco(view.annotated_image, corners, ids, cv::Scalar(255, 0, 0));
        return view;
      });
}

TargetDetections findArucoTargetCorners(const ArucoTarget& target, const std::vector<cv::Mat>& images) {
  const aruco::GridBoard board = target.buildBoard();
  const aruco::ArucoDetector detector(board.getDictionary());
  const std::vector<std::vector<cv::Point3f>> marker_object_corners = board.getObjPoints();
  std::unordered_map<int, std::size_t> board_index_of_id;
  const std::vector<int> board_ids = board.getIds();
  for (std::size_t k = 0; k < board_ids.size(); ++k) board_index_of_id.emplace(board_ids[k], k);

  return findInEachImage(
      images, "[ArucoIntrinsicCalibrator] Not enough ArUco markers in image ",
      [&](const cv::Mat& image, const cv::Mat& grey) -> std::optional<ViewDetection> {
        std::vector<std::vector<cv::Point2f>> detected_corners, rejected;
        std::vector<int> detected_ids;
        detector.detectMarkers(grey, detected_corners, detected_ids, rejected);

        // A dictionary larger than the board can match markers that are not on it; they
        // have no object corners and must not count towards the minimum.
        std::vector<std::vector<cv::Point2f>> corners;
        std::vector<int> ids;
        for (std::size_t m = 0; m < detected_ids.size(); ++m) {
          if (board_index_of_id.count(detected_ids[m]) == 0) continue;
          corners.push_back(detected_corners[m]);
          ids.push_back(detected_ids[m]);
        }
        if (ids.size() < 4) return std::nullopt;
        detector.refineDetectedMarkers(grey, board, corners, ids, rejected);

        std::vector<cv::Point2f> image_points;
        std::vector<cv::Point3f> object_points;
        for (std::size_t m = 0; m < ids.size(); ++m) {
          const auto& object_corners = marker_object_corners[board_index_of_id.at(ids[m])];
          image_points.insert(image_points.end(), corners[m].begin(), corners[m].end());
          object_points.insert(object_points.end(), object_corners.begin(), object_corners.end());
        }
        ViewDetection view{imagePointColumn(image_points), objectPointRows(object_points), cv::Mat(),
                           image.clone()};
        aruco::drawDetectedMarkers(view.annotated_image, corners, ids, cv::Scalar(0, 255, 0));
        return view;
      });
}

}  // namespace vemo::calibration
