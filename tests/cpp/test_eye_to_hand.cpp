#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/eye_to_hand_calibrator.hpp"
#include "vemo/core/report_output.hpp"
#include "vemo/tf/tf.hpp"

using vemo::calibration::EyeToHandCalibrator;
using vemo::tf::poseToTransformationMatrix;

// The run solves on inverted flange poses; the result must still hold the caller's own
// matrices, bit for bit, and not the inverse of their inverse.
TEST(EyeToHandCalibrator, KeepsTheCallersFlangePosesNotTheirDoubleInverse) {
  const cv::Mat base_T_camera = poseToTransformationMatrix({0.8, -0.2, 1.1, 170.0, 5.0, 30.0});
  const cv::Mat tcp_T_target = poseToTransformationMatrix({0.01, 0.02, 0.12, 0.0, 0.0, 15.0});
  std::vector<cv::Mat> robot_T_tcp_list, camera_T_target_list;
  for (int i = 0; i < 8; ++i) {
    const cv::Mat robot_T_tcp = poseToTransformationMatrix(
        {0.5 + 0.03 * i, -0.1 + 0.02 * i, 0.4 - 0.01 * i, 180.0 + 10.0 * (i % 3), 8.0 * (i % 4), 15.0 * i});
    robot_T_tcp_list.push_back(robot_T_tcp);
    camera_T_target_list.push_back(base_T_camera.inv() * robot_T_tcp * tcp_T_target);
  }

  std::string report;
  vemo::report::setSink([&report](const std::string& text) { report += text; });
  EyeToHandCalibrator calibrator(vemo::ChessboardTarget{{9, 6}, 0.025}, {});
  const auto result = calibrator.calibrate(robot_T_tcp_list, {}, "TSAI", camera_T_target_list);
  vemo::report::setSink({});

  ASSERT_TRUE(result.ok);
  EXPECT_LT(cv::norm(result.base_T_camera, base_T_camera, cv::NORM_INF), 1e-9);
  ASSERT_EQ(result.valid_robot_T_tcp_list.size(), robot_T_tcp_list.size());
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    EXPECT_EQ(cv::norm(result.valid_robot_T_tcp_list[i], robot_T_tcp_list[i], cv::NORM_INF), 0.0) << "capture " << i;
  }
}
