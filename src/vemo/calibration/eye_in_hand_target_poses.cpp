#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <optional>
#include <stdexcept>
#include <string>

#include "vemo/calibration/eye_in_hand_calibrator.hpp"
#include "vemo/core/aruco.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/core/tf.hpp"

namespace vemo::calibration {

namespace {

constexpr std::size_t kMinimumPoints = 4;

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
  return rvecTvecToTransformationMatrix(rvec, tvec);
}

cv::Mat toGrey(const cv::Mat& image) {
  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  return grey;
}

// Detects the ChArUco corners of one image; the object points are the board corners
// selected by the detected ids, in detection order.
struct CharucoView {
  std::vector<cv::Point2f> image_points;
  std::vector<cv::Point3f> object_points;
};

CharucoView detectCharucoView(const aruco::CharucoDetector& detector, const std::vector<cv::Point3f>& board_corners,
                              const cv::Mat& image) {
  CharucoView view;
  std::vector<int> ids;
  detector.detectBoard(toGrey(image), view.image_points, ids);
  view.object_points.reserve(ids.size());
  for (int id : ids) view.object_points.push_back(board_corners.at(static_cast<std::size_t>(id)));
  return view;
}

}  // namespace

cv::Mat rvecTvecToTransformationMatrix(const cv::Mat& rvec, const cv::Mat& tvec) {
  cv::Mat rotation;
  cv::Rodrigues(rvec, rotation);
  return tf::composeTransformationMatrix(rotation, tvec);
}

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
  } else if (const auto* charuco = std::get_if<CharucoTarget>(&target_)) {
    const aruco::CharucoDetector detector = charuco->buildDetector();
    const std::vector<cv::Point3f> board_corners = detector.getBoard().getChessboardCorners();
    for (std::size_t i = 0; i < image_list.size(); ++i) {
      const CharucoView view = detectCharucoView(detector, board_corners, image_list[i]);
      if (view.image_points.size() < kMinimumPoints) {
        logging::log(logging::Level::Warning,
                     "[EyeInHandCalibrator] ChArUco re-detection failed for image " + std::to_string(i) + ", skipping.");
        continue;
      }
      keep(solveTargetPose(view.object_points, view.image_points, intrinsic_matrix, distortion_coefficients), i);
    }
  } else {
    const ArucoTarget& aruco_target = std::get<ArucoTarget>(target_);
    const aruco::ArucoDetector detector(aruco_target.buildDictionary());
    const aruco::GridBoard board = aruco_target.buildBoard();
    for (std::size_t i = 0; i < image_list.size(); ++i) {
      std::vector<std::vector<cv::Point2f>> marker_corners;
      std::vector<int> marker_ids;
      detector.detectMarkers(toGrey(image_list[i]), marker_corners, marker_ids);
      if (marker_ids.size() < kMinimumPoints) {
        logging::log(logging::Level::Warning,
                     "[EyeInHandCalibrator] ArUco re-detection failed for image " + std::to_string(i) + ", skipping.");
        continue;
      }
      cv::Mat object_points, image_points;
      board.matchImagePoints(marker_corners, marker_ids, object_points, image_points);
      if (object_points.empty()) continue;
      keep(solveTargetPose(object_points, image_points, intrinsic_matrix, distortion_coefficients), i);
    }
  }
  return poses;
}

EyeInHandCalibrator::AlignedTargetPoses EyeInHandCalibrator::computeCameraTTargetList(
    const std::vector<cv::Mat>& image_list, const std::vector<cv::Mat>& robot_T_tcp_list,
    const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) const {
  const auto* charuco = std::get_if<CharucoTarget>(&target_);
  if (charuco == nullptr) {
    throw std::invalid_argument("EyeInHandCalibrator::computeCameraTTargetList only supports CharucoTarget");
  }
  const aruco::CharucoDetector detector = charuco->buildDetector();
  const std::vector<cv::Point3f> board_corners = detector.getBoard().getChessboardCorners();

  AlignedTargetPoses aligned;
  for (std::size_t i = 0; i < image_list.size() && i < robot_T_tcp_list.size(); ++i) {
    const CharucoView view = detectCharucoView(detector, board_corners, image_list[i]);
    if (view.image_points.size() < kMinimumPoints) {
      logging::log(logging::Level::Warning, "frame " + std::to_string(i) + ": ChArUco detection failed  -  skipping");
      continue;
    }
    std::optional<cv::Mat> camera_T_target =
        solveTargetPose(view.object_points, view.image_points, intrinsic_matrix, distortion_coefficients);
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
