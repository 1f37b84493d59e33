#include "vemo/targets/aruco.hpp"

#include <opencv2/core/version.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

// OpenCV 4.7 moved ArUco and ChArUco into objdetect with the interface this adapter mirrors;
// 4.6 has them only in its contrib module, with free functions and boards behind pointers.
// Older versions put the board frame's y axis upwards and are not supported.
#if CV_VERSION_MAJOR > 4 || (CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR >= 7)
#define VEMO_ARUCO_IN_OBJDETECT 1
#include <opencv2/objdetect/aruco_detector.hpp>
#include <opencv2/objdetect/charuco_detector.hpp>
#elif CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR == 6
#define VEMO_ARUCO_IN_OBJDETECT 0
#include <opencv2/aruco.hpp>
#include <opencv2/aruco/charuco.hpp>
#else
#error "vemo's ArUco adapter needs OpenCV 4.6 (contrib aruco module) or 4.7 and later (objdetect)"
#endif

namespace vemo::aruco {

namespace {

constexpr int kMinMarkersPerCharucoCorner = 2;
constexpr float kRefineMinRepDistance = 10.f;
constexpr float kRefineErrorCorrectionRate = 3.f;
constexpr bool kRefineCheckAllOrders = true;

// OpenCV's ChArUco interpolation moves the points by -0.5 px before its cornerSubPix
// refinement and by +0.5 px after it. Measured on rendered boards: corners (0.50, 0.49) px
// off on 4.6 and the same on 4.10. OpenCV dropped the shift in 2026; 4.11 and 4.12 came out
// before that.
constexpr bool kCharucoCornersShifted = CV_VERSION_MAJOR == 4 && CV_VERSION_MINOR <= 12;

// True when OpenCV's enumeration of predefined dictionaries has DICT_ARUCO_MIP_36h12 (id 21),
// which versions after 4.6 added.
template <typename DictionaryIds, typename = void>
struct DefinesArucoMip36h12 : std::false_type {};
template <typename DictionaryIds>
struct DefinesArucoMip36h12<DictionaryIds, std::void_t<decltype(DictionaryIds::DICT_ARUCO_MIP_36h12)>>
    : std::true_type {};

// The calls whose form differs between the two OpenCV interfaces; everything else is shared.
namespace opencv {

#if VEMO_ARUCO_IN_OBJDETECT

using DictionaryIds = cv::aruco::PredefinedDictionaryType;

cv::Ptr<cv::aruco::Dictionary> predefinedDictionary(int id) {
  return cv::makePtr<cv::aruco::Dictionary>(cv::aruco::getPredefinedDictionary(id));
}

const std::vector<std::vector<cv::Point3f>>& objPoints(const cv::aruco::Board& board) { return board.getObjPoints(); }
const std::vector<int>& boardIds(const cv::aruco::Board& board) { return board.getIds(); }
std::vector<cv::Point3f> chessboardCorners(const cv::aruco::CharucoBoard& board) { return board.getChessboardCorners(); }

cv::Ptr<cv::aruco::Board> charucoBoard(cv::Size size, float squareLength, float markerLength,
                                       const cv::Ptr<cv::aruco::Dictionary>& dictionary) {
  return cv::makePtr<cv::aruco::CharucoBoard>(size, squareLength, markerLength, *dictionary);
}

cv::Ptr<cv::aruco::Board> gridBoard(cv::Size size, float markerLength, float markerSeparation,
                                    const cv::Ptr<cv::aruco::Dictionary>& dictionary) {
  return cv::makePtr<cv::aruco::GridBoard>(size, markerLength, markerSeparation, *dictionary);
}

cv::Mat drawMarkers(const cv::Ptr<cv::aruco::Board>& board, cv::Size outSize, int marginSize, int borderBits) {
  cv::Mat image;
  board->generateImage(outSize, image, marginSize, borderBits);
  return image;
}

cv::Mat drawCharucoBoard(cv::aruco::CharucoBoard& board, cv::Size outSize, int marginSize, int borderBits) {
  cv::Mat image;
  board.generateImage(outSize, image, marginSize, borderBits);
  return image;
}

void detectMarkers(cv::InputArray image, const cv::Ptr<cv::aruco::Dictionary>& dictionary,
                   cv::OutputArrayOfArrays corners, cv::OutputArray ids, cv::OutputArrayOfArrays rejected) {
  cv::aruco::ArucoDetector(*dictionary).detectMarkers(image, corners, ids, rejected);
}

// Searches with the board's dictionary, as 4.6 does.
void refineDetectedMarkers(cv::InputArray image, const cv::Ptr<cv::aruco::Board>& board,
                           cv::InputOutputArrayOfArrays corners, cv::InputOutputArray ids,
                           cv::InputOutputArrayOfArrays rejected, cv::InputArray cameraMatrix,
                           cv::InputArray distCoeffs) {
  const cv::aruco::RefineParameters refine(kRefineMinRepDistance, kRefineErrorCorrectionRate, kRefineCheckAllOrders);
  cv::aruco::ArucoDetector(board->getDictionary(), cv::aruco::DetectorParameters(), refine)
      .refineDetectedMarkers(image, *board, corners, ids, rejected, cameraMatrix, distCoeffs);
}

// markerCorners and markerIds are not empty, so OpenCV uses them instead of detecting.
void interpolateCharucoCorners(std::vector<std::vector<cv::Point2f>>& markerCorners, std::vector<int>& markerIds,
                               cv::InputArray image, const cv::Ptr<cv::aruco::Board>& board,
                               std::vector<cv::Point2f>& corners, std::vector<int>& ids) {
  cv::aruco::CharucoParameters parameters;
  parameters.minMarkers = kMinMarkersPerCharucoCorner;
  cv::aruco::CharucoDetector(static_cast<const cv::aruco::CharucoBoard&>(*board), parameters)
      .detectBoard(image, corners, ids, markerCorners, markerIds);
}

#else

using DictionaryIds = cv::aruco::PREDEFINED_DICTIONARY_NAME;

cv::Ptr<cv::aruco::Dictionary> predefinedDictionary(int id) { return cv::aruco::getPredefinedDictionary(id); }

const std::vector<std::vector<cv::Point3f>>& objPoints(const cv::aruco::Board& board) { return board.objPoints; }
const std::vector<int>& boardIds(const cv::aruco::Board& board) { return board.ids; }
std::vector<cv::Point3f> chessboardCorners(const cv::aruco::CharucoBoard& board) { return board.chessboardCorners; }

cv::Ptr<cv::aruco::Board> charucoBoard(cv::Size size, float squareLength, float markerLength,
                                       const cv::Ptr<cv::aruco::Dictionary>& dictionary) {
  return cv::aruco::CharucoBoard::create(size.width, size.height, squareLength, markerLength, dictionary);
}

cv::Ptr<cv::aruco::Board> gridBoard(cv::Size size, float markerLength, float markerSeparation,
                                    const cv::Ptr<cv::aruco::Dictionary>& dictionary) {
  return cv::aruco::GridBoard::create(size.width, size.height, markerLength, markerSeparation, dictionary);
}

cv::Mat drawMarkers(const cv::Ptr<cv::aruco::Board>& board, cv::Size outSize, int marginSize, int borderBits) {
  cv::Mat image;
  cv::aruco::drawPlanarBoard(board, outSize, image, marginSize, borderBits);
  return image;
}

cv::Mat drawCharucoBoard(cv::aruco::CharucoBoard& board, cv::Size outSize, int marginSize, int borderBits) {
  cv::Mat image;
  board.draw(outSize, image, marginSize, borderBits);
  return image;
}

void detectMarkers(cv::InputArray image, const cv::Ptr<cv::aruco::Dictionary>& dictionary,
                   cv::OutputArrayOfArrays corners, cv::OutputArray ids, cv::OutputArrayOfArrays rejected) {
  cv::aruco::detectMarkers(image, dictionary, corners, ids, cv::aruco::DetectorParameters::create(), rejected);
}

void refineDetectedMarkers(cv::InputArray image, const cv::Ptr<cv::aruco::Board>& board,
                           cv::InputOutputArrayOfArrays corners, cv::InputOutputArray ids,
                           cv::InputOutputArrayOfArrays rejected, cv::InputArray cameraMatrix,
                           cv::InputArray distCoeffs) {
  cv::aruco::refineDetectedMarkers(image, board, corners, ids, rejected, cameraMatrix, distCoeffs,
                                   kRefineMinRepDistance, kRefineErrorCorrectionRate, kRefineCheckAllOrders,
                                   cv::noArray(), cv::aruco::DetectorParameters::create());
}

void interpolateCharucoCorners(std::vector<std::vector<cv::Point2f>>& markerCorners, std::vector<int>& markerIds,
                               cv::InputArray image, const cv::Ptr<cv::aruco::Board>& board,
                               std::vector<cv::Point2f>& corners, std::vector<int>& ids) {
  cv::aruco::interpolateCornersCharuco(markerCorners, markerIds, image, board.staticCast<cv::aruco::CharucoBoard>(),
                                       corners, ids, cv::noArray(), cv::noArray(), kMinMarkersPerCharucoCorner);
}

#endif

}  // namespace opencv

// Points of an array as single-precision 2D points, whether given as N x 1 two-channel,
// N x 2 one-channel, 1 x N two-channel, float or double.
std::vector<cv::Point2f> toPoints2f(const cv::Mat& points, const char* operation) {
  cv::Mat as_points = points;
  if (!points.empty() && points.channels() == 1 && points.cols == 2) as_points = points.reshape(2);
  if (!as_points.empty() && (as_points.channels() != 2 || (as_points.rows != 1 && as_points.cols != 1))) {
    throw std::invalid_argument(std::string(operation) + ": expected a list of 2D points");
  }
  std::vector<cv::Point2f> result;
  if (!as_points.empty()) as_points.reshape(2, static_cast<int>(as_points.total())).convertTo(result, CV_32F);
  return result;
}

std::vector<int> toIds(const cv::Mat& ids, const char* operation) {
  if (!ids.empty() && (ids.channels() != 1 || (ids.rows != 1 && ids.cols != 1))) {
    throw std::invalid_argument(std::string(operation) + ": expected a list of ids");
  }
  std::vector<int> result;
  if (!ids.empty()) ids.reshape(1, static_cast<int>(ids.total())).convertTo(result, CV_32S);
  return result;
}

// Writes one 4 x 1 CV_32FC2 array per marker into an output list of arrays.
void writeMarkerCorners(const std::vector<std::vector<cv::Point2f>>& corners, cv::OutputArrayOfArrays out) {
  if (!out.needed()) return;
  out.create(static_cast<int>(corners.size()), 1, CV_32FC2);
  for (size_t i = 0; i < corners.size(); ++i) {
    out.create(4, 1, CV_32FC2, static_cast<int>(i), true);
    // A vector element comes back as 1 x 4, a matrix as 4 x 1: write in the shape given.
    cv::Mat element = out.getMat(static_cast<int>(i));
    cv::Mat(corners[i]).reshape(2, element.rows).copyTo(element);
  }
}

// The OpenCV board behind an adapter board of a known kind.
template <typename Native>
Native& native(const cv::Ptr<cv::aruco::Board>& board) {
  return static_cast<Native&>(*board);
}

template <typename Point>
void writePoints(const std::vector<Point>& points, cv::OutputArray out) {
  if (!out.needed()) return;
  if (points.empty()) {
    out.release();
    return;
  }
  cv::Mat(points).copyTo(out);
}

// OpenCV draws on 1- and 3-channel images only; a BGRA image is drawn on its BGR planes
// and keeps its alpha plane.
template <typename Draw>
void drawOnColourPlanes(cv::InputOutputArray image, Draw draw) {
  if (image.channels() != 4) {
    draw(image);
    return;
  }
  cv::Mat bgra = image.getMat();
  cv::Mat bgr;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  draw(bgr);
  const int from_to[] = {0, 0, 1, 1, 2, 2};
  cv::mixChannels(&bgr, 1, &bgra, 1, from_to, 3);
}

std::string sizeText(cv::Size size) { return std::to_string(size.width) + " x " + std::to_string(size.height); }

// Markers of a ChArUco board: one in every white square, and the top-left square is black.
std::int64_t markersOnCharucoBoard(cv::Size squares) {
  return static_cast<std::int64_t>(std::max(squares.width, 0)) * std::max(squares.height, 0) / 2;
}

// The boards number their markers 0, 1, 2, ...: more than the dictionary holds cannot be
// drawn or told apart, and OpenCV 4.6 would build a huge board square by square before
// failing (or never). Sizes OpenCV itself rejects are left to its own checks.
// `what` names the board's size, as in "5 x 7 squares take".
const Dictionary& checkedMarkerCount(const std::string& what, std::int64_t markers, const Dictionary& dictionary) {
  if (markers > dictionary.markerCount()) {
    throw std::invalid_argument(what + " " + std::to_string(markers) + " markers, dictionary " + std::to_string(dictionary.predefinedId()) + " has " +
                                std::to_string(dictionary.markerCount()));
  }
  return dictionary;
}

}  // namespace

bool charucoCornersShifted() { return kCharucoCornersShifted; }

int Dictionary::markerSize() const { return dictionary_->markerSize; }
int Dictionary::markerCount() const { return dictionary_->bytesList.rows; }
int Dictionary::predefinedId() const { return id_; }

Dictionary getPredefinedDictionary(int id) {
  // Both versions hand out DICT_4X4_50 for an id they do not define.
  constexpr int kMip36h12Id = cv::aruco::DICT_APRILTAG_36h11 + 1;
  constexpr int kLastKnownId =
      DefinesArucoMip36h12<opencv::DictionaryIds>::value ? kMip36h12Id : cv::aruco::DICT_APRILTAG_36h11;
  if (id == kMip36h12Id && kLastKnownId < kMip36h12Id) {
    throw std::runtime_error("getPredefinedDictionary: dictionary id 21 (DICT_ARUCO_MIP_36H12) needs a newer OpenCV than " +
                             std::string(CV_VERSION));
  }
  if (id < 0 || id > kLastKnownId) {
    throw std::runtime_error("getPredefinedDictionary: unknown dictionary id " + std::to_string(id));
  }
  Dictionary dictionary;
  dictionary.dictionary_ = opencv::predefinedDictionary(id);
  dictionary.id_ = id;
  return dictionary;
}

Board::Board(cv::Ptr<cv::aruco::Board> board, Dictionary dictionary)
    : board_(std::move(board)), dictionary_(std::move(dictionary)) {}

Dictionary Board::getDictionary() const { return dictionary_; }
std::vector<std::vector<cv::Point3f>> Board::getObjPoints() const { return opencv::objPoints(*board_); }
std::vector<int> Board::getIds() const { return opencv::boardIds(*board_); }

void Board::matchImagePoints(cv::InputArrayOfArrays detectedCorners, cv::InputArray detectedIds,
                             cv::OutputArray objPoints, cv::OutputArray imgPoints) const {
  const std::vector<int> ids = toIds(detectedIds.getMat(), "matchImagePoints");
  if (ids.size() != detectedCorners.total()) {
    throw std::invalid_argument("matchImagePoints: " + std::to_string(detectedCorners.total()) + " markers but " +
                                std::to_string(ids.size()) + " ids");
  }
  const std::vector<int>& board_ids = opencv::boardIds(*board_);
  const std::vector<std::vector<cv::Point3f>>& board_points = opencv::objPoints(*board_);
  std::vector<cv::Point3f> object_points;
  std::vector<cv::Point2f> image_points;
  for (size_t i = 0; i < ids.size(); ++i) {
    const std::vector<cv::Point2f> corners = toPoints2f(detectedCorners.getMat(static_cast<int>(i)), "matchImagePoints");
    if (corners.size() != 4) throw std::invalid_argument("matchImagePoints: a marker needs 4 corners");
    for (size_t j = 0; j < board_ids.size(); ++j) {
      if (board_ids[j] != ids[i]) continue;
      object_points.insert(object_points.end(), board_points[j].begin(), board_points[j].end());
      image_points.insert(image_points.end(), corners.begin(), corners.end());
    }
  }
  writePoints(object_points, objPoints);
  writePoints(image_points, imgPoints);
}

cv::Mat Board::generateImage(cv::Size outSize, int marginSize, int borderBits) const {
  return opencv::drawMarkers(board_, outSize, marginSize, borderBits);
}

CharucoBoard::CharucoBoard(cv::Size size, float squareLength, float markerLength, const Dictionary& dictionary)
    : Board(opencv::charucoBoard(
                size, squareLength, markerLength,
                checkedMarkerCount("CharucoBoard: " + sizeText(size) + " squares take", markersOnCharucoBoard(size),
                                   dictionary)
                    .dictionary_),
            dictionary) {}

cv::Size CharucoBoard::getChessboardSize() const { return native<cv::aruco::CharucoBoard>(board_).getChessboardSize(); }
float CharucoBoard::getSquareLength() const { return native<cv::aruco::CharucoBoard>(board_).getSquareLength(); }
float CharucoBoard::getMarkerLength() const { return native<cv::aruco::CharucoBoard>(board_).getMarkerLength(); }
std::vector<cv::Point3f> CharucoBoard::getChessboardCorners() const { return opencv::chessboardCorners(native<cv::aruco::CharucoBoard>(board_)); }

void CharucoBoard::matchImagePoints(cv::InputArrayOfArrays detectedCorners, cv::InputArray detectedIds,
                                    cv::OutputArray objPoints, cv::OutputArray imgPoints) const {
  // A list of arrays holds marker corners; a single array holds ChArUco corners.
  const int kind = detectedCorners.kind();
  if (kind == cv::_InputArray::STD_VECTOR_VECTOR || kind == cv::_InputArray::STD_VECTOR_MAT ||
      kind == cv::_InputArray::STD_ARRAY_MAT) {
    Board::matchImagePoints(detectedCorners, detectedIds, objPoints, imgPoints);
    return;
  }
  const std::vector<cv::Point2f> corners = toPoints2f(detectedCorners.getMat(), "matchImagePoints");
  const std::vector<int> ids = toIds(detectedIds.getMat(), "matchImagePoints");
  if (ids.size() != corners.size()) {
    throw std::invalid_argument("matchImagePoints: " + std::to_string(corners.size()) + " corners but " +
                                std::to_string(ids.size()) + " ids");
  }
  const std::vector<cv::Point3f> board_corners = getChessboardCorners();
  std::vector<cv::Point3f> object_points;
  std::vector<cv::Point2f> image_points;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] < 0 || ids[i] >= static_cast<int>(board_corners.size())) continue;
    object_points.push_back(board_corners[ids[i]]);
    image_points.push_back(corners[i]);
  }
  writePoints(object_points, objPoints);
  writePoints(image_points, imgPoints);
}

cv::Mat CharucoBoard::generateImage(cv::Size outSize, int marginSize, int borderBits) const {
  return opencv::drawCharucoBoard(native<cv::aruco::CharucoBoard>(board_), outSize, marginSize, borderBits);
}

GridBoard::GridBoard(cv::Size size, float markerLength, float markerSeparation, const Dictionary& dictionary)
    : Board(opencv::gridBoard(
                size, markerLength, markerSeparation,
                checkedMarkerCount("GridBoard: a " + sizeText(size) + " grid takes",
                                   static_cast<std::int64_t>(std::max(size.width, 0)) * std::max(size.height, 0),
                                   dictionary)
                    .dictionary_),
            dictionary) {}

cv::Size GridBoard::getGridSize() const { return native<cv::aruco::GridBoard>(board_).getGridSize(); }
float GridBoard::getMarkerLength() const { return native<cv::aruco::GridBoard>(board_).getMarkerLength(); }
float GridBoard::getMarkerSeparation() const { return native<cv::aruco::GridBoard>(board_).getMarkerSeparation(); }

ArucoDetector::ArucoDetector(const Dictionary& dictionary) : dictionary_(dictionary) {}

void ArucoDetector::detectMarkers(cv::InputArray image, cv::OutputArrayOfArrays corners, cv::OutputArray ids,
                                  cv::OutputArrayOfArrays rejectedImgPoints) const {
  opencv::detectMarkers(image, dictionary_.dictionary_, corners, ids, rejectedImgPoints);
}

void ArucoDetector::refineDetectedMarkers(cv::InputArray image, const Board& board,
                                          cv::InputOutputArrayOfArrays detectedCorners,
                                          cv::InputOutputArray detectedIds,
                                          cv::InputOutputArrayOfArrays rejectedCorners, cv::InputArray cameraMatrix,
                                          cv::InputArray distCoeffs) const {
  opencv::refineDetectedMarkers(image, board.board_, detectedCorners, detectedIds, rejectedCorners, cameraMatrix,
                                distCoeffs);
}

CharucoDetector::CharucoDetector(const CharucoBoard& board)
    : board_(board), marker_detector_(board.getDictionary()) {}

void CharucoDetector::detectBoard(cv::InputArray image, cv::OutputArray charucoCorners, cv::OutputArray charucoIds,
                                  cv::InputOutputArrayOfArrays markerCorners,
                                  cv::InputOutputArray markerIds) const {
  std::vector<std::vector<cv::Point2f>> marker_corners;
  std::vector<int> marker_ids;
  if (!markerCorners.empty() && !markerIds.empty()) {
    marker_ids = toIds(markerIds.getMat(), "CharucoDetector::detectBoard");
    if (marker_ids.size() != markerCorners.total()) {
      throw std::invalid_argument("CharucoDetector::detectBoard: marker corners and ids differ in number");
    }
    for (size_t i = 0; i < marker_ids.size(); ++i) {
      marker_corners.push_back(toPoints2f(markerCorners.getMat(static_cast<int>(i)), "CharucoDetector::detectBoard"));
    }
  } else {
    marker_detector_.detectMarkers(image, marker_corners, marker_ids);
    writeMarkerCorners(marker_corners, markerCorners);
    if (markerIds.needed()) cv::Mat(marker_ids).copyTo(markerIds);
  }

  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
  if (!marker_ids.empty()) {
    opencv::interpolateCharucoCorners(marker_corners, marker_ids, image, board_.board_, corners, ids);
  }
  if (charucoCornersShifted()) {
    for (cv::Point2f& corner : corners) corner -= cv::Point2f(0.5f, 0.5f);
  }
  writePoints(corners, charucoCorners);
  writePoints(ids, charucoIds);
}

void drawDetectedMarkers(cv::InputOutputArray image, cv::InputArrayOfArrays corners, cv::InputArray ids,
                         cv::Scalar borderColor) {
  drawOnColourPlanes(image, [&](cv::InputOutputArray planes) {
    cv::aruco::drawDetectedMarkers(planes, corners, ids, borderColor);
  });
}

void drawDetectedCornersCharuco(cv::InputOutputArray image, cv::InputArray charucoCorners, cv::InputArray charucoIds,
                                cv::Scalar cornerColor) {
  drawOnColourPlanes(image, [&](cv::InputOutputArray planes) {
    cv::aruco::drawDetectedCornersCharuco(planes, charucoCorners, charucoIds, cornerColor);
  });
}

}  // namespace vemo::aruco
