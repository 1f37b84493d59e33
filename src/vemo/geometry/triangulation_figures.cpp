#include "vemo/geometry/triangulation_figures.hpp"

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <limits>
#include <unordered_map>

#include "vemo/tf/tf.hpp"

namespace vemo::geometry {

namespace {

// Row of each id; a later duplicate replaces an earlier one.
std::unordered_map<int, int> rowsById(const cv::Mat& ids) {
  const cv::Mat continuous = ids.isContinuous() ? ids : ids.clone();
  std::unordered_map<int, int> rows;
  for (int row = 0; row < static_cast<int>(continuous.total()); ++row) rows[continuous.ptr<int>()[row]] = row;
  return rows;
}

cv::Point3d pointAt(const cv::Mat& points, int row) {
  const double* xyz = points.ptr<double>(row);
  return {xyz[0], xyz[1], xyz[2]};
}

}  // namespace

double coplanarityThickness(const cv::Mat& points) {
  if (points.rows <= 2) return std::numeric_limits<double>::quiet_NaN();
  cv::Mat mean;
  cv::reduce(points, mean, 0, cv::REDUCE_AVG, CV_64F);
  const cv::Mat centred = points - cv::repeat(mean, points.rows, 1);
  cv::Mat singular_values;
  cv::SVD::compute(centred, singular_values);
  return singular_values.at<double>(2);
}

ReprojectionStats perCameraReprojectionRms(const cv::Mat& points, const cv::Mat& ids,
                                           const ObservationMap& observations,
                                           const std::vector<cv::Mat>& intrinsic_matrices,
                                           const std::vector<cv::Mat>& distortion_coefficients,
                                           const std::vector<cv::Mat>& reference_T_camera_list) {
  const std::unordered_map<int, int> rows = rowsById(ids);
  const std::size_t cameras = intrinsic_matrices.size();
  ReprojectionStats stats{std::vector<double>(cameras, std::numeric_limits<double>::quiet_NaN()),
                          std::vector<int>(cameras, 0)};
  for (std::size_t camera = 0; camera < cameras; ++camera) {
    std::vector<cv::Point3f> object_points;
    std::vector<cv::Point2d> observed;
    for (const auto& [id, seen] : observations) {
      const auto row = rows.find(id);
      if (row == rows.end()) continue;
      for (const auto& [by_camera, pixel] : seen) {
        if (by_camera != static_cast<int>(camera)) continue;
        object_points.emplace_back(pointAt(points, row->second));
        observed.push_back(pixel);
        break;
      }
    }
    if (object_points.empty()) continue;

    cv::Mat rvec, tvec;
    tf::transformationMatrixToRvecTvec(reference_T_camera_list[camera].inv(cv::DECOMP_LU), rvec, tvec);
    std::vector<cv::Point2f> projected;
    cv::projectPoints(object_points, rvec, tvec, intrinsic_matrices[camera], distortion_coefficients[camera],
                      projected);
    double squared = 0.0;
    for (std::size_t k = 0; k < projected.size(); ++k) {
      const double du = projected[k].x - observed[k].x, dv = projected[k].y - observed[k].y;
      squared += du * du + dv * dv;
    }
    stats.rms[camera] = std::sqrt(squared / static_cast<double>(projected.size()));
    stats.counts[camera] = static_cast<int>(projected.size());
  }
  return stats;
}

std::vector<double> boardNeighborDistances(const cv::Mat& points, const cv::Mat& ids, int squares_x) {
  const std::unordered_map<int, int> rows = rowsById(ids);
  const int per_row = squares_x - 1;
  const cv::Mat continuous = ids.isContinuous() ? ids : ids.clone();
  std::vector<double> distances;
  for (int row = 0; row < points.rows; ++row) {
    const int id = continuous.ptr<int>()[row];
    const cv::Point3d point = pointAt(points, row);
    const auto right = rows.find(id + 1);
    if (right != rows.end() && id % per_row != squares_x - 2) {
      distances.push_back(cv::norm(point - pointAt(points, right->second)));
    }
    const auto lower = rows.find(id + per_row);
    if (lower != rows.end()) distances.push_back(cv::norm(point - pointAt(points, lower->second)));
  }
  return distances;
}

}  // namespace vemo::geometry
