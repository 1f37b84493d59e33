#pragma once

// A camera and a spread of poses for tests that need rendered views with known geometry.

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include <vector>

#include "vemo/synthetic/poses.hpp"

namespace vemo::test_views {

// 1280 x 960, principal point off centre, moderate barrel distortion with tangential terms.
inline cv::Mat testCameraMatrix() {
  return (cv::Mat_<double>(3, 3) << 1010.0, 0, 641.3, 0, 1005.0, 478.9, 0, 0, 1);
}
inline cv::Mat testDistCoeffs() { return (cv::Mat_<double>(1, 5) << -0.18, 0.07, 0.0008, -0.0006, -0.01); }
inline cv::Size testImageSize() { return {1280, 960}; }

// Views from the front, above, below and both sides, each with its own roll, at distances
// where the board fills roughly a third to a half of the image.
inline std::vector<cv::Mat> testViews(const Target& target, double distance) {
  const cv::Point3d centre = synthetic::targetCentre(target);
  const double offsets[][3] = {{0, 0, 0}, {0.35, 0.1, 15}, {-0.3, 0.2, -25}, {0.1, -0.35, 40}, {-0.2, -0.2, -60}};
  std::vector<cv::Mat> views;
  for (const auto& offset : offsets) {
    const cv::Point3d position(centre.x + offset[0] * distance, centre.y + offset[1] * distance, -distance);
    views.push_back(synthetic::cameraTTargetLookingAt(target, position, offset[2]));
  }
  return views;
}

// Board points projected with cv::projectPoints through the test camera.
inline std::vector<cv::Point2f> projectBoardPoints(const std::vector<cv::Point3f>& points, const cv::Mat& camera_T_target) {
  cv::Mat rvec;
  cv::Rodrigues(camera_T_target(cv::Rect(0, 0, 3, 3)), rvec);
  const cv::Mat tvec = camera_T_target(cv::Rect(3, 0, 1, 3)).clone();
  std::vector<cv::Point2f> projected;
  cv::projectPoints(points, rvec, tvec, testCameraMatrix(), testDistCoeffs(), projected);
  return projected;
}

}  // namespace vemo::test_views
