#include "vemo/geometry/triangulation.hpp"

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <limits>

namespace vemo::geometry {

std::vector<cv::Mat> buildProjectionMatrices(const std::vector<cv::Mat>& intrinsic_matrices,
                                             const std::vector<cv::Mat>& reference_T_camera_list) {
  std::vector<cv::Mat> projections;
  projections.reserve(intrinsic_matrices.size());
  for (std::size_t camera = 0; camera < intrinsic_matrices.size(); ++camera) {
    const cv::Mat camera_T_reference = reference_T_camera_list[camera].inv(cv::DECOMP_LU);
    cv::Mat intrinsic;
    intrinsic_matrices[camera].convertTo(intrinsic, CV_64F);
    projections.push_back(intrinsic * camera_T_reference.rowRange(0, 3));
  }
  return projections;
}

namespace {

// The pixel where the camera would have seen the point without lens distortion.
cv::Point2d undistortedPixel(const cv::Point2d& pixel, const cv::Mat& intrinsic, const cv::Mat& distortion) {
  std::vector<cv::Point2d> source{pixel}, ideal;
  cv::undistortPoints(source, ideal, intrinsic, distortion, cv::noArray(), intrinsic);
  return ideal[0];
}

}  // namespace

TriangulatedPoints triangulateAll(const ObservationMap& observations, const std::vector<cv::Mat>& projection_matrices,
                                  const std::vector<cv::Mat>& intrinsic_matrices,
                                  const std::vector<cv::Mat>& distortion_coefficients) {
  const int count = static_cast<int>(observations.size());
  TriangulatedPoints triangulated{cv::Mat(count, 3, CV_64F), cv::Mat(count, 1, CV_32S)};
  int row = 0;
  for (const auto& [id, seen] : observations) {
    cv::Mat system(2 * static_cast<int>(seen.size()), 4, CV_64F);
    for (std::size_t k = 0; k < seen.size(); ++k) {
      const auto& [camera, pixel] = seen[k];
      const cv::Mat& projection = projection_matrices[camera];
      const cv::Point2d ideal = undistortedPixel(pixel, intrinsic_matrices[camera], distortion_coefficients[camera]);
      const int equation = 2 * static_cast<int>(k);
      system.row(equation) = ideal.x * projection.row(2) - projection.row(0);
      system.row(equation + 1) = ideal.y * projection.row(2) - projection.row(1);
    }
    cv::Mat singular_values, u, vt;
    cv::SVD::compute(system, singular_values, u, vt);
    const double* homogeneous = vt.ptr<double>(3);
    double* point = triangulated.points.ptr<double>(row);
    if (std::abs(homogeneous[3]) < 1e-12) {
      point[0] = point[1] = point[2] = std::numeric_limits<double>::quiet_NaN();
    } else {
      for (int axis = 0; axis < 3; ++axis) point[axis] = homogeneous[axis] / homogeneous[3];
    }
    triangulated.ids.at<int>(row) = id;
    ++row;
  }
  return triangulated;
}

}  // namespace vemo::geometry
