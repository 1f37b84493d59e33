#pragma once

// The one door to ArUco and ChArUco. The rest of the library is written against OpenCV's
// newer objdetect interface (dictionaries, boards and detectors as values), which OpenCV
// has from 4.7 on and the adapter forwards to there (Debian 13 has 4.10). Debian 12's
// OpenCV 4.6 has ArUco only in the contrib module with the older free functions; there
// these classes give the newer names and semantics. On both they mend two faults:
//
// - getPredefinedDictionary never substitutes DICT_4X4_50 for an id this OpenCV does
//   not define (OpenCV silently does); it throws instead.
// - ChArUco corners are returned at the true saddle points. OpenCV's interpolation
//   (4.6 and 4.10 measured) shifts the points by -0.5 px before its cornerSubPix
//   refinement and by +0.5 px after it, so its corners lie (0.5, 0.5) px right of and
//   below the corners; the adapter subtracts that shift on the versions that have it.
//
// Board frame (metres): x to the right and y downwards on the printed board, z = 0 on
// the board, pointing away from the viewer of the printed side. Image points follow
// OpenCV's pixel convention: integer coordinates at pixel centres.
//
// Copies of a dictionary, board or detector share their OpenCV object (as objdetect's
// do); none of them is ever changed after construction.

#include <opencv2/core.hpp>

#include <vector>

namespace cv::aruco {
class Dictionary;
class Board;
}  // namespace cv::aruco

namespace vemo::aruco {

// True for the OpenCV builds whose ChArUco interpolation adds the half-pixel shift.
bool charucoCornersShifted();

// A predefined marker dictionary.
class Dictionary {
 public:
  int markerSize() const;      // bits along one side of a marker, without the border
  int markerCount() const;     // number of markers in the dictionary
  int predefinedId() const;    // the id it was built from

 private:
  friend Dictionary getPredefinedDictionary(int id);
  friend class CharucoBoard;
  friend class GridBoard;
  friend class ArucoDetector;
  Dictionary() = default;
  cv::Ptr<cv::aruco::Dictionary> dictionary_;
  int id_ = -1;
};

// Predefined dictionary by OpenCV id: DICT_4X4_50 = 0 ... DICT_APRILTAG_36h11 = 20, and
// DICT_ARUCO_MIP_36h12 = 21 where OpenCV has it (not in 4.6). Throws std::runtime_error
// naming the id for an id this OpenCV build does not define.
Dictionary getPredefinedDictionary(int id);

// Common part of the ChArUco and grid boards: markers with their board-frame corners.
class Board {
 public:
  virtual ~Board() = default;

  Dictionary getDictionary() const;
  // Four corners per marker, in board order; each marker's corners run clockwise from
  // its top-left corner (as seen on the printed board). Metres, z = 0.
  std::vector<std::vector<cv::Point3f>> getObjPoints() const;
  // Marker id of each entry of getObjPoints (0, 1, 2, ... for the boards built here).
  std::vector<int> getIds() const;

  // Pairs detections with board points. detectedCorners: marker corners (a list of
  // 4-point arrays, as from detectMarkers) with their marker ids; for a ChArUco board also
  // ChArUco corners (one N x 1 CV_32FC2 array or std::vector<cv::Point2f>) with their
  // corner ids. objPoints: M x 1 CV_32FC3, imgPoints: M x 1 CV_32FC2, row for row; ids
  // that are not on the board are skipped; both are empty when nothing matched.
  virtual void matchImagePoints(cv::InputArrayOfArrays detectedCorners, cv::InputArray detectedIds,
                                cv::OutputArray objPoints, cv::OutputArray imgPoints) const;

  // The board drawn by OpenCV as a CV_8UC1 image of outSize (0 black, 255 white) with a
  // white margin of marginSize pixels; the board keeps its aspect ratio and is centred.
  virtual cv::Mat generateImage(cv::Size outSize, int marginSize = 0, int borderBits = 1) const;

 protected:
  Board(cv::Ptr<cv::aruco::Board> board, Dictionary dictionary);

 private:
  friend class ArucoDetector;
  friend class CharucoBoard;
  friend class GridBoard;
  friend class CharucoDetector;
  cv::Ptr<cv::aruco::Board> board_;
  Dictionary dictionary_;
};

// Chessboard of size.width x size.height squares with a marker in every white square.
// Its board frame has the origin at the outer top-left corner of the squares.
class CharucoBoard : public Board {
 public:
  // OpenCV asserts squareLength > markerLength > 0 and at least 2 x 2 squares. Throws
  // std::invalid_argument "CharucoBoard: ..." when the board has more markers (one per
  // white square) than the dictionary.
  CharucoBoard(cv::Size size, float squareLength, float markerLength, const Dictionary& dictionary);

  cv::Size getChessboardSize() const;
  float getSquareLength() const;
  float getMarkerLength() const;
  // Inner chessboard corners in corner-id order: id = y * (width - 1) + x, at
  // ((x + 1) * squareLength, (y + 1) * squareLength, 0).
  std::vector<cv::Point3f> getChessboardCorners() const;

  void matchImagePoints(cv::InputArrayOfArrays detectedCorners, cv::InputArray detectedIds,
                        cv::OutputArray objPoints, cv::OutputArray imgPoints) const override;
  // The chessboard with its markers; squares are exact when the zone they get is a whole
  // number of pixels per square.
  cv::Mat generateImage(cv::Size outSize, int marginSize = 0, int borderBits = 1) const override;
};

// Grid of size.width x size.height markers, numbered row by row from the top-left one.
// Its board frame has the origin at the top-left corner of the first marker.
class GridBoard : public Board {
 public:
  // OpenCV asserts positive sizes, length and separation. Throws std::invalid_argument
  // "GridBoard: ..." when the grid has more markers than the dictionary.
  GridBoard(cv::Size size, float markerLength, float markerSeparation, const Dictionary& dictionary);

  cv::Size getGridSize() const;
  float getMarkerLength() const;
  float getMarkerSeparation() const;
};

// Marker detector with OpenCV's default detector parameters (no corner refinement) and
// default refinement parameters (minimum repeat distance 10 px, error-correction rate 3,
// all corner orders tried).
class ArucoDetector {
 public:
  explicit ArucoDetector(const Dictionary& dictionary);

  // image: 8-bit grey or BGR. corners: one 4 x 1 CV_32FC2 array (or 4-point vector) per
  // marker, clockwise from the marker's top-left corner; ids: N x 1 CV_32S; rejected:
  // candidates that decoded to no marker. All empty when nothing was found.
  void detectMarkers(cv::InputArray image, cv::OutputArrayOfArrays corners, cv::OutputArray ids,
                     cv::OutputArrayOfArrays rejectedImgPoints = cv::noArray()) const;

  // Looks among the rejected candidates for the board's markers that detection missed and
  // moves those found into corners and ids. Camera matrix and distortion are optional.
  void refineDetectedMarkers(cv::InputArray image, const Board& board, cv::InputOutputArrayOfArrays detectedCorners,
                             cv::InputOutputArray detectedIds, cv::InputOutputArrayOfArrays rejectedCorners,
                             cv::InputArray cameraMatrix = cv::noArray(),
                             cv::InputArray distCoeffs = cv::noArray()) const;

 private:
  Dictionary dictionary_;
};

// ChArUco detector with OpenCV's default parameters: no camera matrix, at least 2
// neighbouring markers per interpolated corner, no marker refinement, default marker
// detector parameters.
class CharucoDetector {
 public:
  explicit CharucoDetector(const CharucoBoard& board);

  const CharucoBoard& getBoard() const { return board_; }

  // image: 8-bit grey or BGR. Outputs: charucoCorners N x 1 CV_32FC2 (or
  // std::vector<cv::Point2f>) at the saddle points, charucoIds N x 1 CV_32S; both empty
  // when no corner was found. markerCorners/markerIds: when given non-empty they are used
  // instead of detecting markers; otherwise the detected markers are written to them.
  void detectBoard(cv::InputArray image, cv::OutputArray charucoCorners, cv::OutputArray charucoIds,
                   cv::InputOutputArrayOfArrays markerCorners = cv::noArray(),
                   cv::InputOutputArray markerIds = cv::noArray()) const;

 private:
  CharucoBoard board_;
  ArucoDetector marker_detector_;
};

// Outlines each marker and writes its id, in place. image: 8-bit with 1, 3 or 4 channels
// (the alpha plane of a 4-channel image is left unchanged).
void drawDetectedMarkers(cv::InputOutputArray image, cv::InputArrayOfArrays corners,
                         cv::InputArray ids = cv::noArray(), cv::Scalar borderColor = cv::Scalar(0, 255, 0));

// Marks each ChArUco corner with a small square and its id, in place; image as above.
void drawDetectedCornersCharuco(cv::InputOutputArray image, cv::InputArray charucoCorners,
                                cv::InputArray charucoIds = cv::noArray(),
                                cv::Scalar cornerColor = cv::Scalar(255, 0, 0));

}  // namespace vemo::aruco
