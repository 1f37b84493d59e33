#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/tf/tf.hpp"

using vemo::calibration::IntrinsicOptions;
using vemo::quality::BenchmarkResult;
using vemo::quality::CalibrationBenchmark;

namespace {

const vemo::CharucoTarget kBoard(7, 5, 0.04, 0.03, "DICT_5X5_100");

// What a call writes to standard error (the log) and standard output (reports).
struct Output {
  std::string log, reports;
};

template <class Call>
Output captured(Call call) {
  std::ostringstream err, out;
  std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
  std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
  call();
  std::cerr.rdbuf(old_err);
  std::cout.rdbuf(old_out);
  return {err.str(), out.str()};
}

// Ten captures of a fixed board from a flange camera, exact robot poses; the fourth image
// shows no board, so that the folds' training sets skip an image at various positions.
struct Captures {
  std::vector<cv::Mat> images, robot_T_tcp_list;
};

Captures renderedCaptures() {
  const cv::Mat camera = (cv::Mat_<double>(3, 3) << 610, 0, 318, 0, 605, 243, 0, 0, 1);
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.1, 0.04, 0.0, 0.0, 0.0);
  const vemo::synthetic::Renderer renderer(kBoard, camera, distortion, cv::Size(640, 480));
  const cv::Mat tcp_T_camera = vemo::tf::poseToTransformationMatrix({0.03, -0.05, 0.1, 4.0, -3.0, 88.0});
  const cv::Mat robot_T_target = vemo::tf::poseToTransformationMatrix({0.6, 0.05, 0.02, 180.0, 0.0, 15.0});
  const cv::Point3d centre = vemo::synthetic::targetCentre(kBoard);
  Captures captures;
  for (int k = 0; k < 10; ++k) {
    const double angle = k * 2 * CV_PI / 10;
    const cv::Point3d position(centre.x + (0.12 + 0.04 * (k % 3)) * std::cos(angle),
                               centre.y + (0.1 + 0.03 * (k % 2)) * std::sin(angle), -0.45);
    const cv::Mat camera_T_target = vemo::synthetic::cameraTTargetLookingAt(kBoard, position, 12.0 * k - 50.0);
    captures.images.push_back(k == 3 ? cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(128))
                                     : renderer.render(camera_T_target));
    captures.robot_T_tcp_list.push_back(robot_T_target * camera_T_target.inv() * tcp_T_camera.inv());
  }
  return captures;
}

// The round trip written out: the board's base pose averaged over the captures the
// hand-eye run kept, every image's board predicted from it through its robot pose.
double roundtripError(const Captures& captures, const vemo::calibration::HandEyeResult& hand_eye,
                      const vemo::calibration::IntrinsicResult& intrinsics) {
  std::vector<cv::Mat> base_T_boards;
  for (std::size_t i = 0; i < hand_eye.camera_T_target_list.size(); ++i) {
    base_T_boards.push_back(hand_eye.valid_robot_T_tcp_list[i] * hand_eye.tcp_T_camera * hand_eye.camera_T_target_list[i]);
  }
  const cv::Mat base_T_board = vemo::tf::averagePose(base_T_boards);
  double sum = 0.0;
  int frames = 0;
  for (std::size_t i = 0; i < captures.images.size(); ++i) {
    const auto view = CalibrationBenchmark().reprojectionErrorInputs(captures.images[i], kBoard);
    if (!view) continue;
    const cv::Mat camera_T_board = hand_eye.tcp_T_camera.inv() * captures.robot_T_tcp_list[i].inv() * base_T_board;
    cv::Mat rvec, projected;
    cv::Rodrigues(camera_T_board(cv::Rect(0, 0, 3, 3)), rvec);
    cv::projectPoints(view->second, rvec, camera_T_board(cv::Rect(3, 0, 1, 3)).clone(), intrinsics.intrinsic_matrix,
                      intrinsics.distortion_coefficients, projected);
    double squares = 0.0;
    for (int p = 0; p < view->first.rows; ++p) {
      const cv::Point2f detected = view->first.at<cv::Point2f>(p), predicted = projected.at<cv::Point2f>(p);
      squares += (detected.x - predicted.x) * (detected.x - predicted.x) +
                 (detected.y - predicted.y) * (detected.y - predicted.y);
    }
    sum += std::sqrt(squares) / view->first.rows;
    ++frames;
  }
  return sum / frames;
}

}  // namespace

// run shares detections between its steps; its log, reports and numbers must be those of
// the steps run one by one, each detecting for itself.
TEST(BenchmarkRun, SharingDetectionsChangesNoLogLineReportOrNumber) {
  const Captures captures = renderedCaptures();
  const IntrinsicOptions options;
  CalibrationBenchmark benchmark;

  BenchmarkResult shared;
  const Output shared_output = captured([&] {
    shared = benchmark.run(captures.images, kBoard, options, captures.robot_T_tcp_list, options, "rendered", 3, 7);
  });

  double held_out = 0.0, roundtrip = 0.0;
  vemo::calibration::IntrinsicResult full;
  const Output independent_output = captured([&] {
    vemo::logging::log(vemo::logging::Level::Info, "[Benchmark] Running backend: rendered");
    full = vemo::calibration::IntrinsicCalibrator(kBoard, options).calibrate(captures.images);
    held_out = benchmark.crossValidate(captures.images, kBoard, options, 3, 7);
    vemo::calibration::EyeInHandCalibrator eye_in_hand(kBoard, options);
    const auto hand_eye = eye_in_hand.calibrate(captures.robot_T_tcp_list, captures.images, "TSAI");
    roundtrip = roundtripError(captures, hand_eye, full);
    vemo::logging::log(vemo::logging::Level::Info, "[Benchmark] rendered: rpe=" + std::to_string(full.reprojection_error) +
                                                       "px  held-out=" + std::to_string(held_out) +
                                                       "px  roundtrip=" + std::to_string(roundtrip));
  });

  EXPECT_EQ(shared_output.log, independent_output.log);
  EXPECT_EQ(shared_output.reports, independent_output.reports);
  EXPECT_EQ(shared.reprojection_error, full.reprojection_error);
  EXPECT_EQ(shared.held_out_reprojection_error, held_out);
  EXPECT_NEAR(shared.hand_eye_roundtrip_error, roundtrip, 1e-9);  // computed here in another order
  EXPECT_EQ(cv::norm(shared.camera_matrix, full.intrinsic_matrix, cv::NORM_INF), 0.0);
  // The blank image was skipped by the full calibration, by the eye-in-hand run and by the
  // folds that trained on it, at its position in their training lists.
  std::size_t skips = 0;
  for (std::size_t at = 0; (at = shared_output.log.find("Not enough ChArUco corners in image", at)) != std::string::npos;
       ++at) {
    ++skips;
  }
  EXPECT_EQ(skips, 4u);  // full, eye-in-hand, and two of the three folds
  EXPECT_GT(held_out, 0.0);
  EXPECT_LT(held_out, 0.2);
  EXPECT_LT(roundtrip, 0.2);
}
