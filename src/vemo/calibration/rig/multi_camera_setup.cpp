// MultiCameraCalibrator: construction and the pairing of two cameras' detections.

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/core/logging.hpp"

namespace vemo::calibration {

MultiCameraCalibrator::MultiCameraCalibrator(Target target, int num_cameras, int reference_index,
                                             IntrinsicOptions options, int stereo_calibrate_flags)
    : target_(std::move(target)),
      num_cameras_(num_cameras),
      reference_index_(reference_index),
      options_(std::move(options)),
      stereo_calibrate_flags_(stereo_calibrate_flags) {
  if (num_cameras < 2) {
    throw std::invalid_argument("MultiCameraCalibrator: num_cameras must be >= 2, got " + std::to_string(num_cameras));
  }
  if (reference_index < 0 || reference_index >= num_cameras) {
    throw std::invalid_argument("MultiCameraCalibrator: reference_index out of range for " +
                                std::to_string(num_cameras) + " cameras");
  }
  last_result_ = clearedResult();
}

IntrinsicOptions MultiCameraCalibrator::defaultOptions() {
  IntrinsicOptions options;
  options.criteria = cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 1e-6);
  options.per_view_error_threshold = 3.0;
  return options;
}

MultiCameraResult MultiCameraCalibrator::clearedResult() const {
  const auto cameras = static_cast<std::size_t>(num_cameras_);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  MultiCameraResult result;
  result.reference_index = reference_index_;
  result.reference_T_camera_list.resize(cameras);
  result.intrinsic_matrices.resize(cameras);
  result.distortion_coefficients.resize(cameras);
  result.intrinsic_reprojection_errors.assign(cameras, nan);
  result.intrinsic_rms_px.assign(cameras, nan);
  result.pair_reprojection_errors.assign(cameras, nan);
  return result;
}

namespace {

std::size_t positionOfFrame(const TargetDetections& detections, int frame) {
  const auto found = std::find(detections.successful_indices.begin(), detections.successful_indices.end(), frame);
  if (found == detections.successful_indices.end()) {
    throw std::runtime_error("multi_camera: frame index not found in successful_indices");
  }
  return static_cast<std::size_t>(found - detections.successful_indices.begin());
}

std::vector<int> idList(const cv::Mat& ids) {
  const cv::Mat continuous = ids.isContinuous() ? ids : ids.clone();
  return std::vector<int>(continuous.ptr<int>(), continuous.ptr<int>() + continuous.total());
}

// Position of each id in the list; a repeated id keeps its last position.
std::unordered_map<int, int> positionsOf(const std::vector<int>& ids) {
  std::unordered_map<int, int> positions;
  for (int k = 0; k < static_cast<int>(ids.size()); ++k) positions[ids[k]] = k;
  return positions;
}

std::vector<int> sortedUnique(std::vector<int> ids) {
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

// The rows of image_points (N x 1 CV_32FC2) at the positions of the shared ids.
cv::Mat pointsOfIds(const cv::Mat& image_points, const std::vector<int>& shared,
                    const std::unordered_map<int, int>& positions) {
  cv::Mat selected(static_cast<int>(shared.size()), 1, CV_32FC2);
  for (int k = 0; k < selected.rows; ++k) {
    selected.at<cv::Vec2f>(k) = image_points.at<cv::Vec2f>(positions.at(shared[static_cast<std::size_t>(k)]));
  }
  return selected;
}

// Fewest ChArUco corners two cameras must share in a frame for it to enter their stereo
// solve: fewer constrain a pair's relative pose too weakly to be worth the frame.
constexpr std::size_t kMinimumSharedCorners = 15;

}  // namespace

MultiCameraCalibrator::PairPoints MultiCameraCalibrator::gatherPairPoints(const std::vector<TargetDetections>& detections,
                                                                          int reference_index, int camera_index,
                                                                          const std::vector<int>& frames) const {
  const TargetDetections& reference = detections.at(static_cast<std::size_t>(reference_index));
  const TargetDetections& camera = detections.at(static_cast<std::size_t>(camera_index));
  const bool by_id = !reference.point_ids.empty() && !camera.point_ids.empty();
  cv::Mat board_corners;  // M x 3 CV_32F, row = corner id
  if (by_id) {
    board_corners = cv::Mat(std::get<CharucoTarget>(target_).buildBoard().getChessboardCorners(), true).reshape(1);
  }

  PairPoints pair;
  for (int frame : frames) {
    const std::size_t r = positionOfFrame(reference, frame);
    const std::size_t c = positionOfFrame(camera, frame);
    const cv::Mat& reference_points = reference.image_points[r];
    const cv::Mat& camera_points = camera.image_points[c];
    if (!by_id) {
      if (reference_points.rows != camera_points.rows) {
        logging::log(logging::Level::Warning,
                     "[MultiCameraCalibrator] Frame " + std::to_string(frame) + ": ref has " +
                         std::to_string(reference_points.rows) + " pts, cam " + std::to_string(camera_index) +
                         " has " + std::to_string(camera_points.rows) + " pts; dropping from pair.");
        continue;
      }
      pair.object_points.push_back(reference.object_points[r]);
      pair.reference_image_points.push_back(reference_points);
      pair.camera_image_points.push_back(camera_points);
      continue;
    }

    const std::vector<int> reference_ids = idList(reference.point_ids[r]);
    const std::vector<int> camera_ids = idList(camera.point_ids[c]);
    const std::vector<int> reference_sorted = sortedUnique(reference_ids), camera_sorted = sortedUnique(camera_ids);
    std::vector<int> shared;
    std::set_intersection(reference_sorted.begin(), reference_sorted.end(), camera_sorted.begin(), camera_sorted.end(),
                          std::back_inserter(shared));
    if (shared.size() < kMinimumSharedCorners) {
      logging::log(logging::Level::Warning,
                   "[MultiCameraCalibrator] Frame " + std::to_string(frame) + ": only " + std::to_string(shared.size()) +
                       " corners shared between ref (cam " + std::to_string(reference_index) + ") and cam " +
                       std::to_string(camera_index) + "; dropping from pair.");
      continue;
    }
    cv::Mat object_points(static_cast<int>(shared.size()), 3, CV_32F);
    for (int k = 0; k < object_points.rows; ++k) {
      board_corners.row(shared[static_cast<std::size_t>(k)]).copyTo(object_points.row(k));
    }
    pair.object_points.push_back(object_points);
    pair.reference_image_points.push_back(pointsOfIds(reference_points, shared, positionsOf(reference_ids)));
    pair.camera_image_points.push_back(pointsOfIds(camera_points, shared, positionsOf(camera_ids)));
  }
  return pair;
}

}  // namespace vemo::calibration
