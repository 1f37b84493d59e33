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

void requireDistortionCoefficients(const cv::Mat& distortion_coefficients, const std::string& what) {
  if (distortion_coefficients.empty()) return;
  const std::size_t count = distortion_coefficients.total() * static_cast<std::size_t>(distortion_coefficients.channels());
  const bool vector = distortion_coefficients.dims == 2 &&
                      (distortion_coefficients.rows == 1 || distortion_coefficients.cols == 1);
  if (!vector || (count != 4 && count != 5 && count != 8 && count != 12 && count != 14)) {
    throw std::invalid_argument(what + ": distortion coefficients must be 4, 5, 8, 12 or 14 coefficients");
  }
  cv::Mat coefficients;
  distortion_coefficients.convertTo(coefficients, CV_64F);
  if (!cv::checkRange(coefficients)) throw std::invalid_argument(what + ": distortion coefficients must be finite");
}

}  // namespace vemo::calibration
