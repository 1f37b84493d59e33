// EyeInHandCalibrator: one camera_T_target per image, from the intrinsic run's corners
// or by detecting the target again.

#include <opencv2/calib3d.hpp>

#include <optional>
#include <stdexcept>
#include <string>

#include "vemo/calibration/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/eye_in_hand_limits.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/core/target_detection.hpp"
#include "vemo/core/tf.hpp"

namespace vemo::calibration {

namespace {

// camera_T_target by iterative PnP, or nothing when the solver gives up. A degenerate camera
// matrix (NaN, or focal lengths near 0) makes solvePnP report success with a NaN pose; that
// is no pose either.
std::optional<cv::Mat> solveTargetPose(cv::InputArray object_points, cv::InputArray image_points,
                                       const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) {
  cv::Mat rvec, tvec;
  if (!cv::solvePnP(object_points, image_points, intrinsic_matrix, distortion_coefficients, rvec, tvec, false,
                    cv::SOLVEPNP_ITERATIVE) ||
      !cv::checkRange(rvec) || !cv::checkRange(tvec)) {
    return std::nullopt;
  }
  return tf::rvecTvecToTransformationMatrix(rvec, tvec);
}

// Re-detection for poses takes the target as OpenCV's detectors give it: no marker
// refinement against the board, no drawing, and ArUco markers that are not on the board
// count towards the minimum (they are left out of the points afterwards).
TargetDetector redetectionDetector(const Target& target) {
  DetectionSettings settings;
  settings.minimum_count = eye_in_hand::kMinimumTargetPoints;
  settings.drop_off_board_markers_before_count = false;
  settings.refine_markers_against_board = false;
  settings.annotate = false;
  return TargetDetector(target, settings);
}

}  // namespace

cv::Mat EyeInHandCalibrator::boardObjectPoints() const {
  if (const auto* chessboard = std::get_if<ChessboardTarget>(&target_)) return chessboard->objectPoints();

  std::vector<cv::Point3f> points;
  if (const auto* charuco = std::get_if<CharucoTarget>(&target_)) {
    points = charuco->buildBoard().getChessboardCorners();
  } else {
    for (const auto& marker : std::get<ArucoTarget>(target_).buildBoard().getObjPoints()) {
      points.insert(points.end(), marker.begin(), marker.end());
    }
  }
  return cv::Mat(static_cast<int>(points.size()), 3, CV_32F, points.data()).clone();
}

EyeInHandCalibrator::TargetPoses EyeInHandCalibrator::computeTargetPoses(
    const std::vector<cv::Mat>& image_list, const std::vector<cv::Mat>& corner_list, const cv::Mat& intrinsic_matrix,
    const cv::Mat& distortion_coefficients) const {
  TargetPoses poses;
  auto keep = [&](std::optional<cv::Mat> camera_T_target, std::size_t index) {
    if (!camera_T_target) return false;
    poses.camera_T_target_list.push_back(std::move(*camera_T_target));
    poses.image_indices.push_back(static_cast<int>(index));
    return true;
  };

  if (std::holds_alternative<ChessboardTarget>(target_)) {
    const cv::Mat object_points = boardObjectPoints();
    for (std::size_t i = 0; i < corner_list.size(); ++i) {
      if (!keep(solveTargetPose(object_points, corner_list[i], intrinsic_matrix, distortion_coefficients), i)) {
        logging::log(logging::Level::Warning, "[EyeInHandCalibrator] solvePnP failed for chessboard image " +
                                                  std::to_string(i) + ", skipping.");
      }
    }
    return poses;
  }

  const TargetDetector detector = redetectionDetector(target_);
  const std::string failure = std::holds_alternative<CharucoTarget>(target_)
                                  ? "[EyeInHandCalibrator] ChArUco re-detection failed for image "
                                  : "[EyeInHandCalibrator] ArUco re-detection failed for image ";
  for (std::size_t i = 0; i < image_list.size(); ++i) {
    requireColourImage(image_list[i], "EyeInHandCalibrator", i);
    const std::optional<TargetView> view = detector.detect(image_list[i]);
    if (!view) {
      logging::log(logging::Level::Warning, failure + std::to_string(i) + ", skipping.");
      continue;
    }
    // Only off-board ArUco markers were detected: no points to solve from.
    if (view->object_points.empty()) continue;
    keep(solveTargetPose(view->object_points, view->image_points, intrinsic_matrix, distortion_coefficients), i);
  }
  return poses;
}

EyeInHandCalibrator::AlignedTargetPoses EyeInHandCalibrator::computeCameraTTargetList(
    const std::vector<cv::Mat>& image_list, const std::vector<cv::Mat>& robot_T_tcp_list,
    const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const {
  if (!std::holds_alternative<CharucoTarget>(target_)) {
    throw std::invalid_argument("EyeInHandCalibrator::computeCameraTTargetList only supports CharucoTarget");
  }
  const TargetDetector detector = redetectionDetector(target_);

  AlignedTargetPoses aligned;
  for (std::size_t i = 0; i < image_list.size() && i < robot_T_tcp_list.size(); ++i) {
    requireColourImage(image_list[i], "EyeInHandCalibrator", i);
    const std::optional<TargetView> view = detector.detect(image_list[i]);
    if (!view) {
      logging::log(logging::Level::Warning, "frame " + std::to_string(i) + ": ChArUco detection failed  -  skipping");
      continue;
    }
    std::optional<cv::Mat> camera_T_target =
        solveTargetPose(view->object_points, view->image_points, intrinsic_matrix, distortion_coefficients);
    if (!camera_T_target) {
      logging::log(logging::Level::Warning, "frame " + std::to_string(i) + ": solvePnP failed  -  skipping");
      continue;
    }
    aligned.camera_T_target_list.push_back(std::move(*camera_T_target));
    aligned.valid_image_list.push_back(image_list[i]);
    aligned.valid_robot_T_tcp_list.push_back(robot_T_tcp_list[i]);
  }
  logging::log(logging::Level::Info, "compute_camera_T_target_list: " +
                                         std::to_string(aligned.camera_T_target_list.size()) + "/" +
                                         std::to_string(image_list.size()) + " frames passed");
  return aligned;
}

}  // namespace vemo::calibration
