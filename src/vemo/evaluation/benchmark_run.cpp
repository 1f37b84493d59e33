// CalibrationBenchmark::run: the full calibration, the cross-validation and the round trip.

#include <limits>
#include <optional>
#include <stdexcept>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/calibration/intrinsic/target_corner_finders.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/cross_validation_folds.hpp"
#include "vemo/evaluation/evaluation_views.hpp"
#include "vemo/evaluation/utc_timestamp.hpp"

namespace vemo::quality {

namespace {

// Mean over every image of its error with the given intrinsics and its own solved pose,
// pixels; +inf with a warning when no image gave one.
double meanSolvedViewError(benchmark::EvaluationViews& views, std::size_t image_count, const cv::Mat& intrinsic_matrix,
                           const cv::Mat& distortion_coefficients) {
  double sum = 0.0;
  int count = 0;
  for (std::size_t index = 0; index < image_count; ++index) {
    if (const std::optional<double> error =
            benchmark::solvedViewError(views.at(index), intrinsic_matrix, distortion_coefficients)) {
      sum += *error;
      ++count;
    }
  }
  if (count == 0) {
    logging::log(logging::Level::Warning, "[Benchmark] no image gave an error with the given intrinsics.");
    return std::numeric_limits<double>::infinity();
  }
  return sum / count;
}

}  // namespace

BenchmarkResult CalibrationBenchmark::run(const std::vector<cv::Mat>& images, const Target& target,
                                          const calibration::IntrinsicOptions& options,
                                          const std::vector<cv::Mat>& robot_poses,
                                          const std::optional<calibration::IntrinsicOptions>& eye_in_hand_options,
                                          const std::string& backend_name, int n_splits, std::uint32_t seed,
                                          const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) {
  checkSplitCount("CalibrationBenchmark::run", n_splits);
  logging::log(logging::Level::Info, "[Benchmark] Running backend: " + backend_name);
  benchmark::EvaluationViews views(images, target);
  calibration::IntrinsicCalibrator calibrator(target, options);
  const bool given = !intrinsic_matrix.empty();
  calibration::IntrinsicResult full;
  double held_out = 0.0;
  if (given) {
    // Calibrated elsewhere: no fold to train, every image is measured as a held-out one.
    full.intrinsic_matrix = intrinsic_matrix;
    full.distortion_coefficients = distortion_coefficients;
    full.reprojection_error = held_out = meanSolvedViewError(views, images.size(), intrinsic_matrix,
                                                             distortion_coefficients);
  } else {
    full = calibrator.calibrate(images);
    if (!full.ok) throw std::runtime_error("[Benchmark] " + backend_name + " calibration failed.");
    // Each step detects an image as any other step with the same settings does, so each
    // image is detected once per settings: the folds' training calibrations start from the
    // full calibration's detections, and the cross-validation and the round trip share the
    // evaluation detection.
    held_out = benchmark::crossValidate(views, images, target, options, n_splits, seed, &calibrator.detections());
  }

  // The eye-in-hand run calibrates its own intrinsics with its own options (from the same
  // detections only when those options detect alike), or holds the given ones; the round
  // trip projects with the full calibration's intrinsics or the given ones.
  double roundtrip = -1.0;
  if (!robot_poses.empty() && eye_in_hand_options) {
    calibration::EyeInHandCalibrator eye_in_hand(target, *eye_in_hand_options);
    const bool shared = !given && calibration::detectsAlike(options, *eye_in_hand_options);
    const calibration::HandEyeResult hand_eye = eye_in_hand.solvePreparedCaptures(
        eye_in_hand.prepareCaptures(robot_poses, images, {}, intrinsic_matrix, distortion_coefficients,
                                    shared ? &calibrator.detections() : nullptr),
        "TSAI");
    if (hand_eye.ok && !hand_eye.tcp_T_camera.empty()) {
      // The board's base pose from the captures the hand-eye run kept, each robot pose with
      // its own target pose: the whole robot list would pair them wrongly, or not at all, as
      // soon as the run left out one image.
      roundtrip = benchmark::handEyeRoundtrip(views, images.size(), robot_poses, hand_eye.tcp_T_camera,
                                              full.intrinsic_matrix, full.distortion_coefficients,
                                              hand_eye.valid_robot_T_tcp_list, hand_eye.camera_T_target_list);
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
