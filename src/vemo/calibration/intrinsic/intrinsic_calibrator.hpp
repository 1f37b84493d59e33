#pragma once

// Folder calibration/intrinsic/: the options, the corner finding, the solve (here) and
// its uncertainty; the hand-eye and rig calibrations build on it.
//
// Intrinsic calibration of one camera from a batch of BGR images of a target: corner
// detection per target kind, cv::calibrateCamera (or calibrateCameraRO), per-view errors
// and the views within a threshold.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/intrinsic_result.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

class IntrinsicCalibrator {
 public:
  // Stores both unvalidated; bad options surface when a run uses them.
  IntrinsicCalibrator(Target target, IntrinsicOptions options);

  // Finds the target in every image (BGR, 3 or 4 channels; OpenCV throws for others).
  // Images without the target are skipped with a warning line. Pure: the calibrator keeps
  // nothing. Throws std::invalid_argument for an unknown chessboard_corner_detector when
  // the first image of a chessboard batch is processed.
  TargetDetections findCorners(const std::vector<cv::Mat>& images) const;

  // findCorners, stores the detections (clearing the stored view poses), then solve.
  IntrinsicResult calibrate(const std::vector<cv::Mat>& images);

  // calibrate with the detections of `images` already made (findCorners, or
  // selectDetections of a larger batch, under options that detect alike): logs the
  // warnings their detection logged, stores them and solves, as calibrate would.
  IntrinsicResult calibrateWithDetections(const std::vector<cv::Mat>& images, TargetDetections detections);

  // Solves from the stored detections; images only give the image size (of the first
  // image, whether or not the target was found in it). Too little data is not an error:
  // the result's ok is false. Throws std::invalid_argument for an unknown
  // calibrate_camera_method (not for ChArUco targets) or when images is empty while
  // detections are stored; OpenCV's errors from the solver pass through.
  IntrinsicResult solve(const std::vector<cv::Mat>& images);

  // Mean over the stored views of ||detected - projected||_2 / N, pixels, projecting with
  // the view poses of the last solve and the given camera matrix (3x3) and distortion.
  // Throws std::invalid_argument when no solve has left a pose for every stored view.
  double meanReprojectionError(const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const;

  // Per stored view, detected minus projected corner positions: N x 2 CV_64F, pixels, in
  // the order of the view's points, with the view poses of the last solve. Throws as
  // meanReprojectionError.
  std::vector<cv::Mat> reprojectionResiduals(const cv::Mat& intrinsic_matrix,
                                             const cv::Mat& distortion_coefficients) const;

  const Target& target() const { return target_; }
  const IntrinsicOptions& options() const { return options_; }
  // Detections of the last calibrate; empty before the first.
  const TargetDetections& detections() const { return detections_; }
  // The annotated images of the last calibrate, drawn now if not yet drawn.
  std::vector<cv::Mat> cornerImages() const { return detections_.annotated_images; }

 private:
  Target target_;
  IntrinsicOptions options_;
  TargetDetections detections_;
  std::vector<cv::Mat> rotation_vectors_;     // per stored view, 3x1 CV_64F, from the last solve
  std::vector<cv::Mat> translation_vectors_;  // per stored view, 3x1 CV_64F, metres
};

}  // namespace vemo::calibration
