#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/calibration/hand_eye/hand_eye_input_checks.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/calibration/hand_eye/hand_eye_verdict.hpp"
#include "vemo/calibration/hand_eye/pose_reading_check.hpp"
#include "vemo/calibration/intrinsic/camera_matrix_check.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/io/result_records.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

using eye_in_hand::kMinimumCaptures;
using logging::Level;

template <class T>
std::vector<T> pick(const std::vector<T>& items, const std::vector<int>& indices) {
  std::vector<T> picked;
  picked.reserve(indices.size());
  for (int index : indices) picked.push_back(items.at(static_cast<std::size_t>(index)));
  return picked;
}

// The rotation blocks of all target poses lie within the tolerance (max abs element) of the first.
bool allOrientationsEqual(const std::vector<cv::Mat>& camera_T_target_list) {
  for (std::size_t j = 1; j < camera_T_target_list.size(); ++j) {
    if (cv::norm(tf::rotationOf(camera_T_target_list[j]) - tf::rotationOf(camera_T_target_list[0]), cv::NORM_INF) >=
        eye_in_hand::kSameOrientationTolerance) {
      return false;
    }
  }
  return true;
}

// The solve, and the warnings (logged here) of poses that fit much better read otherwise.
cv::Mat solveTcpTCamera(HandEyeSolutions& solutions, int method, FlangeHolds holder, const std::string& class_name,
                        std::vector<std::string>& misreadings) {
  const cv::Mat tcp_T_camera = solutions.solution(method);
  if (tcp_T_camera.empty()) return tcp_T_camera;
  misreadings = findPoseMisreadings(solutions, method, holder, class_name);
  for (const std::string& warning : misreadings) logging::log(Level::Warning, warning);
  return tcp_T_camera;
}

// AX = XB pins the hand-eye rotation only with flange motions about two different axes;
// with fewer the solvers still return a transform, metres to light years off.
bool robotRotatesAboutTwoAxes(const std::vector<cv::Mat>& robot_T_tcp_list) {
  std::vector<cv::Vec3d> motion_rvecs;
  for (std::size_t i = 1; i < robot_T_tcp_list.size(); ++i) {
    const cv::Mat motion = robot_T_tcp_list[i - 1].inv(cv::DECOMP_LU) * robot_T_tcp_list[i];
    cv::Vec3d rvec;
    cv::Rodrigues(tf::rotationOf(motion), rvec);
    motion_rvecs.push_back(rvec);
  }
  if (motion_rvecs.size() < 2) return false;
  cv::Mat singular_values;
  cv::SVD::compute(cv::Mat(motion_rvecs, false).reshape(1, static_cast<int>(motion_rvecs.size())), singular_values,
                   cv::SVD::NO_UV);
  return singular_values.at<double>(1) > tf::radiansFromDegrees(eye_in_hand::kMinimumSecondAxisRotationDeg);
}

}  // namespace

EyeInHandCalibrator::EyeInHandCalibrator(Target target, IntrinsicOptions options)
    : target_(std::move(target)), intrinsic_calibrator_(target_, std::move(options)) {}

EyeInHandCalibrator::EyeInHandCalibrator(Target target, IntrinsicOptions options, Naming naming)
    : EyeInHandCalibrator(std::move(target), std::move(options)) {
  naming_ = std::move(naming);
}

HandEyeResult EyeInHandCalibrator::calibrate(const std::vector<cv::Mat>& robot_T_tcp_list,
                                             const std::vector<cv::Mat>& image_list, const std::string& method,
                                             const std::vector<cv::Mat>& camera_T_target_list,
                                             const cv::Mat& intrinsic_matrix,
                                             const cv::Mat& distortion_coefficients,
                                             const std::filesystem::path& output_path) {
  handEyeMethodValue(method);  // an unknown method is refused before anything is logged
  return solvePreparedCaptures(
      prepareCaptures(robot_T_tcp_list, image_list, camera_T_target_list, intrinsic_matrix, distortion_coefficients),
      method, output_path);
}

EyeInHandCalibrator::PreparedCaptures EyeInHandCalibrator::prepareCaptures(
    const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& image_list,
    const std::vector<cv::Mat>& camera_T_target_list, const cv::Mat& intrinsic_matrix,
    const cv::Mat& distortion_coefficients, const TargetDetections* image_detections) {
  requireRigidPoses(robot_T_tcp_list, "robot_T_tcp_list", naming_.class_name);
  requireRigidPoses(camera_T_target_list, "camera_T_target_list", naming_.class_name);
  if (!intrinsic_matrix.empty()) requireCameraMatrix(intrinsic_matrix, naming_.class_name + ": intrinsic_matrix");

  const bool poses_given = !camera_T_target_list.empty();
  const bool redetect = !poses_given && !intrinsic_matrix.empty();
  // Images pair with robot poses by index on both detecting paths: a list left over would
  // be silently dropped, or pair captures wrongly.
  if (!poses_given && robot_T_tcp_list.size() != image_list.size()) {
    throw std::invalid_argument(naming_.class_name +
                                ": robot_T_tcp_list and image_list must have the same length. Got " +
                                std::to_string(robot_T_tcp_list.size()) + " (robot) vs " +
                                std::to_string(image_list.size()) + " (images).");
  }
  requireDistortionCoefficients(distortion_coefficients, naming_.class_name + ": distortion_coefficients");

  logging::log(Level::Info, "Collected images " + std::to_string(image_list.size()));
  logging::log(Level::Info, "Collected poses " + std::to_string(robot_T_tcp_list.size()));

  PreparedCaptures prepared;
  prepared.input_image_count = image_list.size();
  HandEyeResult& result = prepared.result;
  result.intrinsic_matrix = intrinsic_matrix;
  result.distortion_coefficients = distortion_coefficients;
  HandEyeCaptures& captures = prepared.captures;
  const std::vector<cv::Mat> robot_poses = posesAsDouble(robot_T_tcp_list);

  if (poses_given) {
    if (camera_T_target_list.size() != robot_poses.size()) {
      throw std::invalid_argument(
          naming_.class_name + ": robot_T_tcp_list must be pre-aligned to camera_T_target_list. Got " +
          std::to_string(robot_poses.size()) + " (robot) vs " + std::to_string(camera_T_target_list.size()) +
          " (camera). Filter robot_T_tcp_list by the backend's successful indices before passing it in.");
    }
    const std::vector<cv::Mat> target_poses = posesAsDouble(camera_T_target_list);
    for (std::size_t i = 0; i < robot_poses.size(); ++i) captures.push_back({{}, robot_poses[i], {}, target_poses[i]});
  } else {
    for (std::size_t i = 0; i < robot_poses.size(); ++i) captures.push_back({image_list[i], robot_poses[i], {}, {}});
    if (redetect) {
      redetectTargetPoses(captures, intrinsic_matrix, distortion_coefficients, image_list.size());
      if (keptCount(captures) < kMinimumCaptures) {
        logging::log(Level::Error, "Only " + std::to_string(keptCount(captures)) +
                                       " valid frames after solvePnP  -  need at least " +
                                       std::to_string(kMinimumCaptures) + ".");
        setAlignedLists(captures, result, false);
        return prepared;
      }
    } else {
      const bool enough = targetPosesFromIntrinsics(captures, result, image_list, image_detections);
      prepared.intrinsic_verdict = last_intrinsic_result_.verdict;
      if (!enough) {
        setAlignedLists(captures, result, false);
        return prepared;
      }
    }
  }

  setAlignedLists(captures, result, true);
  // Given target poses leave the images unread: the list is carried into the result as given.
  if (poses_given) result.valid_image_list = image_list;
  if (keptCount(captures) < kMinimumCaptures) {
    logging::log(Level::Error, "Not enough valid poses for hand-eye calibration after filtering. Got " +
                                   std::to_string(keptCount(captures)) + ", need at least " +
                                   std::to_string(kMinimumCaptures) + ".");
    return prepared;
  }

  if (result.camera_T_target_list.size() >= 2 && allOrientationsEqual(result.camera_T_target_list)) {
    logging::log(Level::Warning,
                 "[" + naming_.class_name + "] All camera poses have identical orientation! Hand-eye calibration "
                 "requires varied rotations to solve uniquely.");
  }
  if (!robotRotatesAboutTwoAxes(result.valid_robot_T_tcp_list)) {
    logging::log(Level::Error,
                 "[" + naming_.class_name + "] The robot must rotate between captures, about at least two different "
                 "axes: the flange motions of the robot poses given do not, so " + naming_.solved_transform +
                 " cannot be solved.");
    return prepared;
  }
  prepared.solvable = true;
  prepared.solutions = std::make_shared<HandEyeSolutions>(result.valid_robot_T_tcp_list, result.camera_T_target_list);
  return prepared;
}

bool EyeInHandCalibrator::targetPosesFromIntrinsics(HandEyeCaptures& captures, HandEyeResult& result,
                                                    const std::vector<cv::Mat>& image_list,
                                                    const TargetDetections* image_detections) {
  last_intrinsic_result_ = image_detections
                               ? intrinsic_calibrator_.calibrateWithDetections(image_list, *image_detections)
                               : intrinsic_calibrator_.calibrate(image_list);
  const IntrinsicResult& intrinsics = last_intrinsic_result_;
  result.intrinsic_matrix = intrinsics.intrinsic_matrix;
  result.distortion_coefficients = intrinsics.distortion_coefficients;
  result.reprojection_error = intrinsics.reprojection_error;
  result.intrinsic_rms_px = cornerRms(intrinsics);

  // Views within the per-view threshold when there are any, else every detected view.
  std::vector<int> kept_views;
  if (intrinsics.low_view_error_indices.empty()) {
    for (std::size_t v = 0; v < intrinsics.successful_indices.size(); ++v) kept_views.push_back(static_cast<int>(v));
  } else {
    kept_views = intrinsics.low_view_error_indices;
  }
  keepOnly(captures, pick(intrinsics.successful_indices, kept_views));
  if (result.intrinsic_matrix.empty() || keptCount(captures) < kMinimumCaptures) {
    logging::log(Level::Error, "Not enough valid images for extrinsic calibration. Need at least " +
                                   std::to_string(kMinimumCaptures) + "!");
    return false;
  }

  logging::log(Level::Info, "Calculating extrinsic (hand-eye) transform...");
  const std::vector<cv::Mat> corners = pick(intrinsics.image_points, kept_views);
  TargetPoses target_poses =
      std::holds_alternative<CharucoTarget>(target_)
          ? computeTargetPosesFromDetections(pick(intrinsic_calibrator_.detections().object_points, kept_views),
                                             corners, result.intrinsic_matrix, result.distortion_coefficients)
          : computeTargetPoses(keptImages(captures), corners, result.intrinsic_matrix,
                               result.distortion_coefficients);
  keepOnly(captures, target_poses.image_indices);
  std::size_t solved = 0;
  for (HandEyeCapture& capture : captures) {
    if (!capture.kept) continue;
    capture.camera_T_target = std::move(target_poses.camera_T_target_list[solved]);
    capture.corners = std::move(target_poses.corners[solved]);
    ++solved;
  }
  return true;
}

HandEyeResult EyeInHandCalibrator::solveCaptures(const PreparedCaptures& captures, const std::string& method) const {
  const int method_value = handEyeMethodValue(method);
  HandEyeResult result = captures.result;
  if (!captures.solvable) return result;

  std::vector<std::string> misreadings;
  result.tcp_T_camera =
      solveTcpTCamera(*captures.solutions, method_value, naming_.flange_holds, naming_.class_name, misreadings);
  if (result.tcp_T_camera.empty()) {
    logging::log(Level::Error, "[" + naming_.class_name + "] " + method +
                                   " needs at least 2 motions between captures that turn the flange and the camera "
                                   "by 17 to 116 degrees: include larger rotations, or choose another method.");
    return result;
  }
  result.ok = true;
  computeConsistency(result);
  const std::vector<CaptureCorners> corners = keptCorners(captures.captures);
  const std::vector<int> positions = keptPositions(captures.captures);
  result.verdict = judgeHandEye(
      {result, corners, positions, method_value, *captures.solutions, misreadings, captures.intrinsic_verdict, target_,
       verdict_options_, naming_.class_name});
  return result;
}

HandEyeResult EyeInHandCalibrator::solvePreparedCaptures(const PreparedCaptures& captures, const std::string& method,
                                                         const std::filesystem::path& output_path) {
  HandEyeResult result = solveCaptures(captures, method);
  if (result.ok) keepAndReport(result, captures, method, output_path);
  return result;
}

void EyeInHandCalibrator::keepAndReport(const HandEyeResult& result, const PreparedCaptures& captures,
                                        const std::string& method, const std::filesystem::path& output_path) {
  last_result_ = result;
  refinement_state_ = {keptCorners(captures.captures), {}};
  logging::log(Level::Info, "Extrinsic calibration complete.");
  printResults();
  if (output_path.empty()) return;
  io::HandEyeResultRecord record;
  record.reference_index = 0;
  record.num_cameras = 1;
  record.method = method;
  record.num_frames_used = static_cast<int>(result.valid_image_list.size());
  record.num_frames_total = static_cast<int>(captures.input_image_count);
  record.tcp_T_camera_list = {result.tcp_T_camera};
  io::saveHandEyeResult(output_path, record);
}

}  // namespace vemo::calibration
