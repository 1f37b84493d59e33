#include "vemo/calibration/intrinsic/lens_projection.hpp"

namespace vemo::calibration {

LensParameters lensParametersOf(const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) {
  cv::Mat camera;
  intrinsic_matrix.convertTo(camera, CV_64F);
  LensParameters lens{};
  lens[0] = camera.at<double>(0, 0);
  lens[1] = camera.at<double>(1, 1);
  lens[2] = camera.at<double>(0, 2);
  lens[3] = camera.at<double>(1, 2);
  if (distortion_coefficients.empty()) return lens;  // no distortion (reshape refuses an empty Mat)
  cv::Mat distortion;
  distortion_coefficients.reshape(1, 1).convertTo(distortion, CV_64F);
  for (int k = 0; k < distortion.cols && k < kLensParameterCount - 4; ++k) lens[4 + k] = distortion.at<double>(k);
  return lens;
}

cv::Mat cameraMatrixOf(const LensParameters& lens, double skew) {
  return (cv::Mat_<double>(3, 3) << lens[0], skew, lens[2], 0.0, lens[1], lens[3], 0.0, 0.0, 1.0);
}

cv::Mat distortionOf(const LensParameters& lens, int distortion_count) {
  cv::Mat distortion(1, distortion_count, CV_64F);
  for (int k = 0; k < distortion_count; ++k) distortion.at<double>(k) = lens[4 + k];
  return distortion;
}

}  // namespace vemo::calibration
