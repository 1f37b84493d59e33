#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <vector>

#include "rendered_views.hpp"
#include "vemo/geometry/corner_observations.hpp"
#include "vemo/geometry/triangulation.hpp"
#include "vemo/geometry/triangulation_figures.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/tf/tf.hpp"

using namespace vemo::geometry;

namespace {

cv::Mat cornerRows(std::initializer_list<double> xy) {
  return cv::Mat(std::vector<double>(xy), true).reshape(1, static_cast<int>(xy.size() / 2));
}
cv::Mat idColumn(std::vector<int> ids) { return cv::Mat(ids, true); }

// Two cameras of the test lens, the second 0.2 m to the right of and turned towards the first.
std::vector<cv::Mat> rigPoses() {
  return {cv::Mat::eye(4, 4, CV_64F), vemo::tf::poseToTransformationMatrix({0.2, 0.01, 0.02, 1.0, -8.0, 2.0})};
}

std::vector<cv::Point2d> project(const std::vector<cv::Point3d>& points, const cv::Mat& reference_T_camera) {
  cv::Mat rvec, tvec;
  vemo::tf::transformationMatrixToRvecTvec(reference_T_camera.inv(), rvec, tvec);
  std::vector<cv::Point2d> pixels;
  cv::projectPoints(points, rvec, tvec, vemo::test_views::testCameraMatrix(), vemo::test_views::testDistCoeffs(),
                    pixels);
  return pixels;
}

}  // namespace

TEST(MultiViewGeometry, DetectsCharucoCornersAsDoubleRowsWithIds) {
  const vemo::CharucoTarget board(6, 5, 0.04, 0.03, "DICT_4X4_50");
  const vemo::synthetic::Renderer renderer(board, vemo::test_views::testCameraMatrix(),
                                           vemo::test_views::testDistCoeffs(), vemo::test_views::testImageSize());
  const cv::Mat camera_T_target = vemo::test_views::testViews(board, 0.45)[1];
  const CornerDetection found = detectCharucoCorners(renderer.render(camera_T_target), board);
  ASSERT_EQ(found.corners.rows, 20);
  EXPECT_EQ(found.corners.type(), CV_64F);
  EXPECT_EQ(found.corners.cols, 2);
  EXPECT_EQ(found.ids.type(), CV_32S);
  const std::vector<cv::Point3f> board_corners = board.buildBoard().getChessboardCorners();
  const std::vector<cv::Point2f> truth = vemo::test_views::projectBoardPoints(board_corners, camera_T_target);
  for (int row = 0; row < found.corners.rows; ++row) {
    const cv::Point2f& expected = truth[static_cast<std::size_t>(found.ids.at<int>(row))];
    EXPECT_NEAR(found.corners.at<double>(row, 0), expected.x, 0.15);
    EXPECT_NEAR(found.corners.at<double>(row, 1), expected.y, 0.15);
  }

  const CornerDetection nothing = detectCharucoCorners(cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(128)), board);
  EXPECT_TRUE(nothing.corners.empty());
  EXPECT_TRUE(nothing.ids.empty());
}

TEST(MultiViewGeometry, GathersIdsSeenTwiceInCameraOrder) {
  const ObservationMap map = gatherObservations(
      {cornerRows({1, 1, 2, 2, 3, 3}), cv::Mat(), cornerRows({20, 20, 30, 30, 50, 50})},
      {idColumn({1, 2, 3}), cv::Mat(), idColumn({3, 2, 5})});
  ASSERT_EQ(map.size(), 2u);
  ASSERT_EQ(map.at(2).size(), 2u);
  EXPECT_EQ(map.at(2)[0], Observation(0, cv::Point2d(2, 2)));
  EXPECT_EQ(map.at(2)[1], Observation(2, cv::Point2d(30, 30)));
  EXPECT_EQ(map.at(3)[1], Observation(2, cv::Point2d(20, 20)));
  EXPECT_THROW(gatherObservations({cornerRows({1, 1, 2, 2})}, {idColumn({1})}), std::invalid_argument);
}

TEST(MultiViewGeometry, TriangulatesExactProjectionsAndMarksPointsAtInfinity) {
  const std::vector<cv::Mat> poses = rigPoses();
  const std::vector<cv::Mat> intrinsics(2, vemo::test_views::testCameraMatrix());
  const std::vector<cv::Mat> distortions(2, vemo::test_views::testDistCoeffs());
  const std::vector<cv::Point3d> truth{{0.05, -0.04, 0.8}, {-0.1, 0.06, 0.9}, {0.12, 0.1, 1.1}};
  const std::vector<cv::Point2d> first = project(truth, poses[0]), second = project(truth, poses[1]);
  ObservationMap map;
  for (int k = 0; k < 3; ++k) map[10 + k] = {{0, first[k]}, {1, second[k]}};

  const TriangulatedPoints points = triangulateAll(map, buildProjectionMatrices(intrinsics, poses), intrinsics, distortions);
  ASSERT_EQ(points.points.rows, 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(points.ids.at<int>(k), 10 + k);
    EXPECT_LT(cv::norm(cv::Point3d(points.points.at<double>(k, 0), points.points.at<double>(k, 1),
                                   points.points.at<double>(k, 2)) - truth[k]),
              1e-5);
  }

  // Two parallel cameras both seeing a corner at their principal point: rays meet at infinity.
  const cv::Mat beside = vemo::tf::poseToTransformationMatrix({0.1, 0, 0, 0, 0, 0});
  const cv::Mat no_distortion = cv::Mat::zeros(1, 5, CV_64F);
  const cv::Point2d centre(641.3, 478.9);
  const TriangulatedPoints infinite =
      triangulateAll({{7, {{0, centre}, {1, centre}}}}, buildProjectionMatrices(intrinsics, {poses[0], beside}),
                     intrinsics, {no_distortion, no_distortion});
  EXPECT_TRUE(std::isnan(infinite.points.at<double>(0, 0)));
  EXPECT_EQ(infinite.ids.at<int>(0), 7);
}

TEST(MultiViewGeometry, ThicknessIsTheUnscaledThirdSingularValue) {
  EXPECT_TRUE(std::isnan(coplanarityThickness(cv::Mat::zeros(2, 3, CV_64F))));
  EXPECT_NEAR(coplanarityThickness((cv::Mat_<double>(3, 3) << 0, 0, 1, 1, 0, 2, 0, 1, 3)), 0.0, 1e-12);
  // Centred columns (-.5 .5 -.5 .5), (-.5 -.5 .5 .5), (d -d -d d) are orthogonal: the
  // singular values are their norms 1, 1 and 2d.
  const double d = 0.01;
  EXPECT_NEAR(coplanarityThickness((cv::Mat_<double>(4, 3) << 0, 0, d, 1, 0, -d, 0, 1, -d, 1, 1, d)), 2 * d, 1e-12);
}

TEST(MultiViewGeometry, ReprojectionRmsPerCameraWithNaNForAnUnseenCamera) {
  const std::vector<cv::Mat> poses{rigPoses()[0], rigPoses()[1], rigPoses()[1]};
  const std::vector<cv::Mat> intrinsics(3, vemo::test_views::testCameraMatrix());
  const std::vector<cv::Mat> distortions(3, vemo::test_views::testDistCoeffs());
  const std::vector<cv::Point3d> truth{{0.05, -0.04, 0.8}, {-0.1, 0.06, 0.9}};
  const std::vector<cv::Point2d> first = project(truth, poses[0]), second = project(truth, poses[1]);
  // Camera 1 sees the second point 3 px right and 4 px low; camera 2 sees nothing.
  const ObservationMap map{{4, {{0, first[0]}, {1, second[0]}}},
                           {9, {{0, first[1]}, {1, second[1] + cv::Point2d(3, 4)}, {1, second[1]}}}};
  const cv::Mat points = (cv::Mat_<double>(2, 3) << truth[0].x, truth[0].y, truth[0].z, truth[1].x, truth[1].y,
                          truth[1].z);
  const ReprojectionStats stats = perCameraReprojectionRms(points, idColumn({4, 9}), map, intrinsics, distortions, poses);
  ASSERT_EQ(stats.rms.size(), 3u);
  EXPECT_NEAR(stats.rms[0], 0.0, 1e-3);
  EXPECT_NEAR(stats.rms[1], std::sqrt(25.0 / 2), 1e-3);  // only the first observation of id 9 counts
  EXPECT_EQ(stats.counts[1], 2);
  EXPECT_TRUE(std::isnan(stats.rms[2]));
  EXPECT_EQ(stats.counts[2], 0);
}

TEST(MultiViewGeometry, NeighbourDistancesFollowTheBoardRows) {
  // squares_x 5: four corners per board row. Corner i sits at (i mod 4, 2 * (i div 4)):
  // right neighbours lie 1 away, lower ones 2.
  cv::Mat points(8, 3, CV_64F);
  std::vector<int> ids;
  for (int id = 0; id < 8; ++id) {
    points.at<double>(id, 0) = id % 4;
    points.at<double>(id, 1) = 2 * (id / 4);
    points.at<double>(id, 2) = 0;
    ids.push_back(id);
  }
  EXPECT_EQ(boardNeighborDistances(points, idColumn(ids), 5),
            (std::vector<double>{1, 2, 1, 2, 1, 2, 2, 1, 1, 1}));
}
