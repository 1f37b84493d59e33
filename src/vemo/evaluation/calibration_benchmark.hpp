#pragma once

// How well a calibration backend does on a data set: the reprojection error of a full
// intrinsic calibration, the held-out error of a seeded k-fold cross-validation and, with
// robot poses, a hand-eye round trip that predicts every view's target pose from the
// hand-eye result. Stateless: every operation is a function of its arguments.
//
// In evaluation/, the part of vemo::quality that runs calibrations (see
// hand_eye_method_comparison.hpp), in that namespace as the library's interface names it.

#include <opencv2/core.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/evaluation/benchmark_result.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::quality {

// Image points (N x 1 CV_32FC2) and object points (N x 3 CV_32F) of one view.
using ReprojectionInputs = std::pair<cv::Mat, cv::Mat>;

class CalibrationBenchmark {
 public:
  // The target as the evaluation sees it, whatever the backend's options: chessboard by
  // findChessboardCorners (adaptive threshold + normalise) refined by cornerSubPix (11 x 11
  // window, no zero zone, 30 iterations / 0.001); ChArUco with at least 4 corners; ArUco
  // with at least 4 board markers, unrefined. Empty when the target is not accepted.
  std::optional<ReprojectionInputs> reprojectionErrorInputs(const cv::Mat& image, const Target& target) const;

  // ||detected - projected||_2 / N after solvePnP (iterative) with the given intrinsics,
  // pixels; empty when the target is not accepted or the pose not solved.
  std::optional<double> reprojectionErrorOnImage(const cv::Mat& image, const Target& target,
                                                 const cv::Mat& intrinsic_matrix,
                                                 const cv::Mat& distortion_coefficients) const;

  // Mean held-out error over the folds of crossValidationFolds (a fold whose training set
  // has fewer than 4 images, or whose calibration fails, is skipped), pixels; +inf with a
  // warning when no held-out error was computed. std::invalid_argument for a negative n_splits
  // or 1 (run too).
  double crossValidate(const std::vector<cv::Mat>& images, const Target& target,
                       const calibration::IntrinsicOptions& options, int n_splits, std::uint32_t seed) const;

  // Mean reprojection error, pixels, of every view's target pose predicted from the board's
  // mean pose in the robot base frame (over robot_T_tcp * tcp_T_camera * camera_T_target):
  // camera_T_board = inverse(tcp_T_camera) * inverse(robot_T_tcp) * base_T_board. +inf with
  // a warning when camera_T_target_list is empty or not as long as robot_poses, or when no
  // view is usable. Views run while both images and robot poses last.
  double handEyeRoundtrip(const std::vector<cv::Mat>& images, const std::vector<cv::Mat>& robot_poses,
                          const cv::Mat& tcp_T_camera, const cv::Mat& intrinsic_matrix,
                          const cv::Mat& distortion_coefficients, const Target& target,
                          const std::vector<cv::Mat>& camera_T_target_list) const;

  // Full calibration (std::runtime_error "[Benchmark] NAME calibration failed." when it is
  // not ok), cross-validation and, given robot poses and eye-in-hand options, an eye-in-hand
  // run (TSAI) and its round trip over all images with the full calibration's intrinsics,
  // the board's base pose taken from the captures the eye-in-hand run kept. Each image is
  // detected once per detection settings, however many steps use it. Given intrinsics
  // (3x3, and their distortion coefficients) replace the full calibration and are held by
  // the eye-in-hand run: there are no folds, and both the reprojection and the held-out
  // error are the mean over every image of its error with them after solvePnP.
  BenchmarkResult run(const std::vector<cv::Mat>& images, const Target& target,
                      const calibration::IntrinsicOptions& options, const std::vector<cv::Mat>& robot_poses,
                      const std::optional<calibration::IntrinsicOptions>& eye_in_hand_options,
                      const std::string& backend_name, int n_splits, std::uint32_t seed,
                      const cv::Mat& intrinsic_matrix = cv::Mat(), const cv::Mat& distortion_coefficients = cv::Mat());

  // Fixed-width table: backend, RPE, held-out and round-trip errors (2 decimals, "-" when
  // not measured).
  static std::string formatResults(const std::vector<BenchmarkResult>& results);

  // Writes {"results": [...], "run_timestamp": ...} (indent 2, keys sorted, errors rounded to
  // 6 decimals, non-finite and unmeasured values null) atomically: an existing file is
  // replaced whole or left as it was. Throws std::runtime_error "[Benchmark] cannot open
  // PATH for writing" when the file cannot be created.
  static void saveJson(const std::vector<BenchmarkResult>& results, const std::string& path);
};

}  // namespace vemo::quality
