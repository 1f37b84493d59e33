// CalibrationBenchmark::run: the full calibration, the cross-validation and the round trip.

#include <stdexcept>

#include "vemo/calibration/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/intrinsic_calibrator.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/evaluation_views.hpp"
#include "vemo/evaluation/utc_timestamp.hpp"

namespace vemo::quality {

BenchmarkResult CalibrationBenchmark::run(const std::vector<cv::Mat>& images, const Target& target,
                                          const calibration::IntrinsicOptions& options,
                                          const std::vector<cv::Mat>& robot_poses,
                                          const std::optional<calibration::IntrinsicOptions>& eye_in_hand_options,
                                          const std::string& backend_name, int n_splits, std::uint32_t seed) {
  logging::log(logging::Level::Info, "[Benchmark] Running backend: " + backend_name);
  calibration::IntrinsicCalibrator calibrator(target, options);
  const calibration::IntrinsicResult full = calibrator.calibrate(images);
  if (!full.ok) throw std::runtime_error("[Benchmark] " + backend_name + " calibration failed.");

  // The cross-validation and the round trip evaluate the same images with the same detection.
  benchmark::EvaluationViews views(images, target);
  const double held_out = benchmark::crossValidate(views, images, target, options, n_splits, seed);

  // The eye-in-hand run calibrates its own intrinsics with its own options; the round trip
  // projects with the full calibration's.
  double roundtrip = -1.0;
  if (!robot_poses.empty() && eye_in_hand_options) {
    calibration::EyeInHandCalibrator eye_in_hand(target, *eye_in_hand_options);
    const calibration::HandEyeResult hand_eye = eye_in_hand.calibrate(robot_poses, images, "TSAI");
    if (hand_eye.ok && !hand_eye.tcp_T_camera.empty()) {
      roundtrip = benchmark::handEyeRoundtrip(views, images.size(), robot_poses, hand_eye.tcp_T_camera,
                                              full.intrinsic_matrix, full.distortion_coefficients,
                                              hand_eye.camera_T_target_list);
    }
  }

  BenchmarkResult result;
  result.backend_name = backend_name;
  result.reprojection_error = full.reprojection_error;
  result.held_out_reprojection_error = held_out;
  result.hand_eye_roundtrip_error = roundtrip;
  result.camera_matrix = full.intrinsic_matrix;
  result.dist_coeffs = full.distortion_coefficients;
  result.timestamp = utcTimestamp();
  result.image_count = static_cast<int>(images.size());

  logging::log(logging::Level::Info, "[Benchmark] " + backend_name + ": rpe=" + std::to_string(full.reprojection_error) +
                                         "px  held-out=" + std::to_string(held_out) + "px  roundtrip=" +
                                         (roundtrip < 0 ? std::string("n/a") : std::to_string(roundtrip)));
  return result;
}

}  // namespace vemo::quality
