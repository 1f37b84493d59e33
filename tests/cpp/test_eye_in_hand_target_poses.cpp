#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "rendered_views.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/synthetic/renderer.hpp"

namespace views = vemo::test_views;
using vemo::calibration::EyeInHandCalibrator;
using vemo::calibration::IntrinsicOptions;

// The eye-in-hand run solves ChArUco poses from its intrinsic calibration's detections
// instead of detecting the board again: the re-detection must find exactly those corners,
// so that poses, kept views and log lines stay what they were.
TEST(EyeInHandTargetPoses, CharucoPosesFromTheIntrinsicDetectionsEqualThoseOfARedetection) {
  const vemo::CharucoTarget target(8, 6, 0.04, 0.03, "DICT_5X5_100");
  const vemo::synthetic::Renderer renderer(target, views::testCameraMatrix(), views::testDistCoeffs(),
                                           views::testImageSize());
  std::vector<cv::Mat> images;
  for (const cv::Mat& camera_T_target : views::testViews(target, 0.6)) {
    images.push_back(renderer.render(camera_T_target));
  }
  vemo::calibration::IntrinsicCalibrator intrinsic(target, IntrinsicOptions());
  const auto result = intrinsic.calibrate(images);
  ASSERT_TRUE(result.ok);
  const auto& detections = intrinsic.detections();
  ASSERT_EQ(detections.successful_indices.size(), images.size());

  const EyeInHandCalibrator calibrator(target, IntrinsicOptions());
  const auto reused = calibrator.computeTargetPosesFromDetections(
      detections.object_points, detections.image_points, result.intrinsic_matrix, result.distortion_coefficients);
  std::ostringstream lines;
  std::streambuf* err = std::cerr.rdbuf(lines.rdbuf());
  const auto redetected =
      calibrator.computeTargetPoses(images, {}, result.intrinsic_matrix, result.distortion_coefficients);
  std::cerr.rdbuf(err);

  EXPECT_EQ(lines.str(), "");
  EXPECT_EQ(reused.image_indices, redetected.image_indices);
  ASSERT_EQ(reused.camera_T_target_list.size(), images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    EXPECT_EQ(cv::norm(reused.camera_T_target_list[i], redetected.camera_T_target_list[i], cv::NORM_INF), 0.0);
  }
}
