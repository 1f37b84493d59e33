#pragma once

// Inside the benchmark: the evaluation detection of each image, made once per run however
// many steps evaluate the image, and the error measures built on it.

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/targets/target_detection.hpp"

namespace vemo::quality::benchmark {

// The detector of CalibrationBenchmark::reprojectionErrorInputs.
TargetDetector evaluationDetector(const Target& target);

class EvaluationViews {
 public:
  EvaluationViews(const std::vector<cv::Mat>& images, const Target& target);

  // The evaluation detection of image `index`, detected on the first request.
  const std::optional<ReprojectionInputs>& at(std::size_t index);

 private:
  const std::vector<cv::Mat>& images_;
  TargetDetector detector_;
  std::vector<std::optional<std::optional<ReprojectionInputs>>> views_;  // outer: detected yet
};

// ||detected - projected||_2 / N of a view projected with camera_T_board, pixels.
double viewError(const ReprojectionInputs& view, const cv::Mat& rvec, const cv::Mat& tvec,
                 const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients);

// The same error after solving the pose with solvePnP; empty for no view, fewer than 4
// points or a failed solve.
std::optional<double> solvedViewError(const std::optional<ReprojectionInputs>& view, const cv::Mat& intrinsic_matrix,
                                      const cv::Mat& distortion_coefficients);

// all_detections, when given: the detections of `images` under `options`, from which each
// fold's training calibration starts instead of detecting its images again.
double crossValidate(EvaluationViews& views, const std::vector<cv::Mat>& images, const Target& target,
                     const calibration::IntrinsicOptions& options, int n_splits, std::uint32_t seed,
                     const calibration::TargetDetections* all_detections);

// The board's base pose comes from the captures (board_robot_poses[i], camera_T_target_list[i]),
// the predictions run over the images and robot_poses.
double handEyeRoundtrip(EvaluationViews& views, std::size_t image_count, const std::vector<cv::Mat>& robot_poses,
                        const cv::Mat& tcp_T_camera, const cv::Mat& intrinsic_matrix,
                        const cv::Mat& distortion_coefficients, const std::vector<cv::Mat>& board_robot_poses,
                        const std::vector<cv::Mat>& camera_T_target_list);

}  // namespace vemo::quality::benchmark
