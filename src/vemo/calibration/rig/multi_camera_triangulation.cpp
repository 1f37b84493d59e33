// MultiCameraCalibrator::triangulate: the calibrated rig checked against a ChArUco frame.

#include <cmath>
#include <stdexcept>
#include <string>
#include <variant>

#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/calibration/rig/multi_camera_per_camera_work.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/geometry/corner_observations.hpp"
#include "vemo/geometry/triangulation.hpp"
#include "vemo/geometry/triangulation_figures.hpp"

namespace vemo::calibration {

namespace {

bool finiteRow(const cv::Mat& points, int row) {
  const double* xyz = points.ptr<double>(row);
  return std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::isfinite(xyz[2]);
}

}  // namespace

TriangulationReport MultiCameraCalibrator::triangulate(const std::vector<std::vector<cv::Mat>>& image_lists,
                                                       int frame_index) const {
  PerCameraWork work(image_lists, target_, options_);
  return triangulateWith(last_result_, work, frame_index);
}

TriangulationReport MultiCameraCalibrator::triangulateWith(const MultiCameraResult& rig, PerCameraWork& work,
                                                           int frame_index) const {
  const std::vector<std::vector<cv::Mat>>& image_lists = work.imageLists();
  for (const cv::Mat& pose : rig.reference_T_camera_list) {
    if (pose.empty()) throw std::runtime_error("MultiCameraCalibrator: run calibrate() before triangulate().");
  }
  const auto* charuco = std::get_if<CharucoTarget>(&target_);
  if (!charuco) throw std::invalid_argument("MultiCameraCalibrator::triangulate requires a CharucoTarget");
  const auto cameras = static_cast<std::size_t>(num_cameras_);
  if (image_lists.size() < cameras) {
    throw std::invalid_argument("MultiCameraCalibrator::triangulate: expected " + std::to_string(num_cameras_) +
                                " image lists, got " + std::to_string(image_lists.size()));
  }
  for (std::size_t camera = 0; camera < cameras; ++camera) {
    if (frame_index < 0 || static_cast<std::size_t>(frame_index) >= image_lists[camera].size()) {
      throw std::invalid_argument("MultiCameraCalibrator::triangulate: frame_index " + std::to_string(frame_index) +
                                  " out of range for camera " + std::to_string(camera) + " with " +
                                  std::to_string(image_lists[camera].size()) + " frames");
    }
  }

  std::vector<cv::Mat> corners(cameras), ids(cameras);
  for (std::size_t camera = 0; camera < cameras; ++camera) {
    const geometry::CornerDetection& detection = work.charucoCorners(camera, frame_index);
    if (detection.corners.empty()) {
      logging::log(logging::Level::Warning, "cam_" + std::to_string(camera) + ": detection failed on frame " +
                                                std::to_string(frame_index));
    }
    corners[camera] = detection.corners;
    ids[camera] = detection.ids;
  }
  const geometry::ObservationMap observations = geometry::gatherObservations(corners, ids);
  if (observations.size() < 4) {
    throw std::runtime_error("MultiCameraCalibrator: only " + std::to_string(observations.size()) +
                             " corners visible in >=2 cameras  -  need at least 4.");
  }

  const geometry::TriangulatedPoints triangulated = geometry::triangulateAll(
      observations, geometry::buildProjectionMatrices(rig.intrinsic_matrices, rig.reference_T_camera_list),
      rig.intrinsic_matrices, rig.distortion_coefficients);

  TriangulationReport report;
  report.frame_index = frame_index;
  report.points_3d = triangulated.points;
  report.ids = triangulated.ids;
  int degenerate = 0;
  for (int row = 0; row < triangulated.points.rows; ++row) degenerate += finiteRow(triangulated.points, row) ? 0 : 1;
  if (degenerate > 0) {
    logging::log(logging::Level::Warning,
                 "Dropping " + std::to_string(degenerate) + " corners with degenerate triangulation.");
    report.points_3d = cv::Mat(0, 3, CV_64F);
    report.ids = cv::Mat(0, 1, CV_32S);
    for (int row = 0; row < triangulated.points.rows; ++row) {
      if (!finiteRow(triangulated.points, row)) continue;
      report.points_3d.push_back(triangulated.points.row(row));
      report.ids.push_back(triangulated.ids.row(row));
    }
    if (report.points_3d.empty()) {
      throw std::runtime_error(
          "MultiCameraCalibrator: every triangulated corner was degenerate (check camera baselines and calibration "
          "quality).");
    }
  }

  const geometry::ReprojectionStats reprojection =
      geometry::perCameraReprojectionRms(report.points_3d, report.ids, observations, rig.intrinsic_matrices,
                                         rig.distortion_coefficients, rig.reference_T_camera_list);
  report.neighbor_distances_m = geometry::boardNeighborDistances(report.points_3d, report.ids, charuco->squares_x);
  report.plane_thickness_m = geometry::coplanarityThickness(report.points_3d);
  report.rms_per_camera = reprojection.rms;
  report.counts_per_camera = reprojection.counts;
  return report;
}

}  // namespace vemo::calibration
