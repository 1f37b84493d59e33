#include "vemo/calibration/intrinsic/target_corner_finders.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "vemo/core/logging.hpp"
#include "vemo/core/parallel_map.hpp"
#include "vemo/targets/target_detection.hpp"

namespace vemo::calibration {
namespace {

// The detector an IntrinsicOptions::chessboard_corner_detector name selects, if any: the one
// place that reads the option's strings.
std::optional<ChessboardDetector> chessboardDetectorOf(const std::string& name) {
  if (name == "Default") return ChessboardDetector::Classic;
  if (name == "Sector Based") return ChessboardDetector::SectorBased;
  return std::nullopt;
}

ChessboardDetector chessboardDetectorNamed(const std::string& name) {
  if (const std::optional<ChessboardDetector> detector = chessboardDetectorOf(name)) return *detector;
  throw std::invalid_argument("IntrinsicCalibrator: chessboard_corner_detector must be 'Default' or 'Sector Based', got '" +
                              name + "'");
}

const char* skipWarning(const Target& target) {
  if (std::holds_alternative<CharucoTarget>(target)) {
    return "[CharucoIntrinsicCalibrator] Not enough ChArUco corners in image ";
  }
  if (std::holds_alternative<ArucoTarget>(target)) return "[ArucoIntrinsicCalibrator] Not enough ArUco markers in image ";
  return "[IntrinsicCalibrator] Chessboard not found in image ";
}

}  // namespace

TargetDetections findTargetCorners(const Target& target, const IntrinsicOptions& options,
                                   const std::vector<cv::Mat>& images) {
  DetectionSettings settings;
  settings.chessboard_flags = options.chessboard_flags;
  settings.sub_pixel_window = cv::Size(options.sub_pixel_detection_window_size, options.sub_pixel_detection_window_size);
  settings.sub_pixel_zero_zone =
      cv::Size(options.sub_pixel_detection_zero_zone_size, options.sub_pixel_detection_zero_zone_size);
  settings.sub_pixel_criteria = options.criteria;
  settings.drop_off_board_markers_before_count = true;
  settings.refine_markers_against_board = true;
  settings.annotate = true;
  const bool chessboard = std::holds_alternative<ChessboardTarget>(target);
  const std::string skip_warning = skipWarning(target);

  // An unknown detector name is refused before any image is looked at, as the serial loop
  // refused it at the first image (and an empty batch never throws).
  if (chessboard && !images.empty()) {
    settings.chessboard_detector = chessboardDetectorNamed(options.chessboard_corner_detector);
  }
  const TargetDetector detector(target, settings);
  auto views = parallelMap(images.size(), [&](std::size_t i) {
    requireColourImage(images[i], "IntrinsicCalibrator", i);
    return detector.detect(images[i]);
  });

  TargetDetections detections;
  for (std::size_t i = 0; i < views.size(); ++i) {
    std::optional<TargetView>& view = views[i].take();
    if (!view) {
      logging::log(logging::Level::Warning, skip_warning + std::to_string(i));
      continue;
    }
    detections.successful_indices.push_back(static_cast<int>(i));
    detections.image_points.push_back(std::move(view->image_points));
    detections.object_points.push_back(std::move(view->object_points));
    if (!view->point_ids.empty()) {
      detections.point_ids.push_back(std::move(view->point_ids));
      detections.markers.push_back(std::move(view->markers));
    }
    detections.annotated_images.push_back(std::move(view->annotation));
  }
  return detections;
}

void logSkippedImage(const Target& target, std::size_t index) {
  logging::log(logging::Level::Warning, skipWarning(target) + std::to_string(index));
}

bool detectsAlike(const IntrinsicOptions& a, const IntrinsicOptions& b) {
  // Names that select no detector fail alike only when they are the same name.
  const std::optional<ChessboardDetector> detector = chessboardDetectorOf(a.chessboard_corner_detector);
  const bool same_detector = detector ? detector == chessboardDetectorOf(b.chessboard_corner_detector)
                                      : a.chessboard_corner_detector == b.chessboard_corner_detector;
  return same_detector && a.chessboard_flags == b.chessboard_flags &&
         a.sub_pixel_detection_window_size == b.sub_pixel_detection_window_size &&
         a.sub_pixel_detection_zero_zone_size == b.sub_pixel_detection_zero_zone_size &&
         a.criteria.type == b.criteria.type && a.criteria.maxCount == b.criteria.maxCount &&
         a.criteria.epsilon == b.criteria.epsilon;
}

TargetDetections selectDetections(const TargetDetections& detections, const std::vector<int>& image_indices) {
  TargetDetections selected;
  const std::vector<int>& found = detections.successful_indices;
  for (std::size_t position = 0; position < image_indices.size(); ++position) {
    const auto view = std::lower_bound(found.begin(), found.end(), image_indices[position]);
    if (view == found.end() || *view != image_indices[position]) continue;
    const auto v = static_cast<std::size_t>(view - found.begin());
    selected.successful_indices.push_back(static_cast<int>(position));
    selected.image_points.push_back(detections.image_points[v]);
    selected.object_points.push_back(detections.object_points[v]);
    if (!detections.point_ids.empty()) selected.point_ids.push_back(detections.point_ids[v]);
    if (!detections.markers.empty()) selected.markers.push_back(detections.markers[v]);
    selected.annotated_images.push_back(detections.annotated_images.annotation(v));
  }
  return selected;
}

}  // namespace vemo::calibration
