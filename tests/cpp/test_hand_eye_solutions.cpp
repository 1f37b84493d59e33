// The solutions a run's verdict and the cross-method comparison share: each must be the
// solve it stands for, bit for bit, however often and by whom it is asked for.

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <stdexcept>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/targets/targets.hpp"
#include "vemo/tf/tf.hpp"

namespace {

const vemo::ChessboardTarget kBoard{cv::Size(9, 6), 0.03};

// Six captures of the board, the robot poses 2 mm and 0.2 degrees off the exact chain, so
// that the methods' solutions differ from each other.
void captures(std::vector<cv::Mat>& robot_T_tcp_list, std::vector<cv::Mat>& camera_T_target_list) {
  const cv::Mat tcp_T_camera = vemo::tf::poseToTransformationMatrix({0.03, -0.05, 0.1, 4.0, -3.0, 88.0});
  const cv::Mat base_T_target = vemo::tf::poseToTransformationMatrix({0.6, 0.05, 0.02, 180.0, 0.0, 15.0});
  const cv::Point3d centre = vemo::synthetic::targetCentre(kBoard);
  const std::vector<std::pair<cv::Point3d, double>> views{{{0.0, 0.0, -0.45}, 0.0},    {{0.25, 0.0, -0.38}, 30.0},
                                                          {{0.0, 0.25, -0.38}, -30.0}, {{-0.25, 0.0, -0.38}, 50.0},
                                                          {{0.0, -0.25, -0.38}, -10.0}, {{0.2, 0.2, -0.4}, 70.0}};
  double sign = 1.0;
  for (const auto& [offset, roll_deg] : views) {
    const cv::Mat camera_T_target = vemo::synthetic::cameraTTargetLookingAt(kBoard, centre + offset, roll_deg);
    const cv::Mat robot_error = vemo::tf::poseToTransformationMatrix({0.002 * sign, 0.0, 0.0, 0.0, 0.2 * sign, 0.0});
    camera_T_target_list.push_back(camera_T_target);
    robot_T_tcp_list.push_back(base_T_target * camera_T_target.inv() * tcp_T_camera.inv() * robot_error);
    sign = -sign;
  }
}

TEST(HandEyeSolutions, EachMethodsSolutionIsItsOwnSolveAndCallersCannotChangeIt) {
  std::vector<cv::Mat> robot_T_tcp_list, camera_T_target_list;
  captures(robot_T_tcp_list, camera_T_target_list);
  vemo::calibration::HandEyeSolutions solutions(robot_T_tcp_list, camera_T_target_list);
  for (int round = 0; round < 2; ++round) {
    for (const auto& [name, method] : vemo::calibration::handEyeMethodByNameMap()) {
      cv::Mat solution = solutions.solution(method);
      const cv::Mat direct =
          vemo::calibration::solveHandEyeEquation(robot_T_tcp_list, camera_T_target_list, method);
      ASSERT_EQ(solution.size(), cv::Size(4, 4)) << name;
      EXPECT_EQ(cv::norm(solution, direct, cv::NORM_INF), 0.0) << name << " round " << round;
      solution.at<double>(0, 3) += 1.0;  // a caller's result, changed in place
    }
  }
  // The methods do differ on these captures: a solution handed out under the wrong method shows.
  EXPECT_GT(cv::norm(solutions.solution(cv::CALIB_HAND_EYE_ANDREFF), solutions.solution(cv::CALIB_HAND_EYE_TSAI),
                     cv::NORM_INF),
            1e-6);
  try {
    solutions.solution(99);
    FAIL() << "no exception for a value that is no method";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()), "HandEyeSolutions::solution: unknown hand-eye method 99");
  }
}

TEST(HandEyeSolutions, ASolveThatThrewThrowsAgainAtEveryRequest) {
  std::vector<cv::Mat> robot_T_tcp_list, camera_T_target_list;
  captures(robot_T_tcp_list, camera_T_target_list);
  robot_T_tcp_list.resize(2);  // OpenCV refuses fewer than 3 captures
  camera_T_target_list.resize(2);
  vemo::calibration::HandEyeSolutions solutions(robot_T_tcp_list, camera_T_target_list);
  std::string first_message;
  try {
    solutions.solution(cv::CALIB_HAND_EYE_PARK);
    FAIL() << "no exception";
  } catch (const cv::Exception& error) {
    first_message = error.what();
  }
  try {
    solutions.solution(cv::CALIB_HAND_EYE_PARK);
    FAIL() << "no exception the second time";
  } catch (const cv::Exception& error) {
    EXPECT_EQ(error.what(), first_message);
  }
}

}  // namespace
