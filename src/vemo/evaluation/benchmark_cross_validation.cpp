// CalibrationBenchmark: held-out reprojection error over seeded k folds.

#include <limits>

#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/calibration/intrinsic/target_corner_finders.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/cross_validation_folds.hpp"
#include "vemo/evaluation/evaluation_views.hpp"

namespace vemo::quality {

namespace benchmark {

namespace {

// A calibration needs at least this many training views to be worth holding anything out for.
constexpr std::size_t kMinimumTrainingImages = 4;

}  // namespace

double crossValidate(EvaluationViews& views, const std::vector<cv::Mat>& images, const Target& target,
                     const calibration::IntrinsicOptions& options, int n_splits, std::uint32_t seed,
                     const calibration::TargetDetections* all_detections) {
  double sum = 0.0;
  std::size_t count = 0;
  for (const CrossValidationFold& fold : crossValidationFolds(images.size(), n_splits, seed)) {
    if (fold.training.size() < kMinimumTrainingImages) continue;
    std::vector<cv::Mat> training;
    for (int index : fold.training) training.push_back(images[static_cast<std::size_t>(index)]);
    calibration::IntrinsicCalibrator calibrator(target, options);
    const calibration::IntrinsicResult result =
        all_detections ? calibrator.calibrateWithDetections(training,
                                                            calibration::selectDetections(*all_detections, fold.training))
                       : calibrator.calibrate(training);
    if (!result.ok) continue;
    for (int index : fold.held_out) {
      if (const std::optional<double> error = solvedViewError(views.at(static_cast<std::size_t>(index)),
                                                              result.intrinsic_matrix,
                                                              result.distortion_coefficients)) {
        sum += *error;
        ++count;
      }
    }
  }
  if (count == 0) {
    logging::log(logging::Level::Warning, "[Benchmark] cross_validate: no held-out errors computed.");
    return std::numeric_limits<double>::infinity();
  }
  return sum / static_cast<double>(count);
}

}  // namespace benchmark

double CalibrationBenchmark::crossValidate(const std::vector<cv::Mat>& images, const Target& target,
                                           const calibration::IntrinsicOptions& options, int n_splits,
                                           std::uint32_t seed) const {
  checkSplitCount("CalibrationBenchmark::crossValidate", n_splits);
  benchmark::EvaluationViews views(images, target);
  return benchmark::crossValidate(views, images, target, options, n_splits, seed, nullptr);
}

}  // namespace vemo::quality
