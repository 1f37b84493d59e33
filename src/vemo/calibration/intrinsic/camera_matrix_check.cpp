#include "vemo/calibration/intrinsic/camera_matrix_check.hpp"

#include <stdexcept>

namespace vemo::calibration {

void requireCameraMatrix(const cv::Mat& intrinsic_matrix, const std::string& what) {
  cv::Mat camera;
  const bool square = intrinsic_matrix.dims == 2 && intrinsic_matrix.rows == 3 && intrinsic_matrix.cols == 3 &&
                      intrinsic_matrix.channels() == 1;
  if (square) intrinsic_matrix.convertTo(camera, CV_64F);
  if (!square || !cv::checkRange(camera) || !(camera.at<double>(0, 0) > 0.0) || !(camera.at<double>(1, 1) > 0.0)) {
    throw std::invalid_argument(what + " must be a finite 3x3 camera matrix with positive focal lengths");
  }
}

}  // namespace vemo::calibration
