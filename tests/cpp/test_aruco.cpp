#include <gtest/gtest.h>

#include <opencv2/core/version.hpp>
#include <opencv2/imgproc.hpp>
#if CV_VERSION_MAJOR > 4 || CV_VERSION_MINOR >= 7
#define ARUCO_IN_OBJDETECT 1
#include <opencv2/objdetect/charuco_detector.hpp>
#else
#define ARUCO_IN_OBJDETECT 0
#include <opencv2/aruco.hpp>
#include <opencv2/aruco/charuco.hpp>
#endif

#include <string>
#include <vector>

#include "rendered_views.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/targets/aruco.hpp"
#include "vemo/targets/targets.hpp"

using namespace vemo;
namespace views = vemo::test_views;

namespace {

cv::Mat renderGrey(const Target& target, const cv::Mat& camera_T_target) {
  const synthetic::Renderer renderer(target, views::testCameraMatrix(), views::testDistCoeffs(),
                                     views::testImageSize());
  cv::Mat grey;
  cv::cvtColor(renderer.render(camera_T_target), grey, cv::COLOR_BGR2GRAY);
  return grey;
}

// OpenCV's own dictionary for an id, without the adapter's checks.
cv::Mat openCvDictionaryBytes(int id) {
#if ARUCO_IN_OBJDETECT
  return cv::aruco::getPredefinedDictionary(id).bytesList;
#else
  return cv::aruco::getPredefinedDictionary(id)->bytesList;
#endif
}

// Corners straight from OpenCV's ChArUco interpolation, without the adapter.
void openCvCharucoCorners(const cv::Mat& grey, cv::Size squares, float square_length, float marker_length,
                          int dictionary_id, std::vector<cv::Point2f>& corners, std::vector<int>& ids) {
#if ARUCO_IN_OBJDETECT
  const cv::aruco::CharucoBoard board(squares, square_length, marker_length,
                                      cv::aruco::getPredefinedDictionary(dictionary_id));
  cv::aruco::CharucoDetector(board).detectBoard(grey, corners, ids);
#else
  const auto board = cv::aruco::CharucoBoard::create(squares.width, squares.height, square_length, marker_length,
                                                     cv::aruco::getPredefinedDictionary(dictionary_id));
  std::vector<std::vector<cv::Point2f>> marker_corners;
  std::vector<int> marker_ids;
  cv::aruco::detectMarkers(grey, board->dictionary, marker_corners, marker_ids);
  cv::aruco::interpolateCornersCharuco(marker_corners, marker_ids, grey, board, corners, ids);
#endif
}

cv::Point2d meanOffset(const std::vector<cv::Point2f>& corners, const std::vector<int>& ids,
                       const std::vector<cv::Point2f>& truth_by_id) {
  cv::Point2d sum(0, 0);
  for (size_t i = 0; i < corners.size(); ++i) sum += cv::Point2d(corners[i] - truth_by_id[ids[i]]);
  return sum / static_cast<double>(corners.size());
}

}  // namespace

TEST(Aruco, PredefinedDictionaryNeverSubstitutesDict4x4_50) {
  // The fault being mended: OpenCV hands out DICT_4X4_50 for an id it does not know.
  const cv::Mat fallback = openCvDictionaryBytes(22);
  const cv::Mat dict_4x4_50 = openCvDictionaryBytes(0);
  ASSERT_EQ(fallback.size(), dict_4x4_50.size());
  EXPECT_EQ(cv::norm(fallback, dict_4x4_50, cv::NORM_INF), 0);

  // Id 21, DICT_ARUCO_MIP_36H12, came with OpenCV 4.8.
  std::vector<int> unknown_ids{22, -1, 100};
  if (CV_VERSION_MAJOR > 4 || CV_VERSION_MINOR >= 8) {
    const aruco::Dictionary mip_36h12 = aruco::getPredefinedDictionary(21);
    EXPECT_EQ(mip_36h12.markerSize(), 6);
    EXPECT_EQ(mip_36h12.markerCount(), 250);
  } else {
    unknown_ids.push_back(21);
  }
  for (const int id : unknown_ids) {
    try {
      aruco::getPredefinedDictionary(id);
      ADD_FAILURE() << "no error for id " << id;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("id " + std::to_string(id)), std::string::npos) << error.what();
    }
  }
  // Known ids give their own dictionaries: marker bits and marker counts from OpenCV's table.
  const int expected[][3] = {{0, 4, 50}, {3, 4, 1000}, {11, 6, 1000}, {17, 4, 30}, {20, 6, 587}};
  for (const auto& [id, bits, markers] : expected) {
    const aruco::Dictionary dictionary = aruco::getPredefinedDictionary(id);
    EXPECT_EQ(dictionary.predefinedId(), id);
    EXPECT_EQ(dictionary.markerSize(), bits) << id;
    EXPECT_EQ(dictionary.markerCount(), markers) << id;
  }
}

TEST(Aruco, CharucoCornersCarryNoHalfPixelShift) {
  const CharucoTarget target(6, 5, 0.035, 0.026, "DICT_6X6_250");
  const aruco::CharucoDetector detector = target.buildDetector();
  const std::vector<cv::Point3f> board = detector.getBoard().getChessboardCorners();
  // Single views scatter by a few hundredths of a pixel either way; the shift is common to all.
  cv::Point2d raw_offset(0, 0), offset(0, 0);
  const std::vector<cv::Mat> poses = views::testViews(target, 0.55);
  for (const cv::Mat& camera_T_target : poses) {
    const cv::Mat grey = renderGrey(target, camera_T_target);
    const std::vector<cv::Point2f> truth = views::projectBoardPoints(board, camera_T_target);

    // OpenCV's own interpolation: on the versions that shift, corners half a pixel right of
    // and below the truth.
    std::vector<int> raw_ids;
    std::vector<cv::Point2f> raw;
    openCvCharucoCorners(grey, cv::Size(6, 5), 0.035f, 0.026f, 10, raw, raw_ids);
    ASSERT_GE(raw.size(), 10u);
    raw_offset += meanOffset(raw, raw_ids, truth) / static_cast<double>(poses.size());

    std::vector<cv::Point2f> corners;
    std::vector<int> ids;
    detector.detectBoard(grey, corners, ids);
    ASSERT_EQ(corners.size(), raw.size());
    offset += meanOffset(corners, ids, truth) / static_cast<double>(poses.size());
  }
  const double shift = aruco::charucoCornersShifted() ? 0.5 : 0.0;
  EXPECT_NEAR(raw_offset.x, shift, 0.05) << "OpenCV " << CV_VERSION;
  EXPECT_NEAR(raw_offset.y, shift, 0.05) << "OpenCV " << CV_VERSION;
  EXPECT_LT(std::abs(offset.x), 0.02);
  EXPECT_LT(std::abs(offset.y), 0.02);
}

TEST(Aruco, DetectBoardUsesGivenMarkersOrReportsTheDetectedOnes) {
  const CharucoTarget target(5, 7, 0.04, 0.03, 3);
  const aruco::CharucoDetector detector = target.buildDetector();
  const cv::Mat grey = renderGrey(target, views::testViews(target, 0.6)[1]);

  cv::Mat corners, ids, marker_ids;
  std::vector<cv::Mat> marker_corners;
  detector.detectBoard(grey, corners, ids, marker_corners, marker_ids);
  EXPECT_EQ(corners.type(), CV_32FC2);
  EXPECT_EQ(corners.cols, 1);
  EXPECT_EQ(ids.type(), CV_32S);
  EXPECT_EQ(corners.rows, 24);
  ASSERT_EQ(marker_corners.size(), 17u);
  EXPECT_EQ(marker_ids.total(), 17u);

  // Handing the markers back skips marker detection and gives the same corners; with only
  // some markers, only the corners next to them are interpolated.
  std::vector<cv::Point2f> again;
  std::vector<int> again_ids;
  detector.detectBoard(grey, again, again_ids, marker_corners, marker_ids);
  ASSERT_EQ(again.size(), 24u);
  EXPECT_EQ(cv::norm(cv::Mat(again), corners, cv::NORM_INF), 0);
  const std::vector<cv::Mat> few_corners(marker_corners.begin(), marker_corners.begin() + 3);
  const cv::Mat few_ids = marker_ids.rowRange(0, 3).clone();
  detector.detectBoard(grey, again, again_ids, few_corners, few_ids);
  EXPECT_LT(again.size(), 24u);

  // A blank image: no markers, no corners, and empty outputs rather than stale ones.
  detector.detectBoard(cv::Mat(480, 640, CV_8UC1, cv::Scalar(255)), again, again_ids);
  EXPECT_TRUE(again.empty());
  EXPECT_TRUE(again_ids.empty());
}

TEST(Aruco, MatchImagePointsPairsCornersAndMarkersWithTheBoard) {
  const aruco::CharucoBoard board(cv::Size(5, 7), 0.04f, 0.03f, aruco::getPredefinedDictionary(0));
  const std::vector<cv::Point3f> chessboard = board.getChessboardCorners();
  ASSERT_EQ(chessboard.size(), 24u);
  EXPECT_EQ(chessboard[5], cv::Point3f(0.08f, 0.08f, 0.f));  // id = y * 4 + x

  // ChArUco corners: by corner id; an id off the board is skipped.
  const std::vector<cv::Point2f> corners{{1, 2}, {3, 4}, {5, 6}};
  cv::Mat object_points, image_points;
  board.matchImagePoints(corners, std::vector<int>{0, 7, 99}, object_points, image_points);
  ASSERT_EQ(object_points.rows, 2);
  EXPECT_EQ(object_points.at<cv::Point3f>(1), chessboard[7]);
  EXPECT_EQ(image_points.at<cv::Point2f>(1), cv::Point2f(3, 4));

  // Marker corners: four board points per marker, by marker id.
  const std::vector<std::vector<cv::Point2f>> markers{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}, {{5, 5}, {6, 5}, {6, 6}, {5, 6}}};
  board.matchImagePoints(markers, std::vector<int>{2, 1000}, object_points, image_points);
  ASSERT_EQ(object_points.rows, 4);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(object_points.at<cv::Point3f>(k), board.getObjPoints()[2][k]);
    EXPECT_EQ(image_points.at<cv::Point2f>(k), markers[0][k]);
  }
  EXPECT_THROW(board.matchImagePoints(corners, std::vector<int>{0, 1}, object_points, image_points),
               std::invalid_argument);
}

TEST(Aruco, GridBoardIsFoundAndRefinedOnARenderedView) {
  const ArucoTarget target(cv::Size(4, 3), 0.04, 0.01, "DICT_4X4_50");
  const aruco::GridBoard board = target.buildBoard();
  EXPECT_LT(cv::norm(board.getObjPoints()[5][0] - cv::Point3f(0.05f, 0.05f, 0.f)), 1e-7);  // row by row
  const cv::Mat camera_T_target = views::testViews(target, 0.5)[2];
  const cv::Mat grey = renderGrey(target, camera_T_target);

  const aruco::ArucoDetector detector(target.buildDictionary());
  std::vector<std::vector<cv::Point2f>> corners, rejected;
  std::vector<int> ids;
  detector.detectMarkers(grey, corners, ids, rejected);
  ASSERT_EQ(ids.size(), 12u);

  // Hide two markers among the rejected candidates: refinement against the board finds them.
  rejected.push_back(corners.back());
  rejected.push_back(corners[corners.size() - 2]);
  corners.resize(10);
  ids.resize(10);
  detector.refineDetectedMarkers(grey, board, corners, ids, rejected);
  EXPECT_EQ(ids.size(), 12u);

  std::vector<cv::Point3f> object_points;
  std::vector<cv::Point2f> image_points;
  board.matchImagePoints(corners, ids, object_points, image_points);
  ASSERT_EQ(object_points.size(), 48u);
  // Unrefined marker corners sit about half a pixel inside the marker along each diagonal.
  const std::vector<cv::Point2f> truth = views::projectBoardPoints(object_points, camera_T_target);
  for (size_t i = 0; i < truth.size(); ++i) EXPECT_LT(cv::norm(image_points[i] - truth[i]), 1.5) << i;
}

TEST(Aruco, DrawsOnBgraImagesAndKeepsTheirAlpha) {
  cv::Mat bgra(60, 60, CV_8UC4, cv::Scalar(10, 20, 30, 40));
  const std::vector<std::vector<cv::Point2f>> markers{{{10, 10}, {50, 10}, {50, 50}, {10, 50}}};
  aruco::drawDetectedMarkers(bgra, markers, std::vector<int>{7});
  aruco::drawDetectedCornersCharuco(bgra, std::vector<cv::Point2f>{{30, 30}}, std::vector<int>{3});
  std::vector<cv::Mat> planes;
  cv::split(bgra, planes);
  EXPECT_EQ(cv::countNonZero(planes[3] != 40), 0);
  EXPECT_EQ(bgra.at<cv::Vec4b>(30, 10), cv::Vec4b(0, 255, 0, 40));  // on the marker outline
}
