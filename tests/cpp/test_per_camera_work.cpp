#include <gtest/gtest.h>

#include <vector>

#include "rendered_views.hpp"
#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/calibration/rig/multi_camera_per_camera_work.hpp"
#include "vemo/geometry/corner_observations.hpp"
#include "vemo/synthetic/renderer.hpp"

using vemo::calibration::MultiCameraCalibrator;
using vemo::calibration::PerCameraWork;

// The rig's triangulation check reads a frame's corners off the run's detections instead of
// detecting the frame again: they must be what a detection of that frame alone finds, on
// both of the run's paths (intrinsics calibrated, or given and only detected), and nothing
// for a frame where the board was not found.
TEST(PerCameraWork, CharucoCornersFromTheRunsDetectionsEqualAFreshDetection) {
  const vemo::CharucoTarget board(6, 5, 0.04, 0.03, "DICT_4X4_50");
  const vemo::synthetic::Renderer renderer(board, vemo::test_views::testCameraMatrix(),
                                           vemo::test_views::testDistCoeffs(), vemo::test_views::testImageSize());
  std::vector<cv::Mat> frames;
  for (const cv::Mat& camera_T_target : vemo::test_views::testViews(board, 0.45)) {
    frames.push_back(renderer.render(camera_T_target));
  }
  frames.insert(frames.begin() + 2, cv::Mat(frames[0].size(), CV_8UC3, cv::Scalar::all(128)));

  PerCameraWork calibrated({frames}, board, MultiCameraCalibrator::defaultOptions());
  ASSERT_TRUE(calibrated.intrinsics(0).result.ok);
  PerCameraWork detected({frames}, board, MultiCameraCalibrator::defaultOptions());
  ASSERT_EQ(detected.detections(0).successful_indices.size(), frames.size() - 1);

  for (int frame = 0; frame < static_cast<int>(frames.size()); ++frame) {
    const vemo::geometry::CornerDetection alone =
        vemo::geometry::detectCharucoCorners(frames[static_cast<std::size_t>(frame)], board);
    EXPECT_EQ(alone.corners.empty(), frame == 2);
    for (PerCameraWork* work : {&calibrated, &detected}) {
      const vemo::geometry::CornerDetection reused = work->charucoCorners(0, frame);
      ASSERT_EQ(reused.corners.size(), alone.corners.size());
      EXPECT_EQ(reused.ids.size(), alone.ids.size());
      if (alone.corners.empty()) continue;
      ASSERT_EQ(reused.corners.type(), alone.corners.type());
      EXPECT_EQ(cv::norm(reused.corners, alone.corners, cv::NORM_INF), 0.0);
      EXPECT_EQ(cv::norm(reused.ids, alone.ids, cv::NORM_INF), 0.0);
    }
  }
}
