#pragma once

// Folder calibration/rig/: the multi-camera run (here), its pairing, subsets, per-camera
// work, triangulation check and report.
//
// Extrinsic calibration of a rig of synchronized cameras that look at one target: the
// pose reference_T_camera of every camera in the frame of a chosen reference camera, by
// one cv::stereoCalibrate per (reference, camera) pair, then checked by triangulating a
// ChArUco frame.
//
// Frames: image_lists[c][f] is frame f of camera c; frame f of every camera was taken at
// the same moment. reference_T_camera maps camera coordinates into the reference camera's
// frame; translations come out in the target's unit (metres).

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/calibration/rig/multi_camera_result.hpp"
#include "vemo/calibration/rig/multi_camera_subset_result.hpp"
#include "vemo/calibration/rig/multi_camera_triangulation_report.hpp"
#include "vemo/calibration/rig/rig_refinement.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

class PerCameraWork;

// Stereo flags most callers want: keep each camera's own intrinsics, or refine them in
// every pair (the reference camera then keeps the refinement of the last pair).
inline constexpr int kCalibFixIntrinsic = cv::CALIB_FIX_INTRINSIC;           // 256
inline constexpr int kCalibUseIntrinsicGuess = cv::CALIB_USE_INTRINSIC_GUESS;  // 1

// Defined in multi_camera_setup.cpp (construction, pairing), multi_camera_run.cpp
// (calibrate), multi_camera_triangulation.cpp, multi_camera_report.cpp,
// multi_camera_subsets.cpp and multi_camera_refine.cpp; the per-camera work they share in multi_camera_per_camera_work.*.
class MultiCameraCalibrator {
 public:
  // The correspondences of one (reference, camera) pair, one entry per accepted frame in
  // ascending frame order; row k of the three matrices of an entry is one board corner.
  struct PairPoints {
    std::vector<cv::Mat> object_points;           // N x 3 CV_32F, board frame
    std::vector<cv::Mat> reference_image_points;  // N x 1 CV_32FC2, pixels in the reference camera
    std::vector<cv::Mat> camera_image_points;     // N x 1 CV_32FC2, pixels in the other camera
  };

  // options: the per-camera intrinsic calibration; its criteria also end the stereo solve.
  // stereo_calibrate_flags: handed unchanged to cv::stereoCalibrate. Throws
  // std::invalid_argument for fewer than 2 cameras or a reference index out of range.
  MultiCameraCalibrator(Target target, int num_cameras, int reference_index = 0,
                        IntrinsicOptions options = defaultOptions(), int stereo_calibrate_flags = kCalibFixIntrinsic);

  // IntrinsicOptions with a tighter solver epsilon (1e-6) and a looser per-view threshold
  // (3 px) than the plain defaults.
  static IntrinsicOptions defaultOptions();

  // Pairs the two cameras' detections in each of frames (each a successful frame of both,
  // else std::runtime_error). ChArUco (both with corner ids): by corner id, in ascending
  // id, frames sharing fewer than 15 ids dropped with a warning. Other targets: by row
  // position, frames whose point counts differ dropped with a warning.
  PairPoints gatherPairPoints(const std::vector<TargetDetections>& detections, int reference_index, int camera_index,
                              const std::vector<int>& frames) const;

  // Calibrates each camera's intrinsics (or takes them, when both lists are given), pairs
  // every camera with the reference over the frames both saw (and that pass both
  // cameras' per-view error filter), solves each pair, triangulates frame 0 as a check
  // (ChArUco only), prints the report and, given a non-empty output_path, saves
  // "multi_camera_calibration.json". Every run starts from a cleared result. A pair with
  // fewer than 4 shared frames is skipped (Error line, ok false). Throws
  // std::invalid_argument for lists of the wrong shape or given intrinsics that are not
  // finite (requireCameraMatrix, requireDistortionCoefficients) and std::runtime_error when a
  // camera's intrinsic calibration fails.
  MultiCameraResult calibrate(const std::vector<std::vector<cv::Mat>>& image_lists,
                              const std::vector<cv::Mat>& intrinsic_matrices = {},
                              const std::vector<cv::Mat>& distortion_coefficients = {},
                              const std::filesystem::path& output_path = {});

  // Triangulates the ChArUco corners of one frame (BGR images) with the last result.
  // Throws std::runtime_error before a complete calibration, with fewer than 4 corners
  // seen by two cameras or when every point is degenerate; std::invalid_argument for a
  // non-ChArUco target, fewer image lists than cameras or a frame index out of range.
  TriangulationReport triangulate(const std::vector<std::vector<cv::Mat>>& image_lists, int frame_index) const;

  // Bundle adjustment of the last calibrate's rig (rig_refinement.hpp) against every corner
  // each camera saw, the lenses in the model of the calibrator's options. Kept for
  // formatRefinement(); the last result stays the pairwise one. loss_scale_px: the Huber
  // scale in pixels, or unset to choose it from the data. Throws std::runtime_error
  // without a successful calibrate, std::invalid_argument for a loss scale that is not
  // positive.
  RigRefinement refine(std::optional<double> loss_scale_px = std::nullopt);
  // The last refinement as text ("Not refined." before one).
  std::string formatRefinement() const;

  // The fixed-layout report of the last result, triangulation check and subset run.
  std::string formatResults() const;
  // Writes formatResults() to the report output (vemo/core/report_output.hpp).
  void printResults() const;

  // Calibrates every combination of subset_size cameras (lexicographic order) as a rig of
  // its own with reference position 0, then triangulates frame_index with it. Sizes above
  // num_cameras are skipped with a warning; sizes below 1, or a number of image lists other
  // than num_cameras, throw std::invalid_argument before anything runs. Keeps the list for
  // the report's subset summary (replaced only when the call completes). Each camera's
  // detections, intrinsic calibration and triangulation corners are made once for all
  // combinations; results, reports and log lines are those of calibrating every
  // combination with a calibrator of its own.
  std::vector<SubsetResult> calibrateSubsets(const std::vector<std::vector<cv::Mat>>& image_lists,
                                             const std::vector<int>& subset_sizes = {2, 3}, int frame_index = 0);

  const Target& target() const { return target_; }
  int numCameras() const { return num_cameras_; }
  int referenceIndex() const { return reference_index_; }
  const MultiCameraResult& lastResult() const { return last_result_; }
  bool hasTriangulation() const { return has_triangulation_; }
  const TriangulationReport& lastTriangulation() const { return last_triangulation_; }
  const std::vector<SubsetResult>& lastSubsets() const { return last_subsets_; }

 private:
  // Result before any run: no poses, NaN errors.
  MultiCameraResult clearedResult() const;

  // A rig run's outcome, before anything of it is kept, printed or saved.
  struct RigRun {
    MultiCameraResult result;
    std::optional<TriangulationReport> triangulation;  // the check of frame 0, when it succeeded
    std::vector<CameraViews> views;                    // each camera's corners, for refine()
  };

  // calibrate and triangulate on the cameras of work (made with this calibrator's target
  // and options), taking each camera's intrinsic calibration, detections and corners from
  // it. calibrateWith is solveRig, then the thin step that keeps, prints and saves.
  MultiCameraResult calibrateWith(PerCameraWork& work, const std::vector<cv::Mat>& intrinsic_matrices = {},
                                  const std::vector<cv::Mat>& distortion_coefficients = {},
                                  const std::filesystem::path& output_path = {});
  RigRun solveRig(PerCameraWork& work, const std::vector<cv::Mat>& intrinsic_matrices,
                  const std::vector<cv::Mat>& distortion_coefficients) const;
  // Triangulates frame_index with the rig (a result of a complete calibration, else
  // std::runtime_error).
  TriangulationReport triangulateWith(const MultiCameraResult& rig, PerCameraWork& work, int frame_index) const;

  Target target_;
  int num_cameras_;
  int reference_index_;
  IntrinsicOptions options_;
  int stereo_calibrate_flags_;
  MultiCameraResult last_result_;
  bool has_triangulation_ = false;
  TriangulationReport last_triangulation_;
  std::vector<SubsetResult> last_subsets_;
  std::vector<CameraViews> last_views_;  // of the last calibrate
  RigRefinement last_refinement_;
};

}  // namespace vemo::calibration
