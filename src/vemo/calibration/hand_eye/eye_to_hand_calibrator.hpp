#pragma once

// Eye-to-hand calibration: the pose of a camera fixed in the robot cell (base_T_camera)
// and of the target carried on the flange (tcp_T_target), from robot flange poses
// (robot_T_tcp) and images of the target taken at them.
//
// Every capture closes the chain robot_T_tcp * tcp_T_target = base_T_camera *
// camera_T_target. Written with the flange poses inverted, tcp_T_robot * base_T_camera *
// camera_T_target = tcp_T_target is the eye-in-hand equation with base_T_camera in place
// of tcp_T_camera and the flange-held target in place of the fixed one, so the run is
// the eye-in-hand run on inverted flange poses: the same three sources of target poses,
// the same five solvers, and its consistency statistics measure how well the captures
// agree on tcp_T_target. Robot translations and target lengths share one unit (metres by
// convention).

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/eye_to_hand_refinement.hpp"
#include "vemo/calibration/hand_eye/eye_to_hand_result.hpp"
#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

class EyeToHandCalibrator {
 public:
  EyeToHandCalibrator(Target target, IntrinsicOptions options);

  // Solves base_T_camera and tcp_T_target. Arguments as EyeInHandCalibrator::calibrate:
  // target poses from camera_T_target_list when given (one per robot pose), else by a
  // ChArUco re-detection with intrinsic_matrix when given, else by an intrinsic
  // calibration of image_list. A non-empty output_path saves "eye_to_hand.json" (see
  // vemo/io/eye_to_hand_record.hpp). Prints the report to standard output. Fewer than 4
  // usable captures, or a robot that does not rotate about two different axes: an Error
  // line and ok false. Throws std::invalid_argument, as EyeInHandCalibrator::calibrate
  // does and in this class's name, for an unknown method, a pose that is not a finite
  // 4x4 rigid transform, a camera matrix that is not one, lists of different lengths,
  // distortion coefficients that are not finite or of a supported count, or
  // a re-detection with a non-ChArUco target. The last result changes only when the
  // solve ran.
  EyeToHandResult calibrate(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& image_list,
                            const std::string& method = "TSAI",
                            const std::vector<cv::Mat>& camera_T_target_list = {},
                            const cv::Mat& intrinsic_matrix = cv::Mat(),
                            const cv::Mat& distortion_coefficients = cv::Mat(),
                            const std::filesystem::path& output_path = {});

  // Refines the last successful run's base_T_camera and tcp_T_target jointly against its
  // corner pixels, as EyeInHandCalibrator::refine does its chain (the robot's pose errors
  // moving the flange-held target), and keeps the outcome for formatRefinement(). Throws
  // std::runtime_error before a successful run, or after one on caller-given target poses.
  EyeToHandRefinement refine(bool refine_intrinsics = false, double loss_scale_px = 1.0);
  // The same with the losses' scales chosen from the data, as EyeInHandCalibrator's.
  EyeToHandRefinement refineAtNoiseScale(bool refine_intrinsics = false);
  // The last refinement as text; says so when there is none since the last run.
  std::string formatRefinement() const;

  // The report of the last result ("Calibration failed." before the first successful run).
  std::string formatResults() const;
  // Writes formatResults() to standard output and flushes it.
  void printResults() const;

  const Target& target() const { return inverted_run_.target(); }
  const EyeToHandResult& lastResult() const { return last_result_; }
  // What the verdict of later runs counts as the robot's noise.
  const quality::VerdictOptions& verdictOptions() const { return inverted_run_.verdictOptions(); }
  void setVerdictOptions(const quality::VerdictOptions& options) { inverted_run_.setVerdictOptions(options); }
  // Annotated images of the last intrinsic run's corner detection.
  std::vector<cv::Mat> cornerImages() const { return inverted_run_.cornerImages(); }
  // The last intrinsic calibration and its residuals, as EyeInHandCalibrator's.
  const IntrinsicResult& lastIntrinsicResult() const { return inverted_run_.lastIntrinsicResult(); }
  std::vector<cv::Mat> intrinsicReprojectionResiduals(const cv::Mat& intrinsic_matrix,
                                                      const cv::Mat& distortion_coefficients) const {
    return inverted_run_.intrinsicReprojectionResiduals(intrinsic_matrix, distortion_coefficients);
  }

 private:
  // The inverted chain a run solved, the corners of its captures, and its last refinement.
  struct Chain {
    HandEyeResult solved;
    std::vector<CaptureCorners> corners;
    HandEyeRefinement refinement;
  };
  struct Solved {
    EyeToHandResult result;
    Chain chain;
  };
  EyeToHandRefinement refineWith(const HandEyeRefinementOptions& options);
  // calibrate without keeping, printing or saving anything: the run's result and chain.
  Solved solve(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& image_list,
                        const std::string& method, const std::vector<cv::Mat>& camera_T_target_list,
                        const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients);

  // The eye-in-hand run that solves on inverted flange poses (its own last result unused).
  EyeInHandCalibrator inverted_run_;
  EyeToHandResult last_result_;
  Chain chain_;
};

}  // namespace vemo::calibration
