// Time of the joint hand-eye refinement for 30 captures of a 28 x 17 corner board against
// one closed-form solve (cv::calibrateHandEye, TSAI) on the same captures. Corners are
// projected from known geometry with 0.5 px noise and the robot poses carry 0.05 mm and
// 0.005 degrees of noise, so that the refinement also estimates the robot's share. Wall
// times swing on a shared machine, so the process's CPU time is shown too.

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/targets/targets.hpp"
#include "vemo/tf/tf.hpp"

#include "timing.hpp"

using vemo::bench::median;
using vemo::bench::Timing;

int main() {
  const vemo::ChessboardTarget board{cv::Size(28, 17), 0.012};
  const cv::Mat camera = (cv::Mat_<double>(3, 3) << 1800, 0, 1012, 0, 1800, 760, 0, 0, 1);
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.08, 0.06, 0.0004, -0.0003, -0.01);
  const cv::Mat tcp_T_camera = vemo::tf::poseToTransformationMatrix({0.032, -0.047, 0.105, 4.0, -3.0, 88.0});
  const cv::Mat base_T_target = vemo::tf::poseToTransformationMatrix({0.62, 0.05, 0.02, 180.0, 0.0, 15.0});
  const cv::Point3d centre = vemo::synthetic::targetCentre(board);
  const int captures = 30;

  std::mt19937 random(7);
  std::normal_distribution<double> unit(0.0, 1.0);
  std::uniform_real_distribution<double> spread(-1.0, 1.0);
  vemo::calibration::HandEyeRefinementInput input;
  std::vector<cv::Mat> camera_T_target_list;
  for (int k = 0; k < captures; ++k) {
    const double azimuth = 2 * vemo::tf::kPi * k / captures;
    const double tilt = vemo::tf::radiansFromDegrees(23.5 + 11.5 * spread(random));
    const double reach = 0.5 * (1.0 + 0.1 * spread(random));
    const cv::Point3d offset(reach * std::sin(tilt) * std::cos(azimuth), reach * std::sin(tilt) * std::sin(azimuth),
                             -reach * std::cos(tilt));
    const cv::Mat camera_T_target = vemo::synthetic::cameraTTargetLookingAt(board, centre + offset, 45 * spread(random));
    const cv::Mat noise = vemo::tf::poseToTransformationMatrix(
        {5e-5 * unit(random), 5e-5 * unit(random), 5e-5 * unit(random), 0.005 * unit(random), 0.005 * unit(random),
         0.005 * unit(random)});
    input.robot_T_tcp_list.push_back(base_T_target * camera_T_target.inv() * tcp_T_camera.inv() * noise);
    cv::Mat rvec, tvec, image_points;
    vemo::tf::transformationMatrixToRvecTvec(camera_T_target, rvec, tvec);
    cv::projectPoints(board.objectPoints(), rvec, tvec, camera, distortion, image_points);
    for (int j = 0; j < image_points.rows; ++j) {
      image_points.at<cv::Vec2f>(j) += cv::Vec2f(static_cast<float>(0.5 * unit(random)), static_cast<float>(0.5 * unit(random)));
    }
    cv::solvePnP(board.objectPoints(), image_points, camera, distortion, rvec, tvec);
    camera_T_target_list.push_back(vemo::tf::rvecTvecToTransformationMatrix(rvec, tvec));
    input.corners.push_back({board.objectPoints(), image_points});
  }
  input.intrinsic_matrix = camera;
  input.distortion_coefficients = distortion;
  input.tcp_T_camera =
      vemo::calibration::solveHandEyeEquation(input.robot_T_tcp_list, camera_T_target_list, cv::CALIB_HAND_EYE_TSAI);
  std::vector<cv::Mat> base_T_targets;
  for (int k = 0; k < captures; ++k) {
    base_T_targets.push_back(input.robot_T_tcp_list[k] * input.tcp_T_camera * camera_T_target_list[k]);
  }
  input.base_T_target = vemo::tf::averagePose(base_T_targets);

  vemo::calibration::HandEyeRefinement refinement;
  const Timing closed_form = median(21, [&] {
    vemo::calibration::solveHandEyeEquation(input.robot_T_tcp_list, camera_T_target_list, cv::CALIB_HAND_EYE_TSAI);
  });
  const Timing refine = median(5, [&] { refinement = vemo::calibration::refineHandEye(input); });
  vemo::calibration::HandEyeRefinementOptions with_intrinsics;
  with_intrinsics.refine_intrinsics = true;
  const Timing refine_intrinsics = median(3, [&] { vemo::calibration::refineHandEye(input, with_intrinsics); });

  std::printf("Hand-eye refinement, %d captures of %d x %d corners (%zu corners), %d iterations\n", captures,
              board.size.width, board.size.height, refinement.corner_count, refinement.iterations);
  std::printf("  %-38s %10s %10s %10s\n", "", "wall ms", "cpu ms", "x closed");
  const auto row = [&](const char* name, const Timing& timing) {
    std::printf("  %-38s %10.2f %10.2f %10.0f\n", name, timing.wall_ms, timing.cpu_ms, timing.cpu_ms / closed_form.cpu_ms);
  };
  row("closed form (calibrateHandEye, TSAI)", closed_form);
  row("refinement, intrinsics held fixed", refine);
  row("refinement, intrinsics refined", refine_intrinsics);
  std::printf("  translation error: closed form %.4f mm, refined %.4f mm\n",
              1000 * cv::norm(vemo::tf::translationOf(input.tcp_T_camera), vemo::tf::translationOf(tcp_T_camera)),
              1000 * cv::norm(vemo::tf::translationOf(refinement.tcp_T_camera), vemo::tf::translationOf(tcp_T_camera)));
  return 0;
}
