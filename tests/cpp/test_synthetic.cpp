#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <optional>
#include <random>

#include "rendered_views.hpp"
#include "vemo/synthetic/board_image.hpp"
#include "vemo/synthetic/lens.hpp"
#include "vemo/synthetic/renderer.hpp"

using namespace vemo;
using vemo::test_views::projectBoardPoints;
namespace views = vemo::test_views;

namespace {

struct Offsets {
  double sum_x = 0, sum_y = 0, sum_distance = 0;
  int count = 0;
  void add(const cv::Point2f& found, const cv::Point2f& truth) {
    sum_x += found.x - truth.x;
    sum_y += found.y - truth.y;
    sum_distance += std::hypot(found.x - truth.x, found.y - truth.y);
    ++count;
  }
};

cv::Mat grey(const cv::Mat& bgr) {
  cv::Mat out;
  cv::cvtColor(bgr, out, cv::COLOR_BGR2GRAY);
  return out;
}

// findChessboardCorners may return the grid in either direction: pair each corner with
// the nearest projected board point instead of by position.
cv::Point2f nearest(const cv::Point2f& point, const std::vector<cv::Point2f>& candidates) {
  cv::Point2f best = candidates.front();
  for (const cv::Point2f& candidate : candidates) {
    if (cv::norm(candidate - point) < cv::norm(best - point)) best = candidate;
  }
  return best;
}

// Bias is held to under a tenth of the half-pixel fault of OpenCV's ChArUco interpolation.
void expectUnbiasedAndAccurate(const Offsets& offsets, int expected_count) {
  ASSERT_EQ(offsets.count, expected_count);
  EXPECT_LT(offsets.sum_distance / offsets.count, 0.1);
  EXPECT_LT(std::abs(offsets.sum_x / offsets.count), 0.04);
  EXPECT_LT(std::abs(offsets.sum_y / offsets.count), 0.04);
}

}  // namespace

TEST(Renderer, ChessboardCornersLieWhereProjectPointsPutsThem) {
  // 6 and 7 inner-corner rows: boards with an odd and an even number of square rows.
  for (const cv::Size size : {cv::Size(9, 6), cv::Size(8, 7)}) {
    const ChessboardTarget chessboard{size, 0.03};
    const synthetic::Renderer renderer(chessboard, views::testCameraMatrix(), views::testDistCoeffs(),
                                       views::testImageSize());
    const cv::Mat object_points = chessboard.objectPoints().reshape(3);
    const std::vector<cv::Point3f> board(object_points.begin<cv::Point3f>(), object_points.end<cv::Point3f>());
    Offsets offsets;
    const auto views = views::testViews(chessboard, 0.55);
    for (const cv::Mat& camera_T_target : views) {
      const cv::Mat image = grey(renderer.render(camera_T_target));
      std::vector<cv::Point2f> corners;
      ASSERT_TRUE(cv::findChessboardCorners(image, size, corners));
      cv::cornerSubPix(image, corners, cv::Size(11, 11), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 100, 1e-4));
      const std::vector<cv::Point2f> truth = projectBoardPoints(board, camera_T_target);
      for (const cv::Point2f& corner : corners) offsets.add(corner, nearest(corner, truth));
    }
    SCOPED_TRACE(size);
    expectUnbiasedAndAccurate(offsets, static_cast<int>(views.size() * board.size()));
  }
}

TEST(Renderer, CharucoCornersLieWhereProjectPointsPutsThem) {
  for (const int rows : {7, 6}) {
    const CharucoTarget charuco(5, rows, 0.04, 0.03, 3);
    const synthetic::Renderer renderer(charuco, views::testCameraMatrix(), views::testDistCoeffs(),
                                       views::testImageSize());
    const aruco::CharucoDetector detector = charuco.buildDetector();
    const std::vector<cv::Point3f> board = detector.getBoard().getChessboardCorners();
    Offsets offsets;
    const auto views = views::testViews(charuco, 0.6);
    for (const cv::Mat& camera_T_target : views) {
      std::vector<cv::Point2f> corners;
      std::vector<int> ids;
      detector.detectBoard(grey(renderer.render(camera_T_target)), corners, ids);
      ASSERT_EQ(corners.size(), board.size());  // every corner of every view
      const std::vector<cv::Point2f> truth = projectBoardPoints(board, camera_T_target);
      for (size_t i = 0; i < corners.size(); ++i) offsets.add(corners[i], truth[ids[i]]);
    }
    SCOPED_TRACE(rows);
    expectUnbiasedAndAccurate(offsets, static_cast<int>(views.size() * board.size()));
  }
}

TEST(Renderer, PixelCentresSitAtIntegerCoordinates) {
  // No distortion, board parallel to the sensor, the first inner corner projected exactly
  // onto the centre of pixel (640, 480): that pixel and its four neighbours are split in
  // halves or quarters between a black and a white square, so all five are mid-grey.
  const ChessboardTarget chessboard{cv::Size(4, 3), 0.05};
  const cv::Mat camera = (cv::Mat_<double>(3, 3) << 800, 0, 640, 0, 800, 480, 0, 0, 1);
  const synthetic::Renderer renderer(chessboard, camera, cv::Mat(), cv::Size(1280, 960));
  cv::Mat camera_T_target = cv::Mat::eye(4, 4, CV_64F);
  camera_T_target.at<double>(2, 3) = 1.0;
  const cv::Mat image = grey(renderer.render(camera_T_target));
  for (const cv::Point pixel : {cv::Point(640, 480), cv::Point(639, 480), cv::Point(641, 480), cv::Point(640, 479),
                                cv::Point(640, 481)}) {
    EXPECT_NEAR(image.at<uchar>(pixel), 127.5, 0.5) << pixel;
  }
  // One pixel further the squares are whole: (638, 478) lies in the black top-left square.
  EXPECT_EQ(image.at<uchar>(478, 638), 0);
  EXPECT_EQ(image.at<uchar>(478, 642), 255);
}

TEST(Renderer, UniformPixelsShowWhatTheRayThroughTheirCentreHits) {
  // A pinhole camera, so that the ray of a pixel is known in closed form, and the
  // chessboard's colours worked out here from the board point the ray hits. Pixels the
  // renderer left one colour (fully black, white or background) must agree with that
  // point wherever a pixel covers less than an eighth of a square (farther out, squares
  // thinner than a pixel alias). The second view grazes the board with part of the sheet
  // behind the camera. A background of 100 cannot come out of a blend of 0, 255 and 100.
  const double s = 0.05;
  const ChessboardTarget chessboard{cv::Size(19, 9), s};
  const cv::Matx33d camera(500, 0, 319.5, 0, 500, 239.5, 0, 0, 1);
  const synthetic::Renderer renderer(chessboard, cv::Mat(camera), cv::Mat(), cv::Size(640, 480));
  const auto colour = [&](const cv::Point2d& board) {
    if (board.x < -2 * s || board.x >= 20 * s || board.y < -2 * s || board.y >= 10 * s) return 100;  // off the sheet
    const int a = static_cast<int>(std::floor(board.x / s)) + 1, b = static_cast<int>(std::floor(board.y / s)) + 1;
    if (a < 0 || a > 19 || b < 0 || b > 9) return 255;  // the margin
    return (a + b) % 2 == 0 ? 0 : 255;
  };
  const cv::Point3d centre = synthetic::targetCentre(chessboard);
  for (const cv::Point3d& position :
       {cv::Point3d(centre.x + 0.1, centre.y - 0.2, -0.8), cv::Point3d(0.2, centre.y + 0.03, -0.06)}) {
    const cv::Mat camera_T_target = synthetic::cameraTTargetLookingAt(chessboard, position, 10.0);
    synthetic::RenderOptions options;
    options.background = 100;
    const cv::Mat image = grey(renderer.render(camera_T_target, options));
    const cv::Matx33d R = camera_T_target(cv::Rect(0, 0, 3, 3));
    const cv::Vec3d origin = -(R.t() * cv::Vec3d(camera_T_target(cv::Rect(3, 0, 1, 3))));
    // Board point hit by the ray through image point (u, v), if the board is ahead.
    const auto hit = [&](double u, double v) -> std::optional<cv::Point2d> {
      const cv::Vec3d direction = R.t() * cv::Vec3d((u - 319.5) / 500, (v - 239.5) / 500, 1);
      const double depth = -origin[2] / direction[2];
      if (!(depth > 0)) return std::nullopt;
      return cv::Point2d(origin[0] + depth * direction[0], origin[1] + depth * direction[1]);
    };
    int checked = 0, behind = 0;
    for (int v = 0; v < image.rows; ++v) {
      for (int u = 0; u < image.cols; ++u) {
        const int value = image.at<uchar>(v, u);
        if (value != 0 && value != 255 && value != 100) continue;
        const auto board = hit(u, v), right = hit(u + 1, v), below = hit(u, v + 1);
        if (!board) {
          ++behind;
          ASSERT_EQ(value, 100) << u << "," << v;
          continue;
        }
        if (!right || !below || std::max(cv::norm(*right - *board), cv::norm(*below - *board)) > s / 8) continue;
        ASSERT_EQ(value, colour(*board)) << u << "," << v;
        ++checked;
      }
    }
    EXPECT_GT(checked, 150000);
    if (position.z > -0.1) EXPECT_GT(behind, 1000);  // the grazing view looks past the horizon
  }
}

TEST(Renderer, ShowsOnlyTheBackgroundWhenTheBoardIsSeenFromBehind) {
  const ChessboardTarget chessboard{cv::Size(4, 3), 0.05};
  const synthetic::Renderer renderer(chessboard, views::testCameraMatrix(), views::testDistCoeffs(),
                                     cv::Size(320, 240));
  // Camera behind the board (positive z in the board frame), looking at it.
  const cv::Mat behind = synthetic::cameraTTargetLookingAt(chessboard, {0.075, 0.05, 0.5});
  synthetic::RenderOptions options;
  options.background = 77;
  const cv::Mat image = renderer.render(behind, options);
  cv::Mat different;
  cv::compare(image, cv::Scalar(77, 77, 77), different, cv::CMP_NE);
  EXPECT_EQ(cv::countNonZero(different.reshape(1)), 0);
}

TEST(Lens, ProjectsExactlyAsProjectPointsAndInvertsItself) {
  const double all[14] = {-0.21, 0.09, 0.0012, -0.0007, -0.02, 0.03, -0.01, 0.005,
                          0.001, -0.0005, 0.0008, 0.0002, 0.01, -0.015};
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-0.55, 0.55);
  std::vector<cv::Point3d> rays;
  for (int i = 0; i < 200; ++i) rays.emplace_back(coordinate(random), coordinate(random), 1.0);
  const cv::Mat camera = views::testCameraMatrix();
  for (const int count : {0, 4, 5, 8, 12, 14}) {
    const cv::Mat coefficients = count ? cv::Mat(1, count, CV_64F, const_cast<double*>(all)).clone() : cv::Mat();
    const synthetic::Lens lens(camera, coefficients, "test");
    std::vector<cv::Point2d> expected;
    cv::projectPoints(rays, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), camera, coefficients, expected);
    for (size_t i = 0; i < rays.size(); ++i) {
      const cv::Point2d normalized(rays[i].x, rays[i].y);
      const cv::Point2d pixel = lens.project(normalized);
      ASSERT_NEAR(pixel.x, expected[i].x, 1e-9) << count;
      ASSERT_NEAR(pixel.y, expected[i].y, 1e-9) << count;
      const std::optional<cv::Point2d> back = lens.unproject(pixel, cv::Point2d(0, 0));
      ASSERT_TRUE(back.has_value()) << count;
      EXPECT_NEAR(back->x, normalized.x, 1e-11);
      EXPECT_NEAR(back->y, normalized.y, 1e-11);
    }
  }
}

TEST(Lens, FindsNoRayBeyondTheFoldOfStrongBarrelDistortion) {
  // r_d = r (1 - 0.5 r^2) peaks at r = 0.816, r_d = 0.544: no ray reaches r_d = 0.6.
  const synthetic::Lens lens(cv::Mat::eye(3, 3, CV_64F), (cv::Mat_<double>(1, 4) << -0.5, 0, 0, 0), "test");
  EXPECT_FALSE(lens.unproject(cv::Point2d(0.6, 0), cv::Point2d(0.6, 0)).has_value());
  const std::optional<cv::Point2d> inside = lens.unproject(cv::Point2d(0.5, 0), cv::Point2d(0.5, 0));
  ASSERT_TRUE(inside.has_value());
  EXPECT_NEAR(inside->x * (1 - 0.5 * inside->x * inside->x), 0.5, 1e-12);
  EXPECT_LT(inside->x, 0.816);  // the lens's own branch, not the one beyond the fold
}

TEST(BoardImage, ChessboardSquaresSitWherePixelFromTargetPutsThem) {
  const ChessboardTarget chessboard{cv::Size(5, 4), 0.02};
  const synthetic::BoardImage sheet = synthetic::boardImage(chessboard, 2000.0);  // 40 px per square
  ASSERT_EQ(sheet.image.type(), CV_8UC3);
  EXPECT_EQ(sheet.image.size(), cv::Size((5 + 3) * 40, (4 + 3) * 40));
  const cv::Mat image = grey(sheet.image);
  const auto at = [&](double x, double y) {
    const cv::Vec3d p(x, y, 1);
    const cv::Matx21d pixel = sheet.pixel_from_target * p;
    return image.at<uchar>(static_cast<int>(std::lround(pixel(1))), static_cast<int>(std::lround(pixel(0))));
  };
  // Square (a, b) spans x in [(a - 1) s, a s]; the top-left one, (0, 0), is black.
  for (int b = 0; b <= 4; ++b) {
    for (int a = 0; a <= 5; ++a) {
      EXPECT_EQ(at((a - 0.5) * 0.02, (b - 0.5) * 0.02), (a + b) % 2 == 0 ? 0 : 255) << a << "," << b;
    }
  }
  EXPECT_EQ(at(-1.5 * 0.02, 0.0), 255);  // the margin
  // The first inner corner lies on a pixel boundary: 0.5 px from the nearest centres.
  const cv::Matx21d origin = sheet.pixel_from_target * cv::Vec3d(0, 0, 1);
  EXPECT_DOUBLE_EQ(origin(0) - std::floor(origin(0)), 0.5);
}

TEST(BoardImage, CharucoCornersOnTheFlatSheetMatchPixelFromTarget) {
  for (const int rows : {5, 6}) {
    const CharucoTarget charuco(6, rows, 0.03, 0.022, "DICT_5X5_100");
    const synthetic::BoardImage sheet = synthetic::boardImage(charuco, synthetic::exactPixelsPerMetre(charuco));
    const aruco::CharucoDetector detector = charuco.buildDetector();
    std::vector<cv::Point2f> corners;
    std::vector<int> ids;
    detector.detectBoard(grey(sheet.image), corners, ids);
    const std::vector<cv::Point3f> board = detector.getBoard().getChessboardCorners();
    ASSERT_EQ(corners.size(), board.size());
    for (size_t i = 0; i < corners.size(); ++i) {
      const cv::Matx21d truth = sheet.pixel_from_target * cv::Vec3d(board[ids[i]].x, board[ids[i]].y, 1);
      EXPECT_NEAR(corners[i].x, truth(0), 0.1);
      EXPECT_NEAR(corners[i].y, truth(1), 0.1);
    }
  }
}

TEST(BoardImage, RejectsResolutionsAndGeometryItCannotDraw) {
  const ChessboardTarget chessboard{cv::Size(5, 4), 0.02};
  EXPECT_THROW(synthetic::boardImage(chessboard, 0.0), std::invalid_argument);
  EXPECT_THROW(synthetic::boardImage(chessboard, 1e9), std::invalid_argument);
  EXPECT_THROW(synthetic::boardImage(CharucoTarget(5, 7, 0.03, 0.04, 3), 1000.0), std::invalid_argument);
  EXPECT_THROW(synthetic::boardImage(CharucoTarget(5, 7, 0.04, 0.03, 22), 1000.0), std::runtime_error);
}
