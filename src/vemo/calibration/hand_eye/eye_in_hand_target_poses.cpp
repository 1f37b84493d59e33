// EyeInHandCalibrator: one camera_T_target per image, from the intrinsic run's corners
// or by detecting the target again.

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/core/parallel_map.hpp"
#include "vemo/targets/target_detection.hpp"
#include "vemo/tf/tf.hpp"

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

struct Redetection {
  bool found = false;                      // the target was accepted
  std::optional<cv::Mat> camera_T_target;  // its pose, when there were points to solve from and PnP gave one
  CaptureCorners corners;                  // the points the pose was solved from
};

// The target detected again in one image and its pose solved. Only off-board ArUco markers
// detected: found, but no points to solve from.
Redetection redetectPose(const TargetDetector& detector, const cv::Mat& image, const cv::Mat& intrinsic_matrix,
                         const cv::Mat& distortion_coefficients) {
  const std::optional<TargetView> view = detector.detect(image);
  if (!view) return {};
  if (view->object_points.empty()) return {true, std::nullopt, {}};
  return {true, solveTargetPose(view->object_points, view->image_points, intrinsic_matrix, distortion_coefficients),
          {view->object_points, view->image_points}};
}

// One pose per view of corner_list, solved on OpenCV's threads; a view whose solve fails is
// skipped, with a warning naming its index when `failure` is not empty.
template <class ObjectPointsOf>
EyeInHandCalibrator::TargetPoses posesFromCorners(const std::vector<cv::Mat>& corner_list,
                                                  const ObjectPointsOf& object_points_of,
                                                  const cv::Mat& intrinsic_matrix,
                                                  const cv::Mat& distortion_coefficients,
                                                  const std::string& failure) {
  auto solved = parallelMap(corner_list.size(), [&](std::size_t i) {
    return solveTargetPose(object_points_of(i), corner_list[i], intrinsic_matrix, distortion_coefficients);
  });
  EyeInHandCalibrator::TargetPoses poses;
  for (std::size_t i = 0; i < solved.size(); ++i) {
    std::optional<cv::Mat>& camera_T_target = solved[i].take();
    if (!camera_T_target) {
      if (!failure.empty()) logging::log(logging::Level::Warning, failure + std::to_string(i) + ", skipping.");
      continue;
    }
    poses.camera_T_target_list.push_back(std::move(*camera_T_target));
    poses.image_indices.push_back(static_cast<int>(i));
    poses.corners.push_back({object_points_of(i), corner_list[i]});
  }
  return poses;
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
  if (std::holds_alternative<ChessboardTarget>(target_)) {
    const cv::Mat object_points = boardObjectPoints();
    return posesFromCorners(
        corner_list, [&](std::size_t) -> const cv::Mat& { return object_points; }, intrinsic_matrix,
        distortion_coefficients, "[" + naming_.class_name + "] solvePnP failed for chessboard image ");
  }

  TargetPoses poses;
  const TargetDetector detector = redetectionDetector(target_);
  const std::string failure = "[" + naming_.class_name + "] " +
                              (std::holds_alternative<CharucoTarget>(target_) ? "ChArUco" : "ArUco") +
                              " re-detection failed for image ";
  auto redetected = parallelMap(image_list.size(), [&](std::size_t i) {
    requireColourImage(image_list[i], naming_.class_name, i);
    return redetectPose(detector, image_list[i], intrinsic_matrix, distortion_coefficients);
  });
  for (std::size_t i = 0; i < redetected.size(); ++i) {
    Redetection& redetection = redetected[i].take();
    if (!redetection.found) {
      logging::log(logging::Level::Warning, failure + std::to_string(i) + ", skipping.");
      continue;
    }
    if (!redetection.camera_T_target) continue;
    poses.camera_T_target_list.push_back(std::move(*redetection.camera_T_target));
    poses.image_indices.push_back(static_cast<int>(i));
    poses.corners.push_back(std::move(redetection.corners));
  }
  return poses;
}

EyeInHandCalibrator::TargetPoses EyeInHandCalibrator::computeTargetPosesFromDetections(
    const std::vector<cv::Mat>& object_points, const std::vector<cv::Mat>& corner_list,
    const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const {
  return posesFromCorners(
      corner_list, [&](std::size_t i) -> const cv::Mat& { return object_points.at(i); }, intrinsic_matrix,
      distortion_coefficients, "");
}

EyeInHandCalibrator::AlignedTargetPoses EyeInHandCalibrator::computeCameraTTargetList(
    const std::vector<cv::Mat>& image_list, const std::vector<cv::Mat>& robot_T_tcp_list,
    const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const {
  HandEyeCaptures captures;
  for (std::size_t i = 0; i < std::min(image_list.size(), robot_T_tcp_list.size()); ++i) {
    captures.push_back({image_list[i], robot_T_tcp_list[i], {}, {}});
  }
  redetectTargetPoses(captures, intrinsic_matrix, distortion_coefficients, image_list.size());
  AlignedTargetPoses aligned;
  for (HandEyeCapture& capture : captures) {
    if (!capture.kept) continue;
    aligned.camera_T_target_list.push_back(std::move(capture.camera_T_target));
    aligned.valid_image_list.push_back(std::move(capture.image));
    aligned.valid_robot_T_tcp_list.push_back(std::move(capture.robot_T_tcp));
    aligned.corners.push_back(std::move(capture.corners));
  }
  return aligned;
}

void EyeInHandCalibrator::redetectTargetPoses(HandEyeCaptures& captures, const cv::Mat& intrinsic_matrix,
                                              const cv::Mat& distortion_coefficients, std::size_t image_count) const {
  if (!std::holds_alternative<CharucoTarget>(target_)) {
    throw std::invalid_argument("EyeInHandCalibrator::computeCameraTTargetList only supports CharucoTarget");
  }
  const TargetDetector detector = redetectionDetector(target_);
  auto redetected = parallelMap(captures.size(), [&](std::size_t i) {
    requireColourImage(captures[i].image, naming_.class_name, i);
    return redetectPose(detector, captures[i].image, intrinsic_matrix, distortion_coefficients);
  });
  for (std::size_t i = 0; i < captures.size(); ++i) {
    Redetection& redetection = redetected[i].take();
    HandEyeCapture& capture = captures[i];
    if (!redetection.found) {
      logging::log(logging::Level::Warning, "frame " + std::to_string(i) + ": ChArUco detection failed  -  skipping");
      capture.kept = false;
      continue;
    }
    if (!redetection.camera_T_target) {
      logging::log(logging::Level::Warning, "frame " + std::to_string(i) + ": solvePnP failed  -  skipping");
      capture.kept = false;
      continue;
    }
    capture.camera_T_target = std::move(*redetection.camera_T_target);
    capture.corners = std::move(redetection.corners);
  }
  logging::log(logging::Level::Info, "compute_camera_T_target_list: " + std::to_string(keptCount(captures)) + "/" +
                                         std::to_string(image_count) + " frames passed");
}

}  // namespace vemo::calibration
