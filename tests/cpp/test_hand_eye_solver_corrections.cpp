// Where no correction of OpenCV's hand-eye solvers applies (every motion between captures
// turns by 17 to 116 degrees), the library's own solvers give OpenCV's results to rounding;
// the corrected results are checked against the cv2 wheel in the Python tests.

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <random>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/targets/targets.hpp"
#include "vemo/tf/tf.hpp"

namespace {

const vemo::ChessboardTarget kBoard{cv::Size(9, 6), 0.03};
const cv::Mat kTcpTCamera = vemo::tf::poseToTransformationMatrix({0.032, -0.047, 0.105, 4.0, -3.0, 88.0});
const cv::Mat kBaseTTarget = vemo::tf::poseToTransformationMatrix({0.62, 0.05, 0.02, 180.0, 0.0, 15.0});

cv::Mat openCvSolution(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& camera_T_target_list,
                       int method) {
  std::vector<cv::Mat> r_robot, t_robot, r_camera, t_camera;
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    r_robot.push_back(robot_T_tcp_list[i](cv::Rect(0, 0, 3, 3)).clone());
    t_robot.push_back(robot_T_tcp_list[i](cv::Rect(3, 0, 1, 3)).clone());
    r_camera.push_back(camera_T_target_list[i](cv::Rect(0, 0, 3, 3)).clone());
    t_camera.push_back(camera_T_target_list[i](cv::Rect(3, 0, 1, 3)).clone());
  }
  cv::Mat rotation, translation;
  cv::calibrateHandEye(r_robot, t_robot, r_camera, t_camera, rotation, translation,
                       static_cast<cv::HandEyeCalibrationMethod>(method));
  cv::Mat solution = cv::Mat::eye(4, 4, CV_64F);
  rotation.copyTo(solution(cv::Rect(0, 0, 3, 3)));
  translation.copyTo(solution(cv::Rect(3, 0, 1, 3)));
  return solution;
}

double rotationAngleDeg(const cv::Mat& a, const cv::Mat& b) {
  const cv::Mat relative = a(cv::Rect(0, 0, 3, 3)).t() * b(cv::Rect(0, 0, 3, 3));
  return std::acos(std::min(1.0, (cv::trace(relative)[0] - 1.0) / 2.0)) * 180.0 / CV_PI;
}

TEST(HandEyeSolverCorrections, WithEveryMotionInformativeEachSolverIsOpenCvsToRounding) {
  // Five views of the board from around its normal, rolled apart, with a robot's noise.
  const cv::Point3d centre = vemo::synthetic::targetCentre(kBoard);
  const std::vector<std::pair<cv::Point3d, double>> views{
      {{0.0, 0.0, -0.45}, 0.0},   {{0.25, 0.0, -0.38}, 30.0},  {{0.0, 0.25, -0.38}, -30.0},
      {{-0.25, 0.0, -0.38}, 50.0}, {{0.0, -0.25, -0.38}, -10.0}};
  std::mt19937 random(3);
  std::normal_distribution<double> unit(0.0, 1.0);
  std::vector<cv::Mat> robot_T_tcp_list, camera_T_target_list;
  for (const auto& [offset, roll_deg] : views) {
    const cv::Mat camera_T_target = vemo::synthetic::cameraTTargetLookingAt(kBoard, centre + offset, roll_deg);
    const cv::Mat noise = vemo::tf::poseToTransformationMatrix(
        {1e-4 * unit(random), 1e-4 * unit(random), 1e-4 * unit(random), 0.01 * unit(random), 0.01 * unit(random),
         0.01 * unit(random)});
    camera_T_target_list.push_back(camera_T_target);
    robot_T_tcp_list.push_back(kBaseTTarget * camera_T_target.inv() * kTcpTCamera.inv() * noise);
  }
  for (std::size_t i = 0; i < views.size(); ++i) {
    for (std::size_t j = i + 1; j < views.size(); ++j) {
      const double angle = rotationAngleDeg(camera_T_target_list[i], camera_T_target_list[j]);
      ASSERT_GT(angle, 17.5) << i << " " << j;
      ASSERT_LT(angle, 116.0) << i << " " << j;
    }
  }

  for (const auto& [name, method] : vemo::calibration::handEyeMethodByNameMap()) {
    const cv::Mat solution =
        vemo::calibration::solveHandEyeEquation(robot_T_tcp_list, camera_T_target_list, method);
    EXPECT_LT(cv::norm(solution, openCvSolution(robot_T_tcp_list, camera_T_target_list, method), cv::NORM_INF), 1e-13)
        << name;
    // Five noisy captures: ANDREFF's linear formulation is centimetres off, the others within a millimetre.
    EXPECT_LT(cv::norm(solution(cv::Rect(3, 0, 1, 3)) - kTcpTCamera(cv::Rect(3, 0, 1, 3))),
              name == "ANDREFF" ? 0.02 : 0.001)
        << name;
  }
}

TEST(HandEyeSolverCorrections, ParkAndAndreffEqualOpenCvsOnManyNoisyCaptures) {
  // 60 captures (1770 pairs) of random poses, the camera's disturbed by up to centimetres:
  // the pairs' rows folded one at a time must give the solution of OpenCV's whole system.
  std::mt19937 random(11);
  std::normal_distribution<double> unit(0.0, 1.0);
  const auto randomPose = [&](double degrees, double metres) {
    return vemo::tf::poseToTransformationMatrix({metres * unit(random), metres * unit(random), metres * unit(random),
                                                 degrees * unit(random), degrees * unit(random),
                                                 degrees * unit(random)});
  };
  for (const double noise : {0.0, 1e-3, 2e-2}) {
    std::vector<cv::Mat> robot_T_tcp_list, camera_T_target_list;
    for (int i = 0; i < 60; ++i) {
      const cv::Mat robot_T_tcp = randomPose(35.0, 0.3);
      robot_T_tcp_list.push_back(robot_T_tcp);
      camera_T_target_list.push_back((robot_T_tcp * kTcpTCamera).inv() * kBaseTTarget *
                                     randomPose(57.3 * noise, noise / 2.0));
    }
    for (const int method : {cv::CALIB_HAND_EYE_PARK, cv::CALIB_HAND_EYE_ANDREFF}) {
      const cv::Mat solution = vemo::calibration::solveHandEyeEquation(robot_T_tcp_list, camera_T_target_list, method);
      EXPECT_LT(cv::norm(solution, openCvSolution(robot_T_tcp_list, camera_T_target_list, method), cv::NORM_INF),
                1e-12)
          << method << " " << noise;
    }
  }
}

}  // namespace
