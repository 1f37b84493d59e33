#pragma once

// Folder targets/: the target records (here), the ArUco adapter (aruco.hpp), the one
// detection path of every kind (target_detection.hpp) and the drawing of detections
// (annotation.hpp).
//
// Calibration targets: the physical patterns the cameras see, as small value records that
// know their geometry and build the ArUco objects that detect them. Lengths in metres.
// Board frame: x to the right, y downwards on the printed board, z = 0 on the board.

#include <opencv2/core.hpp>

#include <map>
#include <string>
#include <utility>
#include <variant>

#include "vemo/targets/aruco.hpp"

namespace vemo {

// Predefined ArUco dictionary names ("DICT_4X4_50" ... "DICT_ARUCO_MIP_36H12", note the
// upper-case H) to OpenCV ids 0 ... 21; 22 entries in ascending byte order of the names.
// Built on first use, never changed.
const std::map<std::string, int>& arucoDictionaryIdMap();

// Id of a dictionary name, matched exactly (no trimming, no case folding). Throws
// std::invalid_argument "Unknown aruco_dict_id '<name>'" for a name not in the table.
int arucoDictionaryIdFromName(const std::string& name);

// Plain chessboard. Printed with (width + 1) x (height + 1) squares, the top-left one black.
struct ChessboardTarget {
  cv::Size size;             // inner corners: width per row (columns), height per column (rows)
  double square_size = 0.0;  // square edge, metres

  // (width * height) x 3 CV_32F board-frame inner corners, row j * width + i =
  // (i * square_size, j * square_size, 0): along the first row first. Origin at the
  // top-left inner corner. Empty (0 x 3) when a dimension is 0 or negative. Throws
  // std::invalid_argument when width * height exceeds INT_MAX.
  cv::Mat objectPoints() const;
};

// ChArUco board: chessboard of squares_x x squares_y squares with ArUco markers in the
// white squares. Values are stored unvalidated; detection checks them first
// (requireUsableTarget, target_check.hpp).
struct CharucoTarget {
  int squares_x;
  int squares_y;
  double square_length;  // square edge, metres
  double marker_length;  // marker edge, metres
  int aruco_dict_id;     // predefined dictionary id (arucoDictionaryIdMap)

  CharucoTarget(int squares_x, int squares_y, double square_length, double marker_length, int aruco_dict_id);
  // Resolves the name with arucoDictionaryIdFromName (std::invalid_argument if unknown).
  CharucoTarget(int squares_x, int squares_y, double square_length, double marker_length,
                const std::string& aruco_dict_id);

  // Throws std::runtime_error naming the id when this OpenCV has no such dictionary.
  aruco::Dictionary buildDictionary() const;
  // Lengths converted to float, default marker ids 0, 1, 2, ...
  aruco::CharucoBoard buildBoard() const;
  // Detector with OpenCV's default ChArUco, marker-detector and refinement parameters.
  aruco::CharucoDetector buildDetector() const;

  // Detects the board in an 8-bit BGR image (3 or 4 channels; std::runtime_error otherwise)
  // and draws on a deep copy of it: markers with ids in green (0, 255, 0), ChArUco corners
  // with ids in blue (255, 0, 0). Returns (annotated copy, number of ChArUco corners).
  // Defined in charuco_annotation.cpp, beside the detection it runs.
  std::pair<cv::Mat, int> detectAndAnnotate(const cv::Mat& image) const;
};

// ArUco grid board of board_size.width x board_size.height markers.
struct ArucoTarget {
  cv::Size board_size;       // markers along x (width) and y (height)
  double marker_length;      // marker edge, metres
  double marker_separation;  // gap between neighbouring markers, metres
  int aruco_dict_id;         // predefined dictionary id

  ArucoTarget(cv::Size board_size, double marker_length, double marker_separation, int aruco_dict_id);
  ArucoTarget(cv::Size board_size, double marker_length, double marker_separation,
              const std::string& aruco_dict_id);

  aruco::Dictionary buildDictionary() const;
  // Lengths converted to float, default marker ids 0, 1, 2, ... row by row.
  aruco::GridBoard buildBoard() const;
};

// Every calibrator takes one of the three kinds, in this order of alternatives.
using Target = std::variant<ChessboardTarget, CharucoTarget, ArucoTarget>;

}  // namespace vemo
