#pragma once

// Folder calibration/hand_eye/: the eye-in-hand (here) and eye-to-hand runs, the
// solvers, target poses, refinement and their reports.
//
// Eye-in-hand calibration: the pose of a camera mounted on a robot flange (tcp_T_camera)
// from robot flange poses (robot_T_tcp) and images of a fixed target taken at them, by
// solving AX = XB with cv::calibrateHandEye.
//
// Frames: a_T_b maps coordinates of frame b into frame a. robot_T_tcp is the flange pose
// in the robot base frame, camera_T_target the target pose in the camera frame, both 4x4
// homogeneous. Robot translations and target lengths must share one unit (metres by
// convention); tcp_T_camera comes out in that unit.

#include <opencv2/core.hpp>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_capture.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"
#include "vemo/calibration/hand_eye/hand_eye_result.hpp"
#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"
#include "vemo/calibration/hand_eye/pose_reading_check.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

class EyeToHandCalibrator;

// Defined in four files: eye_in_hand_run.cpp (construction, preparation, solve and calibrate),
// eye_in_hand_target_poses.cpp (target poses per image),
// eye_in_hand_consistency_report.cpp (consistency statistics and the report) and
// eye_in_hand_refine.cpp (joint refinement of the last run). The run's thresholds are in
// eye_in_hand_limits.hpp.
class EyeInHandCalibrator {
 public:
  // One target pose per image whose pose was found, with the image's position in the
  // list that was iterated (strictly increasing). Both lists have the same length.
  struct TargetPoses {
    std::vector<cv::Mat> camera_T_target_list;  // 4x4 CV_64F
    std::vector<int> image_indices;
    std::vector<CaptureCorners> corners;  // per pose, the points it was solved from
  };

  // The frames whose target pose was found, with their image and robot pose (header
  // copies sharing the caller's data). Entry i of each list belongs to one capture.
  struct AlignedTargetPoses {
    std::vector<cv::Mat> camera_T_target_list;  // 4x4 CV_64F
    std::vector<cv::Mat> valid_image_list;
    std::vector<cv::Mat> valid_robot_T_tcp_list;
    std::vector<CaptureCorners> corners;  // per pose, the points it was solved from
  };

  // Stores the target and builds the inner intrinsic calibrator from it and the options.
  EyeInHandCalibrator(Target target, IntrinsicOptions options);

  // Solves tcp_T_camera. robot_T_tcp_list and image_list are parallel (one capture each).
  // Target poses come, in this order of preference, from:
  //  - camera_T_target_list, when not empty: one pose per robot pose, already aligned
  //    (image_list is then only carried into the result);
  //  - a ChArUco re-detection with the given intrinsic_matrix (3x3) and distortion;
  //  - an intrinsic calibration of image_list and one solvePnP per kept view.
  // method: a key of handEyeMethodByNameMap. A non-empty output_path saves the result as
  // "hand_eye.json" (see vemo/io/result_records.hpp). Prints the report to standard output.
  // Fewer than 4 usable captures, or robot poses that do not rotate about two different
  // axes, is not an exception: an Error line is logged and the result's ok is false.
  // Throws std::invalid_argument for an unknown method, a pose that is not a finite 4x4
  // rigid transform (last row 0 0 0 1, a proper rotation block within
  // tf::kOrthonormalityTolerance), an intrinsic_matrix that is not a finite 3x3 camera
  // matrix with positive focal lengths, a camera_T_target_list whose length differs from
  // robot_T_tcp_list, image and robot lists of different lengths when the target is
  // detected, distortion_coefficients that are not finite or not 4, 5, 8, 12 or 14
  // (requireDistortionCoefficients), or a re-detection with a non-ChArUco target. The last result changes only
  // when the solve ran. Logs a warning when the poses fit much better read in millimetres
  // or inverted (pose_reading_check.hpp).
  HandEyeResult calibrate(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& image_list,
                          const std::string& method = "TSAI", const std::vector<cv::Mat>& camera_T_target_list = {},
                          const cv::Mat& intrinsic_matrix = cv::Mat(),
                          const cv::Mat& distortion_coefficients = cv::Mat(),
                          const std::filesystem::path& output_path = {});

  // calibrate in two halves, for callers that solve one set of captures with several
  // methods (the cross-method comparison) and so prepare it once.
  struct PreparedCaptures {
    // The matrices and, when solvable, the aligned lists of the kept captures.
    HandEyeResult result;
    // false: too few captures; the Error line is logged and result is final (ok false).
    bool solvable = false;
    std::size_t input_image_count = 0;  // image_list.size(), for the saved record
    // One per robot pose, in input order, with what the filters kept; the kept ones'
    // corners are what refine() works from.
    HandEyeCaptures captures{};
    // The verdict on the intrinsics when the run calibrated them; its reasons open the
    // hand-eye verdict.
    quality::Verdict intrinsic_verdict{};
    // When solvable: every method's solution on result's aligned lists, solved when a solve
    // or a verdict first asks for it and shared by all later solves of these captures.
    std::shared_ptr<HandEyeSolutions> solutions;
  };
  // Everything calibrate does before the solve, with its log lines and exceptions (but the
  // method check): validation, then target poses from camera_T_target_list, a ChArUco
  // re-detection or an intrinsic calibration. image_detections, when given, are the
  // detections of image_list under options that detect alike (detectsAlike): the intrinsic
  // calibration then starts from them (IntrinsicCalibrator::calibrateWithDetections).
  PreparedCaptures prepareCaptures(const std::vector<cv::Mat>& robot_T_tcp_list,
                                   const std::vector<cv::Mat>& image_list,
                                   const std::vector<cv::Mat>& camera_T_target_list,
                                   const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients,
                                   const TargetDetections* image_detections = nullptr);
  // The rest of calibrate: solveCaptures, then for a solved result the thin step that keeps
  // it as the last result, prints the report and saves it when output_path is not empty.
  // Unsolvable captures come back as they are.
  HandEyeResult solvePreparedCaptures(const PreparedCaptures& captures, const std::string& method,
                                      const std::filesystem::path& output_path = {});
  // The solve with `method` and the statistics alone: nothing kept, printed or saved (the
  // eye-to-hand calibrator runs it on inverted robot poses). Unsolvable captures come back
  // as they are; an unknown method throws std::invalid_argument.
  HandEyeResult solveCaptures(const PreparedCaptures& captures, const std::string& method) const;

  // Target poses by solvePnP (iterative) per view. Chessboard: from corner_list (per view
  // N x 1 CV_32FC2 inner corners, as IntrinsicResult::image_points), image_list unread.
  // ChArUco and ArUco: re-detected in image_list (BGR), corner_list unread; views with
  // fewer than 4 ChArUco corners or markers are skipped with a warning. A non-finite PnP
  // solution (degenerate camera matrix) counts as a failed solve.
  TargetPoses computeTargetPoses(const std::vector<cv::Mat>& image_list, const std::vector<cv::Mat>& corner_list,
                                 const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const;

  // Target poses by solvePnP (iterative) from detections at hand: per view the object
  // points (N x 3 CV_32F) and corners (N x 1 CV_32FC2), as TargetDetections holds them; a
  // failed solve drops the view without a message. After the intrinsic calibration of a
  // ChArUco target, computeTargetPoses' re-detection would find the very corners that
  // calibration found (the same detector and minimum), so the run solves from those.
  TargetPoses computeTargetPosesFromDetections(const std::vector<cv::Mat>& object_points,
                                               const std::vector<cv::Mat>& corner_list,
                                               const cv::Mat& intrinsic_matrix,
                                               const cv::Mat& distortion_coefficients) const;

  // ChArUco only (std::invalid_argument otherwise): detects the board in each image,
  // solves its pose, and keeps the image and robot pose of every frame that passed.
  // Frames are examined while both lists last.
  AlignedTargetPoses computeCameraTTargetList(const std::vector<cv::Mat>& image_list,
                                              const std::vector<cv::Mat>& robot_T_tcp_list,
                                              const cv::Mat& intrinsic_matrix,
                                              const cv::Mat& distortion_coefficients) const;

  // Fills result.consistency from its lists, tcp_T_camera and camera matrix, and sets
  // has_consistency. Needs at least one capture and aligned lists. Without a camera
  // matrix the projected board centres are NaN.
  void computeConsistency(HandEyeResult& result) const;

  // The report of the last result ("Calibration failed." before the first successful run).
  std::string formatResults() const;
  // Writes formatResults() to the report output (vemo/core/report_output.hpp).
  void printResults() const;

  // Board points of the target: N x 3 CV_32F, metres (chessboard inner corners; ChArUco
  // corners in id order; the four corners of every ArUco marker in board order).
  cv::Mat boardObjectPoints() const;

  // Refines the last successful run's tcp_T_camera and target pose jointly against its
  // corner pixels (see hand_eye_refinement.hpp) and keeps the outcome for
  // formatRefinement(). Throws std::runtime_error before a successful run, or after one on
  // caller-given target poses (there are no corners to refine against).
  HandEyeRefinement refine(bool refine_intrinsics = false, double loss_scale_px = 1.0);
  // The same with the Huber scale chosen from the data: refinement::kLossScaleNoiseMultiple times the
  // corners' robust noise after a first solve at 1 px, then Tukey's biweight at
  // kRedescendingNoiseMultiple times that noise (noiseScaledOptions in
  // hand_eye_refinement_input.hpp). The scales used are the result's loss_scale_px and
  // redescending_scale_px.
  HandEyeRefinement refineAtNoiseScale(bool refine_intrinsics = false);
  // The last refinement as text; says so when there is none since the last run.
  std::string formatRefinement() const;

  const Target& target() const { return target_; }
  const HandEyeResult& lastResult() const { return last_result_; }
  // What the verdict of later runs counts as the robot's noise.
  const quality::VerdictOptions& verdictOptions() const { return verdict_options_; }
  void setVerdictOptions(const quality::VerdictOptions& options) { verdict_options_ = options; }
  // Annotated images of the inner intrinsic calibrator's last corner detection.
  std::vector<cv::Mat> cornerImages() const { return intrinsic_calibrator_.cornerImages(); }
  // The inner intrinsic calibrator's last calibration (from the last run that calibrated
  // the intrinsics; ok false before one), and its per-view residuals under a camera
  // (IntrinsicCalibrator::reprojectionResiduals): what an intrinsic report of the run needs
  // without calibrating again.
  const IntrinsicResult& lastIntrinsicResult() const { return last_intrinsic_result_; }
  std::vector<cv::Mat> intrinsicReprojectionResiduals(const cv::Mat& intrinsic_matrix,
                                                      const cv::Mat& distortion_coefficients) const {
    return intrinsic_calibrator_.reprojectionResiduals(intrinsic_matrix, distortion_coefficients);
  }

 private:
  friend class EyeToHandCalibrator;
  // How messages name the calibrator and the transform it solves.
  struct Naming {
    std::string class_name = "EyeInHandCalibrator";
    std::string solved_transform = "tcp_T_camera";
    FlangeHolds flange_holds = FlangeHolds::camera;
  };
  // For a calibrator that runs this one inside (eye-to-hand): messages then name it.
  EyeInHandCalibrator(Target target, IntrinsicOptions options, Naming naming);

  // The target pose of every kept capture by a ChArUco re-detection of its image; the
  // captures where it fails are dropped with a warning, and the count that passed is logged
  // against image_count. Throws std::invalid_argument for another kind of target.
  void redetectTargetPoses(HandEyeCaptures& captures, const cv::Mat& intrinsic_matrix,
                           const cv::Mat& distortion_coefficients, std::size_t image_count) const;
  // Calibrates the intrinsics from image_list (or its detections) into result, keeps the
  // captures of the views within the per-view threshold and solves their target poses,
  // dropping those that fail. false: too few captures to go on (Error line logged).
  bool targetPosesFromIntrinsics(HandEyeCaptures& captures, HandEyeResult& result,
                                 const std::vector<cv::Mat>& image_list, const TargetDetections* image_detections);
  // After a solve: keeps the result, logs completion, prints the report and saves it.
  void keepAndReport(const HandEyeResult& result, const PreparedCaptures& captures, const std::string& method,
                     const std::filesystem::path& output_path);

  Target target_;
  IntrinsicCalibrator intrinsic_calibrator_;
  IntrinsicResult last_intrinsic_result_;
  HandEyeResult last_result_;
  // What refine() works from: the corners of last_result_'s captures (none when the run
  // was given its target poses), and its last outcome.
  struct RefinementState {
    std::vector<CaptureCorners> corners;
    HandEyeRefinement refinement;
  };
  RefinementState refinement_state_;
  HandEyeRefinement refineWith(const HandEyeRefinementOptions& options);
  Naming naming_;
  quality::VerdictOptions verdict_options_;
};

}  // namespace vemo::calibration
