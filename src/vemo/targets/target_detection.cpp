#include "vemo/targets/target_detection.hpp"

#include "vemo/targets/target_check.hpp"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace vemo {
namespace {

cv::Mat objectPointRows(const std::vector<cv::Point3f>& points) {
  return cv::Mat(static_cast<int>(points.size()), 3, CV_32F, const_cast<cv::Point3f*>(points.data())).clone();
}

cv::Mat imagePointColumn(const std::vector<cv::Point2f>& points) { return cv::Mat(points, true); }

[[noreturn]] void refuseImage(const cv::Mat& image, const std::string& operation, std::size_t index,
                              const char* expected) {
  static const char* const depth_names[] = {"8-bit unsigned", "8-bit signed", "16-bit unsigned", "16-bit signed",
                                            "32-bit integer", "32-bit float",   "64-bit float",    "16-bit float"};
  const std::string got = image.empty() ? "an empty image"
                                        : std::string(depth_names[image.depth()]) + " with " +
                                              std::to_string(image.channels()) + " channel(s)";
  throw std::runtime_error(operation + ": image " + std::to_string(index) + " must be " + expected + ", got " + got);
}

}  // namespace

cv::Mat toGrey(const cv::Mat& image) {
  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  return grey;
}

void requireColourImage(const cv::Mat& image, const std::string& operation, std::size_t index) {
  if (!image.empty() && image.depth() == CV_8U && (image.channels() == 3 || image.channels() == 4)) return;
  refuseImage(image, operation, index, "an 8-bit BGR image (3 or 4 channels)");
}

void requireGreyOrColourImage(const cv::Mat& image, const std::string& operation, std::size_t index) {
  if (!image.empty() && image.depth() == CV_8U &&
      (image.channels() == 1 || image.channels() == 3 || image.channels() == 4)) {
    return;
  }
  refuseImage(image, operation, index, "an 8-bit grey or BGR image (1, 3 or 4 channels)");
}

TargetDetector::TargetDetector(const Target& target, DetectionSettings settings)
    : settings_(std::move(settings)),
      kind_((requireUsableTarget(target), std::visit(
          [](const auto& kind) -> std::variant<Chessboard, Charuco, Aruco> {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, ChessboardTarget>) {
              return Chessboard{kind, kind.objectPoints()};
            } else if constexpr (std::is_same_v<Kind, CharucoTarget>) {
              aruco::CharucoDetector detector = kind.buildDetector();
              std::vector<cv::Point3f> corners = detector.getBoard().getChessboardCorners();
              return Charuco{std::move(detector), std::move(corners)};
            } else {
              aruco::GridBoard board = kind.buildBoard();
              aruco::ArucoDetector detector(board.getDictionary());
              // Object corners by marker id: the grid board numbers its markers 0, 1, 2, ...
              const std::vector<std::vector<cv::Point3f>> corners_in_board_order = board.getObjPoints();
              const std::vector<int> ids = board.getIds();
              std::vector<std::vector<cv::Point3f>> corners_by_id;
              for (std::size_t k = 0; k < ids.size(); ++k) {
                if (ids[k] < 0) continue;
                const auto id = static_cast<std::size_t>(ids[k]);
                if (corners_by_id.size() <= id) corners_by_id.resize(id + 1);
                corners_by_id[id] = corners_in_board_order[k];
              }
              return Aruco{std::move(board), std::move(detector), std::move(corners_by_id)};
            }
          },
          target))) {}

std::optional<TargetView> TargetDetector::detect(const cv::Mat& image) const {
  return std::visit(
      [&](const auto& kind) -> std::optional<TargetView> {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<Kind, Chessboard>) {
          return detectChessboard(kind, image);
        } else if constexpr (std::is_same_v<Kind, Charuco>) {
          return detectCharuco(kind, image);
        } else {
          return detectAruco(kind, image);
        }
      },
      kind_);
}

std::optional<TargetView> TargetDetector::detectChessboard(const Chessboard& kind, const cv::Mat& image) const {
  const cv::Mat grey = toGrey(image);
  std::vector<cv::Point2f> corners;
  bool found = false;
  if (settings_.chessboard_detector == ChessboardDetector::Classic) {
    found = cv::findChessboardCorners(grey, kind.target.size, corners, settings_.chessboard_flags);
    if (found) {
      cv::cornerSubPix(grey, corners, settings_.sub_pixel_window, settings_.sub_pixel_zero_zone,
                       settings_.sub_pixel_criteria);
    }
  } else {
    found = cv::findChessboardCornersSB(grey, kind.target.size, corners, settings_.chessboard_flags);
  }
  if (!found) return std::nullopt;

  TargetView view{imagePointColumn(corners), kind.object_points.clone(), cv::Mat(), Annotation(),
                  static_cast<int>(corners.size())};
  if (settings_.annotate) {
    view.annotation = Annotation(image, [size = kind.target.size, corners](cv::Mat& copy) {
      cv::drawChessboardCorners(copy, size, corners, true);
    });
  }
  return view;
}

std::optional<TargetView> TargetDetector::detectCharuco(const Charuco& kind, const cv::Mat& image) const {
  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
  std::vector<std::vector<cv::Point2f>> marker_corners;
  std::vector<int> marker_ids;
  kind.detector.detectBoard(toGrey(image), corners, ids, marker_corners, marker_ids);
  if (static_cast<int>(corners.size()) < settings_.minimum_count) return std::nullopt;

  std::vector<cv::Point3f> object_points;
  object_points.reserve(ids.size());
  for (int id : ids) object_points.push_back(kind.board_corners.at(static_cast<std::size_t>(id)));
  TargetView view{imagePointColumn(corners), objectPointRows(object_points), cv::Mat(ids, true), Annotation(),
                  static_cast<int>(corners.size()), {marker_corners, marker_ids}};
  if (settings_.annotate) {
    view.annotation = Annotation(image, [marker_corners, marker_ids, corners, ids](cv::Mat& copy) {
      if (!marker_ids.empty()) aruco::drawDetectedMarkers(copy, marker_corners, marker_ids, cv::Scalar(0, 255, 0));
      if (!ids.empty()) aruco::drawDetectedCornersCharuco(copy, corners, ids, cv::Scalar(255, 0, 0));
    });
  }
  return view;
}

std::optional<TargetView> TargetDetector::detectAruco(const Aruco& kind, const cv::Mat& image) const {
  const cv::Mat grey = toGrey(image);
  std::vector<std::vector<cv::Point2f>> detected_corners, rejected;
  std::vector<int> detected_ids;
  kind.detector.detectMarkers(grey, detected_corners, detected_ids, rejected);

  const auto on_board = [&](int id) {
    return id >= 0 && static_cast<std::size_t>(id) < kind.marker_object_corners.size() &&
           !kind.marker_object_corners[static_cast<std::size_t>(id)].empty();
  };
  std::vector<std::vector<cv::Point2f>> corners;
  std::vector<int> ids;
  for (std::size_t m = 0; m < detected_ids.size(); ++m) {
    if (settings_.drop_off_board_markers_before_count && !on_board(detected_ids[m])) continue;
    corners.push_back(detected_corners[m]);
    ids.push_back(detected_ids[m]);
  }
  const int count = static_cast<int>(ids.size());
  if (count < settings_.minimum_count) return std::nullopt;
  if (settings_.refine_markers_against_board) {
    kind.detector.refineDetectedMarkers(grey, kind.board, corners, ids, rejected);
  }

  std::vector<cv::Point2f> image_points;
  std::vector<cv::Point3f> object_points;
  for (std::size_t m = 0; m < ids.size(); ++m) {
    if (!on_board(ids[m])) continue;
    const auto& object_corners = kind.marker_object_corners[static_cast<std::size_t>(ids[m])];
    image_points.insert(image_points.end(), corners[m].begin(), corners[m].end());
    object_points.insert(object_points.end(), object_corners.begin(), object_corners.end());
  }
  TargetView view{imagePointColumn(image_points), objectPointRows(object_points), cv::Mat(), Annotation(), count};
  if (settings_.annotate) {
    view.annotation = Annotation(image, [corners, ids](cv::Mat& copy) {
      aruco::drawDetectedMarkers(copy, corners, ids, cv::Scalar(0, 255, 0));
    });
  }
  return view;
}

}  // namespace vemo
