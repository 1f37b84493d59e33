#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "rendered_views.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/targets/charuco_layout_check.hpp"

using namespace vemo;
namespace views = vemo::test_views;

namespace {

CharucoTarget withSquares(CharucoTarget target, int squares_x, int squares_y) {
  target.squares_x = squares_x;
  target.squares_y = squares_y;
  return target;
}

// Views of the whole board, then two so close that the image cuts the board off.
std::vector<cv::Mat> fullAndPartialViews(const CharucoTarget& target) {
  const synthetic::Renderer renderer(target, views::testCameraMatrix(), views::testDistCoeffs(),
                                     views::testImageSize());
  std::vector<cv::Mat> poses = views::testViews(target, 0.6);
  const cv::Point3d centre = synthetic::targetCentre(target);
  poses.push_back(synthetic::cameraTTargetLookingAt(target, centre + cv::Point3d(0.1, 0.05, -0.15), 10));
  poses.push_back(synthetic::cameraTTargetLookingAt(target, centre + cv::Point3d(-0.08, -0.06, -0.14), -20));
  std::vector<cv::Mat> images;
  for (size_t i = 0; i < poses.size(); ++i) {
    images.push_back(renderer.render(poses[i], {4, 128.0, 0.8, 3.0, static_cast<std::uint64_t>(i)}));
  }
  return images;
}

std::vector<DetectedMarkers> detect(const CharucoTarget& target, const std::vector<cv::Mat>& images) {
  const aruco::ArucoDetector detector(target.buildDictionary());
  std::vector<DetectedMarkers> markers(images.size());
  for (size_t i = 0; i < images.size(); ++i) detector.detectMarkers(images[i], markers[i].corners, markers[i].ids);
  return markers;
}

std::string text(const std::optional<cv::Size>& layout) {
  return layout ? std::to_string(layout->width) + "x" + std::to_string(layout->height) : "none";
}

template <class Exception, class Call>
void expectMessage(const Call& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

}  // namespace

TEST(CharucoLayoutCheck, TheTrueLayoutFitsOnFullAndPartlyVisibleViewsAndWrongOnesAreNamed) {
  struct Case {
    CharucoTarget target;
    std::vector<cv::Size> wrong;
  };
  const std::vector<Case> cases{
      {CharucoTarget(12, 9, 0.03, 0.022, "DICT_5X5_100"), {{9, 12}, {11, 9}, {12, 8}, {11, 8}, {13, 9}}},
      {CharucoTarget(8, 6, 0.04, 0.03, "DICT_4X4_50"), {{6, 8}, {7, 6}, {9, 6}}}};
  for (const Case& c : cases) {
    const std::string board = std::to_string(c.target.squares_x) + "x" + std::to_string(c.target.squares_y);
    SCOPED_TRACE(board);
    std::vector<cv::Mat> images = fullAndPartialViews(c.target);
    cv::cvtColor(images[1], images[1], cv::COLOR_BGR2GRAY);  // grey is taken as well
    const std::vector<DetectedMarkers> markers = detect(c.target, images);
    const size_t on_board = static_cast<size_t>(c.target.squares_x * c.target.squares_y / 2);
    ASSERT_EQ(markers[0].ids.size(), on_board);
    ASSERT_LT(markers[5].ids.size() + markers[6].ids.size(), on_board * 4 / 3);  // close views: part of the board

    const CharucoLayoutCheck right = checkCharucoLayout(c.target, images);
    EXPECT_TRUE(right.fits && right.images_used == 7 && right.layouts.size() == 1 && right.warning.empty());
    EXPECT_LT(right.layouts[0].residual_squares, 0.1);
    EXPECT_EQ(text(right.fitting_layout), board);
    EXPECT_TRUE(checkCharucoLayout(c.target, std::vector<cv::Mat>(images.end() - 2, images.end())).fits);

    for (const cv::Size& wrong : c.wrong) {
      const std::string given = std::to_string(wrong.width) + "x" + std::to_string(wrong.height);
      SCOPED_TRACE(given);
      const CharucoLayoutCheck check = checkCharucoLayout(withSquares(c.target, wrong.width, wrong.height), markers);
      EXPECT_FALSE(check.fits);
      EXPECT_EQ(check.layouts[0].squares_x, wrong.width);
      EXPECT_GT(check.layouts[0].residual_squares, 1.0);
      EXPECT_EQ(text(check.fitting_layout), board);
      EXPECT_EQ(check.warning, "ChArUco markers do not fit a " + given + " board; they fit a " + board +
                                   " board (squares_x x squares_y)");
    }
  }
}

TEST(CharucoLayoutCheck, FewMarkersAndStraysAreNoEvidenceAndMarkersNoCandidateHoldsAreSaidSo) {
  const CharucoTarget target(12, 9, 0.03, 0.022, "DICT_5X5_100");
  const cv::Mat blank(480, 640, CV_8UC3, cv::Scalar::all(200));
  const CharucoLayoutCheck nothing = checkCharucoLayout(target, std::vector<cv::Mat>{blank, blank});
  EXPECT_TRUE(nothing.fits && nothing.images_used == 0 && nothing.layouts.empty() && !nothing.fitting_layout &&
              nothing.warning.empty());

  // Three markers thrown anywhere are not enough to accuse the layout.
  const DetectedMarkers three{{{{0, 0}, {9, 0}, {9, 9}, {0, 9}}, {{50, 0}, {59, 0}, {59, 9}, {50, 9}}, {{0, 70}, {9, 70}, {9, 79}, {0, 79}}},
                              {53, 0, 20}};
  EXPECT_TRUE(checkCharucoLayout(target, std::vector<DetectedMarkers>{three}).fits);

  // A stray marker beyond the board in one image of several is left out; in the only image
  // the board cannot hold it.
  const std::vector<cv::Mat> images = fullAndPartialViews(target);
  std::vector<DetectedMarkers> markers = detect(target, images);
  markers[2].corners.push_back({{5, 5}, {25, 5}, {25, 25}, {5, 25}});
  markers[2].ids.push_back(90);
  EXPECT_TRUE(checkCharucoLayout(target, markers).fits);
  EXPECT_FALSE(checkCharucoLayout(target, std::vector<DetectedMarkers>{markers[2]}).fits);

  // Ids up to 53 fit no candidate: none has more than 8 x 6 squares (24 markers).
  const CharucoLayoutCheck check = checkCharucoLayout(withSquares(target, 6, 4), markers);
  EXPECT_FALSE(check.fits);
  EXPECT_FALSE(check.fitting_layout);
  EXPECT_EQ(check.warning,
            "ChArUco markers do not fit a 6x4 board, nor any board a square or two larger, smaller or turned");
  // The given layout, then 4..8 x 2..6 and, turned, 2..6 x 4..8: 40 candidates, each tried once,
  // the one-change ones (the turn, then a square more or fewer) first.
  ASSERT_EQ(check.layouts.size(), 41u);
  std::set<std::pair<int, int>> tried;
  std::vector<std::pair<int, int>> first;
  for (const CharucoLayoutFit& fit : check.layouts) {
    tried.insert({fit.squares_x, fit.squares_y});
    if (first.size() < 6) first.emplace_back(fit.squares_x, fit.squares_y);
    EXPECT_TRUE(std::isinf(fit.residual_squares));
  }
  EXPECT_EQ(tried.size(), 41u);
  EXPECT_EQ(first, (std::vector<std::pair<int, int>>{{6, 4}, {4, 6}, {5, 4}, {6, 3}, {6, 5}, {7, 4}}));
}

// The ChArUco photograph of OpenCV's documentation (Debian's opencv-doc) shows a 6 x 8 board
// printed before OpenCV 4.6, whose even-row boards started with a white square: its markers
// sit a square away from where this library (and OpenCV since 4.6) puts them, and its
// corners would be interpolated wrongly.
TEST(CharucoLayoutCheck, AnOldPatternBoardOnARealPhotographDoesNotFit) {
  const cv::Mat photo = cv::imread("/usr/share/doc/opencv-doc/opencv4/html/screen_charuco.jpg");
  if (photo.empty()) GTEST_SKIP() << "opencv-doc's screen_charuco.jpg is not installed";
  const CharucoLayoutCheck check = checkCharucoLayout(CharucoTarget(6, 8, 0.04, 0.02, "DICT_4X4_50"), std::vector<cv::Mat>{photo});
  EXPECT_TRUE(check.images_used == 1 && !check.fits);
  EXPECT_GT(check.layouts[0].residual_squares, 0.6);
  EXPECT_EQ(check.warning,
            "ChArUco markers do not fit a 6x8 board, nor any board a square or two larger, smaller or turned");
}

TEST(CharucoLayoutCheck, RefusesBadInputNamingTheOperation) {
  const CharucoTarget target(12, 9, 0.03, 0.022, "DICT_5X5_100");
  const std::vector<cv::Point2f> square{{0, 0}, {9, 0}, {9, 9}, {0, 9}};
  const auto check = [&](const DetectedMarkers& markers) {
    checkCharucoLayout(target, std::vector<DetectedMarkers>{DetectedMarkers{}, markers});
  };
  expectMessage<std::invalid_argument>([&] { check({{square, square}, {1}}); },
                                       "checkCharucoLayout: image 1 has 2 markers but 1 ids");
  expectMessage<std::invalid_argument>([&] { check({{{{0, 0}, {1, 0}, {1, 1}}}, {1}}); },
                                       "checkCharucoLayout: image 1 has a marker with 3 corners, not 4");
  expectMessage<std::invalid_argument>([&] { check({{{{0, 0}, {NAN, 0}, {1, 1}, {0, 1}}}, {1}}); },
                                       "checkCharucoLayout: image 1 has a marker corner that is not finite");
  expectMessage<std::invalid_argument>([&] { check({{square}, {-2}}); },
                                       "checkCharucoLayout: image 1 has the negative marker id -2");
  const std::vector<cv::Mat> images{cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(0)), cv::Mat(8, 8, CV_8UC2)};
  expectMessage<std::runtime_error>([&] { checkCharucoLayout(target, images); },
                                    "checkCharucoLayout: image 1 must be an 8-bit grey or BGR image (1, 3 or 4 "
                                    "channels), got 8-bit unsigned with 2 channel(s)");
  expectMessage<std::invalid_argument>(
      [&] { checkCharucoLayout(CharucoTarget(12, 9, 0.03, 0.03, 5), std::vector<cv::Mat>{}); },
      "CharucoTarget: marker_length must be smaller than square_length 0.030000, got 0.03");
  // A board the dictionary cannot fill is refused also without evidence.
  EXPECT_THROW(checkCharucoLayout(CharucoTarget(12, 9, 0.03, 0.022, "DICT_4X4_50"), std::vector<cv::Mat>{}),
               std::invalid_argument);
}
