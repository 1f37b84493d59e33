#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"

#include <opencv2/calib3d.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/calibration/intrinsic/calibration_uncertainty.hpp"
#include "vemo/calibration/intrinsic/camera_matrix_check.hpp"
#include "vemo/calibration/intrinsic/intrinsic_verdict.hpp"
#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"
#include "vemo/calibration/intrinsic/target_corner_finders.hpp"
#include "vemo/core/logging.hpp"

namespace vemo::calibration {
namespace {

cv::Mat copyOfGuess(const std::optional<cv::Mat>& guess) { return guess ? guess->clone() : cv::Mat(); }

std::string sizeText(const cv::Size& size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

// One camera model fits one image size: views of another size would be solved as if their
// pixels were this size's, a wrong camera matrix without a word.
void requireOneImageSize(const std::vector<cv::Mat>& images, const std::vector<int>& detected_indices,
                         const cv::Size& image_size) {
  for (int index : detected_indices) {
    const cv::Size size = images.at(static_cast<std::size_t>(index)).size();
    if (size != image_size) {
      throw std::invalid_argument("IntrinsicCalibrator: image " + std::to_string(index) + " is " + sizeText(size) +
                                  " but the first image is " + sizeText(image_size) +
                                  "; every view of one calibration must have the same size");
    }
  }
}

}  // namespace

IntrinsicCalibrator::IntrinsicCalibrator(Target target, IntrinsicOptions options)
    : target_(std::move(target)), options_(std::move(options)) {}

TargetDetections IntrinsicCalibrator::findCorners(const std::vector<cv::Mat>& images) const {
  return findTargetCorners(target_, options_, images);
}

IntrinsicResult IntrinsicCalibrator::calibrate(const std::vector<cv::Mat>& images) {
  detections_ = findCorners(images);
  rotation_vectors_.clear();
  translation_vectors_.clear();
  return solve(images);
}

IntrinsicResult IntrinsicCalibrator::calibrateWithDetections(const std::vector<cv::Mat>& images,
                                                             TargetDetections detections) {
  std::size_t next_view = 0;
  for (std::size_t i = 0; i < images.size(); ++i) {
    const auto& found = detections.successful_indices;
    if (next_view < found.size() && found[next_view] == static_cast<int>(i)) {
      ++next_view;
    } else {
      logSkippedImage(target_, i);
    }
  }
  detections_ = std::move(detections);
  rotation_vectors_.clear();
  translation_vectors_.clear();
  return solve(images);
}

IntrinsicResult IntrinsicCalibrator::solve(const std::vector<cv::Mat>& images) {
  IntrinsicResult result;
  result.successful_indices = detections_.successful_indices;
  result.image_points = detections_.image_points;
  if (detections_.image_points.empty()) {
    logging::log(logging::Level::Warning, "[IntrinsicCalibrator] No corners found. Check the images and try again.");
    warnOfChArUcoLayout(target_, images);
    return result;
  }
  if (images.empty()) {
    throw std::invalid_argument("IntrinsicCalibrator::solve: no images to take the image size from");
  }
  const cv::Size image_size = images.front().size();
  requireOneImageSize(images, detections_.successful_indices, image_size);

  // The solver writes into these; the options' guesses must stay as the caller set them.
  cv::Mat intrinsic_matrix = copyOfGuess(options_.intrinsic_matrix_guess);
  cv::Mat distortion = copyOfGuess(options_.distortion_coefficients_guess);

  bool release_object = false;
  if (!std::holds_alternative<CharucoTarget>(target_)) {
    const std::string& method = options_.calibrate_camera_method;
    if (method == "Release Object") {
      release_object = true;
    } else if (method != "Default") {
      throw std::invalid_argument(
          "IntrinsicCalibrator: calibrate_camera_method must be 'Default' or 'Release Object', got '" + method + "'");
    }
  }

  // Without released object points the deviations and per-view errors come from the
  // solution (calibration_uncertainty.hpp); OpenCV's extended solve, which costs about twice
  // as much, stays for the cases where they are not known to agree with it.
  const bool releases_points = release_object && options_.index_of_fixed_3d_point > 0 &&
                               options_.index_of_fixed_3d_point < detections_.object_points.front().rows - 1;
  const bool sparse = sparseSolveChosen(options_.camera_solver, releases_points, detections_.object_points.size());
  std::optional<CalibrationUncertainty> uncertainty;
  double rms = 0.0;
  if (sparse) {
    rms = calibrateCameraSparse(detections_.object_points, detections_.image_points, image_size, intrinsic_matrix,
                                distortion, rotation_vectors_, translation_vectors_, options_.calibrate_camera_flags,
                                options_.criteria);
    uncertainty = calibrationUncertaintyOrUnknown(detections_.object_points, detections_.image_points,
                                                  intrinsic_matrix, distortion, rotation_vectors_,
                                                  translation_vectors_, options_.calibrate_camera_flags);
  } else if (!releases_points && calibrationUncertaintyMatchesOpenCv(options_.calibrate_camera_flags)) {
    const cv::Mat initial_matrix = intrinsic_matrix.clone(), initial_distortion = distortion.clone();
    if (release_object) {
      rms = cv::calibrateCameraRO(detections_.object_points, detections_.image_points, image_size,
                                  options_.index_of_fixed_3d_point, intrinsic_matrix, distortion, rotation_vectors_,
                                  translation_vectors_, cv::noArray(), options_.calibrate_camera_flags,
                                  options_.criteria);
    } else {
      rms = cv::calibrateCamera(detections_.object_points, detections_.image_points, image_size, intrinsic_matrix,
                                distortion, rotation_vectors_, translation_vectors_, options_.calibrate_camera_flags,
                                options_.criteria);
    }
    if (rms > 0.0) {
      uncertainty = calibrationUncertainty(detections_.object_points, detections_.image_points, intrinsic_matrix,
                                           distortion, rotation_vectors_, translation_vectors_,
                                           options_.calibrate_camera_flags);
    }
    if (!uncertainty) {  // solve again from the same start, asking OpenCV
      intrinsic_matrix = initial_matrix;
      distortion = initial_distortion;
    }
  }
  if (uncertainty) {
    result.std_deviations_intrinsics = uncertainty->std_deviations_intrinsics;
    result.std_deviations_extrinsics = uncertainty->std_deviations_extrinsics;
    result.per_view_errors = std::move(uncertainty->per_view_errors);
  } else {
    cv::Mat per_view_errors;
    if (release_object) {
      cv::Mat new_object_points, std_deviations_object_points;
      rms = cv::calibrateCameraRO(detections_.object_points, detections_.image_points, image_size,
                                  options_.index_of_fixed_3d_point, intrinsic_matrix, distortion, rotation_vectors_,
                                  translation_vectors_, new_object_points, result.std_deviations_intrinsics,
                                  result.std_deviations_extrinsics, std_deviations_object_points, per_view_errors,
                                  options_.calibrate_camera_flags, options_.criteria);
    } else {
      rms = cv::calibrateCamera(detections_.object_points, detections_.image_points, image_size, intrinsic_matrix,
                                distortion, rotation_vectors_, translation_vectors_, result.std_deviations_intrinsics,
                                result.std_deviations_extrinsics, per_view_errors, options_.calibrate_camera_flags,
                                options_.criteria);
    }
    result.per_view_errors.assign(per_view_errors.begin<double>(), per_view_errors.end<double>());
  }
  // Written so that a NaN RMS (from non-finite guesses) is a failure too, not a success.
  if (!(rms > 0.0)) {
    logging::log(logging::Level::Error,
                 "[IntrinsicCalibrator] Camera calibration failed. Check the images and try again.");
    return result;
  }

  for (std::size_t view = 0; view < result.per_view_errors.size(); ++view) {
    if (options_.per_view_error_threshold >= result.per_view_errors[view]) {
      result.low_view_error_indices.push_back(static_cast<int>(view));
    }
  }
  if (result.low_view_error_indices.empty()) {
    logging::log(logging::Level::Warning, "[IntrinsicCalibrator] No view with reprojection error below " +
                                              std::to_string(options_.per_view_error_threshold) +
                                              ". Returning intrinsics anyway with low_view_error_indices=[].");
  }

  result.intrinsic_matrix = intrinsic_matrix;
  result.distortion_coefficients = distortion.reshape(1, 1);
  result.reprojection_error = meanReprojectionError(result.intrinsic_matrix, result.distortion_coefficients);
  result.ok = true;
  result.verdict = judgeIntrinsics(result, target_, detections_);
  return result;
}

double IntrinsicCalibrator::meanReprojectionError(const cv::Mat& intrinsic_matrix,
                                                  const cv::Mat& distortion_coefficients) const {
  const std::vector<cv::Mat> residuals = reprojectionResiduals(intrinsic_matrix, distortion_coefficients);
  double sum = 0.0;
  for (const cv::Mat& view : residuals) sum += cv::norm(view, cv::NORM_L2) / view.rows;
  return sum / static_cast<double>(residuals.size());
}

std::vector<cv::Mat> IntrinsicCalibrator::reprojectionResiduals(const cv::Mat& intrinsic_matrix,
                                                                const cv::Mat& distortion_coefficients) const {
  const std::size_t views = detections_.object_points.size();
  if (views == 0 || rotation_vectors_.size() < views || translation_vectors_.size() < views) {
    throw std::invalid_argument(
        "IntrinsicCalibrator::meanReprojectionError: no solved view poses for the stored detections; run calibrate "
        "first");
  }
  // NaN coefficients would come back as NaN residuals, and a wrong count as OpenCV's text.
  requireCameraMatrix(intrinsic_matrix, "IntrinsicCalibrator::reprojectionResiduals: intrinsic_matrix");
  requireDistortionCoefficients(distortion_coefficients,
                                "IntrinsicCalibrator::reprojectionResiduals: distortion_coefficients");
  std::vector<cv::Mat> residuals(views);
  for (std::size_t i = 0; i < views; ++i) {
    cv::Mat projected, detected;
    cv::projectPoints(detections_.object_points[i], rotation_vectors_[i], translation_vectors_[i], intrinsic_matrix,
                      distortion_coefficients, projected);
    detections_.image_points[i].convertTo(detected, CV_64F);
    projected.convertTo(projected, CV_64F);
    const cv::Mat difference = detected - projected;
    residuals[i] = difference.reshape(1, difference.rows);
  }
  return residuals;
}

}  // namespace vemo::calibration
