#include "vemo/geometry/stereo_rectification.hpp"

#include <opencv2/calib3d.hpp>

#include <stdexcept>

namespace vemo::geometry {

StereoRectification rectifyStereoPair(const cv::Mat& first_intrinsic_matrix, const cv::Mat& first_distortion,
                                      const cv::Mat& second_intrinsic_matrix, const cv::Mat& second_distortion,
                                      cv::Size image_size, const cv::Mat& second_T_first, double alpha) {
  if (second_T_first.rows != 4 || second_T_first.cols != 4 || second_T_first.channels() != 1) {
    throw std::invalid_argument("rectifyStereoPair: expected a 4x4 second_T_first");
  }
  if (image_size.width <= 0 || image_size.height <= 0) {
    throw std::invalid_argument("rectifyStereoPair: the image size must be positive");
  }
  cv::Mat transform;
  second_T_first.convertTo(transform, CV_64F);
  const cv::Mat rotation = transform(cv::Rect(0, 0, 3, 3)).clone();
  const cv::Mat translation = transform(cv::Rect(3, 0, 1, 3)).clone();
  StereoRectification rectification;
  cv::stereoRectify(first_intrinsic_matrix, first_distortion, second_intrinsic_matrix, second_distortion, image_size,
                    rotation, translation, rectification.rectified_R_first, rectification.rectified_R_second,
                    rectification.first_projection, rectification.second_projection,
                    rectification.disparity_to_depth, cv::CALIB_ZERO_DISPARITY, alpha);
  return rectification;
}

}  // namespace vemo::geometry
