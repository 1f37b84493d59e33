// MultiCameraCalibrator::calibrate: intrinsics per camera, one stereo solve per pair with
// the reference camera, the triangulation check, the report and the saved record.

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "vemo/calibration/intrinsic/camera_matrix_check.hpp"
#include "vemo/calibration/intrinsic/intrinsic_result.hpp"
#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"
#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/calibration/rig/multi_camera_per_camera_work.hpp"
#include "vemo/calibration/rig/sparse_stereo_calibration.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/io/result_records.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

using logging::Level;

// The run's arguments, checked before anything of an earlier run is cleared.
void checkRunInputs(const std::vector<std::vector<cv::Mat>>& image_lists, int num_cameras,
                    const std::vector<cv::Mat>& intrinsic_matrices,
                    const std::vector<cv::Mat>& distortion_coefficients) {
  if (static_cast<int>(image_lists.size()) != num_cameras) {
    throw std::invalid_argument("MultiCameraCalibrator: expected " + std::to_string(num_cameras) +
                                " image lists, got " + std::to_string(image_lists.size()));
  }
  for (const auto& images : image_lists) {
    if (images.size() != image_lists[0].size()) {
      throw std::invalid_argument("MultiCameraCalibrator: all cameras must have the same number of frames");
    }
  }
  if (image_lists[0].empty()) throw std::invalid_argument("MultiCameraCalibrator: empty image lists");
  const auto cameras = static_cast<std::size_t>(num_cameras);
  if (intrinsic_matrices.empty() || distortion_coefficients.empty()) return;
  if (intrinsic_matrices.size() != cameras || distortion_coefficients.size() != cameras) {
    throw std::invalid_argument("MultiCameraCalibrator: expected " + std::to_string(num_cameras) +
                                " intrinsic matrices/distortion coefficient sets");
  }
  for (std::size_t camera = 0; camera < cameras; ++camera) {
    requireCameraMatrix(intrinsic_matrices[camera],
                        "MultiCameraCalibrator: intrinsic_matrices[" + std::to_string(camera) + "]");
    requireDistortionCoefficients(distortion_coefficients[camera],
                                  "MultiCameraCalibrator: distortion_coefficients[" + std::to_string(camera) + "]");
  }
}

std::vector<int> intersection(const std::vector<int>& a, const std::vector<int>& b) {
  std::vector<int> shared;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(shared));
  return shared;
}

// The frames of a camera whose per-view intrinsic error passed the threshold; nothing
// when none did (the stereo solve then takes all of the camera's frames).
std::optional<std::vector<int>> lowErrorFrames(const IntrinsicResult& intrinsics, int camera) {
  const std::string summary = "[MultiCameraCalibrator] Camera " + std::to_string(camera) + ": reprojection error " +
                              std::to_string(intrinsics.reprojection_error) + "px over " +
                              std::to_string(intrinsics.successful_indices.size()) + " frames (";
  if (intrinsics.low_view_error_indices.empty()) {
    logging::log(Level::Warning, summary + "no frames pass per-view filter  -  stereo will use ALL)");
    return std::nullopt;
  }
  std::set<int> frames;
  for (int view : intrinsics.low_view_error_indices) {
    frames.insert(intrinsics.successful_indices[static_cast<std::size_t>(view)]);
  }
  logging::log(Level::Info, summary + std::to_string(frames.size()) + " pass per-view filter)");
  return std::vector<int>(frames.begin(), frames.end());
}

}  // namespace

MultiCameraResult MultiCameraCalibrator::calibrate(const std::vector<std::vector<cv::Mat>>& image_lists,
                                                   const std::vector<cv::Mat>& intrinsic_matrices,
                                                   const std::vector<cv::Mat>& distortion_coefficients,
                                                   const std::filesystem::path& output_path) {
  PerCameraWork work(image_lists, target_, options_);
  return calibrateWith(work, intrinsic_matrices, distortion_coefficients, output_path);
}

MultiCameraResult MultiCameraCalibrator::calibrateWith(PerCameraWork& work,
                                                       const std::vector<cv::Mat>& intrinsic_matrices,
                                                       const std::vector<cv::Mat>& distortion_coefficients,
                                                       const std::filesystem::path& output_path) {
  checkRunInputs(work.imageLists(), num_cameras_, intrinsic_matrices, distortion_coefficients);
  // A pose or check left from an earlier run must never count towards this one.
  last_result_ = clearedResult();
  has_triangulation_ = false;
  last_triangulation_ = TriangulationReport();
  last_views_.clear();
  last_refinement_ = RigRefinement();

  RigRun run = solveRig(work, intrinsic_matrices, distortion_coefficients);
  last_result_ = std::move(run.result);
  has_triangulation_ = run.triangulation.has_value();
  if (run.triangulation) last_triangulation_ = std::move(*run.triangulation);
  last_views_ = std::move(run.views);
  printResults();

  if (!output_path.empty()) {
    io::MultiCameraCalibrationRecord record;
    record.reference_index = reference_index_;
    record.num_cameras = num_cameras_;
    record.intrinsic_matrices = last_result_.intrinsic_matrices;
    record.distortion_coefficients = last_result_.distortion_coefficients;
    record.reference_T_camera_list = last_result_.reference_T_camera_list;
    record.intrinsic_reprojection_errors = last_result_.intrinsic_reprojection_errors;
    record.pair_reprojection_errors = last_result_.pair_reprojection_errors;
    io::saveMultiCameraCalibration(output_path, record);
  }
  return last_result_;
}

MultiCameraCalibrator::RigRun MultiCameraCalibrator::solveRig(
    PerCameraWork& work, const std::vector<cv::Mat>& intrinsic_matrices,
    const std::vector<cv::Mat>& distortion_coefficients) const {
  const std::vector<std::vector<cv::Mat>>& image_lists = work.imageLists();
  const auto cameras = static_cast<std::size_t>(num_cameras_);
  const bool intrinsics_supplied = !intrinsic_matrices.empty() && !distortion_coefficients.empty();
  MultiCameraResult rig = clearedResult();

  std::vector<TargetDetections> detections(cameras);
  std::vector<std::optional<std::vector<int>>> low_error_frames(cameras);
  if (intrinsics_supplied) {
    rig.intrinsic_matrices = intrinsic_matrices;
    rig.distortion_coefficients = distortion_coefficients;
    for (std::size_t camera = 0; camera < cameras; ++camera) detections[camera] = work.detections(camera);
  } else {
    logging::log(Level::Info, "[MultiCameraCalibrator] Running per-camera intrinsic calibration.");
    for (std::size_t camera = 0; camera < cameras; ++camera) {
      const CameraIntrinsics& calibrated = work.intrinsics(camera);
      const IntrinsicResult& intrinsics = calibrated.result;
      if (!intrinsics.ok) {
        throw std::runtime_error("[MultiCameraCalibrator] Intrinsic calibration failed for camera " +
                                 std::to_string(camera));
      }
      // Copies: the work may be kept for other rigs, whose results must not share memory.
      rig.intrinsic_matrices[camera] = intrinsics.intrinsic_matrix.clone();
      rig.distortion_coefficients[camera] = intrinsics.distortion_coefficients.clone();
      rig.intrinsic_reprojection_errors[camera] = intrinsics.reprojection_error;
      rig.intrinsic_rms_px[camera] = cornerRms(intrinsics);
      detections[camera] = calibrated.detections;
      low_error_frames[camera] = lowErrorFrames(intrinsics, static_cast<int>(camera));
    }
  }

  const auto reference = static_cast<std::size_t>(reference_index_);
  rig.reference_T_camera_list[reference] = cv::Mat::eye(4, 4, CV_64F);
  const cv::Size image_size = image_lists[reference][0].size();
  const std::string pair_name = "(ref=" + std::to_string(reference_index_) + ", cam=";

  for (std::size_t camera = 0; camera < cameras; ++camera) {
    if (camera == reference) continue;
    const std::string camera_text = std::to_string(camera);
    std::vector<int> frames =
        intersection(detections[reference].successful_indices, detections[camera].successful_indices);
    const std::size_t detected_in_both = frames.size();
    for (std::size_t filtered : {reference, camera}) {
      if (low_error_frames[filtered]) frames = intersection(frames, *low_error_frames[filtered]);
    }
    if (frames.size() != detected_in_both) {
      logging::log(Level::Info, "[MultiCameraCalibrator] Pair " + pair_name + camera_text + "): " +
                                    std::to_string(detected_in_both) + " frames detected in both cameras -> " +
                                    std::to_string(frames.size()) + " after per-view intrinsic-error filter");
    }
    if (frames.size() < 4) {
      logging::log(Level::Error, "[MultiCameraCalibrator] Only " + std::to_string(frames.size()) +
                                     " shared detections between reference camera " +
                                     std::to_string(reference_index_) + " and camera " + camera_text +
                                     "; skipping pair.");
      continue;
    }
    const PairPoints pair = gatherPairPoints(detections, reference_index_, static_cast<int>(camera), frames);
    if (pair.object_points.empty()) {
      logging::log(Level::Error,
                   "[MultiCameraCalibrator] No usable frames after per-corner intersection between reference camera " +
                       std::to_string(reference_index_) + " and camera " + camera_text + "; skipping pair.");
      continue;
    }

    // The solver writes its refinement into these; the result takes it only when the
    // intrinsics were free.
    cv::Mat reference_matrix = rig.intrinsic_matrices[reference].clone();
    cv::Mat reference_distortion = rig.distortion_coefficients[reference].clone();
    cv::Mat camera_matrix = rig.intrinsic_matrices[camera].clone();
    cv::Mat camera_distortion = rig.distortion_coefficients[camera].clone();
    cv::Mat rotation, translation, essential, fundamental;
    // With the intrinsics fixed, the sparse solve takes OpenCV's steps in time linear in the frames.
    const bool sparse = (stereo_calibrate_flags_ & cv::CALIB_FIX_INTRINSIC) &&
                        sparseSolveChosen(options_.camera_solver, false, pair.object_points.size());
    const double rms =
        sparse ? stereoCalibrateSparse(pair.object_points, pair.reference_image_points, pair.camera_image_points,
                                       reference_matrix, reference_distortion, camera_matrix, camera_distortion,
                                       rotation, translation, options_.criteria)
               : cv::stereoCalibrate(pair.object_points, pair.reference_image_points, pair.camera_image_points,
                                     reference_matrix, reference_distortion, camera_matrix, camera_distortion,
                                     image_size, rotation, translation, essential, fundamental,
                                     stereo_calibrate_flags_, options_.criteria);
    if (!(stereo_calibrate_flags_ & cv::CALIB_FIX_INTRINSIC)) {
      rig.intrinsic_matrices[reference] = reference_matrix;
      rig.distortion_coefficients[reference] = reference_distortion.reshape(1, 1);
      rig.intrinsic_matrices[camera] = camera_matrix;
      rig.distortion_coefficients[camera] = camera_distortion.reshape(1, 1);
    }
    cv::Mat rotation_64f;
    rotation.convertTo(rotation_64f, CV_64F);
    const cv::Mat camera_T_reference = tf::composeTransformationMatrix(rotation_64f, translation);
    rig.reference_T_camera_list[camera] = camera_T_reference.inv(cv::DECOMP_LU);
    rig.pair_reprojection_errors[camera] = rms;
    logging::log(Level::Info, "[MultiCameraCalibrator] Stereo pair " + pair_name + camera_text + "): RMS error " +
                                  std::to_string(rms) + "px over " + std::to_string(pair.object_points.size()) +
                                  " frames");
  }

  rig.ok = std::none_of(rig.reference_T_camera_list.begin(), rig.reference_T_camera_list.end(),
                        [](const cv::Mat& pose) { return pose.empty(); });
  RigRun run;
  if (rig.ok) {
    try {
      run.triangulation = triangulateWith(rig, work, 0);
    } catch (const std::exception& error) {
      logging::log(Level::Warning, std::string("[MultiCameraCalibrator] Triangulation validation skipped: ") +
                                       error.what());
    }
  }
  run.result = std::move(rig);
  for (const TargetDetections& camera : detections) {
    run.views.push_back({camera.successful_indices, camera.object_points, camera.image_points});
  }
  return run;
}

}  // namespace vemo::calibration
