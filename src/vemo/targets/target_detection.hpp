#pragma once

// Finding a calibration target in one image: the one detection path of every caller
// (intrinsic corner finding, target re-detection for poses, the benchmark's evaluation,
// the rig's triangulation check). Callers differ only in the settings they pass.

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "vemo/targets/annotation.hpp"
#include "vemo/targets/aruco.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo {

// BGR (3 channels) or BGRA (4) to grey with cv::COLOR_BGR2GRAY; OpenCV throws for other
// channel counts.
cv::Mat toGrey(const cv::Mat& image);

// Throws std::runtime_error "<operation>: image <index> must be an 8-bit BGR image (3 or 4
// channels), got ..." for any other image: OpenCV's own error would name neither the
// image nor what was expected.
void requireColourImage(const cv::Mat& image, const std::string& operation, std::size_t index);

// The same for callers that also take grey images: "... must be an 8-bit grey or BGR image
// (1, 3 or 4 channels), got ...".
void requireGreyOrColourImage(const cv::Mat& image, const std::string& operation, std::size_t index);

enum class ChessboardDetector {
  Classic,     // cv::findChessboardCorners, refined by cornerSubPix below
  SectorBased  // cv::findChessboardCornersSB, already sub-pixel: never refined
};

// What differs between callers. Defaults: those of the intrinsic calibration.
struct DetectionSettings {
  // Chessboard only.
  ChessboardDetector chessboard_detector = ChessboardDetector::Classic;
  int chessboard_flags = 0;  // handed unchanged to the detector
  cv::Size sub_pixel_window{11, 11};
  cv::Size sub_pixel_zero_zone{-1, -1};
  cv::TermCriteria sub_pixel_criteria{cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 0.001};

  // ChArUco: fewest interpolated corners to accept a view. ArUco: fewest markers.
  int minimum_count = 4;

  // ArUco only. Markers of the dictionary that are not on the board have no object
  // points and never enter the points. true: they are dropped before the minimum count
  // (intrinsic finding); false: they count towards it (re-detection for poses, which
  // then may be left with fewer points, possibly none).
  bool drop_off_board_markers_before_count = true;
  // ArUco only: after acceptance, search the rejected candidates for missed board markers.
  bool refine_markers_against_board = true;

  // Draw the detection on a deep copy of the image (TargetView::annotation, drawn when
  // first asked for) for an accepted view: chessboard corners; ArUco markers with ids in green (0, 255, 0);
  // ChArUco markers in green and corners with ids in blue (255, 0, 0).
  bool annotate = false;
};

// The ArUco markers detected in one image, as aruco::ArucoDetector::detectMarkers gives
// them: four corners per marker, clockwise from its top-left one (pixels), and its id.
struct DetectedMarkers {
  std::vector<std::vector<cv::Point2f>> corners;
  std::vector<int> ids;
};

// The target found in one image.
struct TargetView {
  cv::Mat image_points;   // N x 1 CV_32FC2, pixels
  cv::Mat object_points;  // N x 3 CV_32F, board frame, metres, row for row
  cv::Mat point_ids;      // ChArUco: N x 1 CV_32S corner ids; empty for the other kinds
  Annotation annotation;
  // Chessboard: corners found; ChArUco: corners interpolated; ArUco: markers counted
  // towards the minimum.
  int count = 0;
  // ChArUco: every marker of the dictionary found, on the board or not (the layout check's
  // evidence); empty for the other kinds.
  DetectedMarkers markers{};
};

// Builds the target's board, dictionary and detector once; detect() runs per image.
// Copies share the OpenCV objects, which are never changed; detect() may run on several
// threads at once.
class TargetDetector {
 public:
  TargetDetector(const Target& target, DetectionSettings settings);

  // The view, or nothing when the target was not accepted (pattern not found, fewer
  // corners or markers than the minimum). The image: BGR, 3 or 4 channels.
  std::optional<TargetView> detect(const cv::Mat& image) const;

  const DetectionSettings& settings() const { return settings_; }

 private:
  struct Chessboard {
    ChessboardTarget target;
    cv::Mat object_points;
  };
  struct Charuco {
    aruco::CharucoDetector detector;
    std::vector<cv::Point3f> board_corners;
  };
  struct Aruco {
    aruco::GridBoard board;
    aruco::ArucoDetector detector;
    std::vector<std::vector<cv::Point3f>> marker_object_corners;  // by marker id
  };

  std::optional<TargetView> detectChessboard(const Chessboard& kind, const cv::Mat& image) const;
  std::optional<TargetView> detectCharuco(const Charuco& kind, const cv::Mat& image) const;
  std::optional<TargetView> detectAruco(const Aruco& kind, const cv::Mat& image) const;

  DetectionSettings settings_;
  std::variant<Chessboard, Charuco, Aruco> kind_;
};

}  // namespace vemo
