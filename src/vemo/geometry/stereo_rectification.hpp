#pragma once

// Rectification of a calibrated camera pair (cv::stereoRectify), for the tools that want
// row-aligned images: ROS camera_info files carry its rotations and projections.

#include <opencv2/core.hpp>

namespace vemo::geometry {

struct StereoRectification {
  cv::Mat rectified_R_first;   // 3x3 CV_64F: first camera frame into its rectified frame (OpenCV's R1)
  cv::Mat rectified_R_second;  // 3x3 CV_64F: the same for the second camera (R2)
  cv::Mat first_projection;    // 3x4 CV_64F: rectified first frame to rectified pixels (P1)
  cv::Mat second_projection;   // 3x4 CV_64F: the same for the second, with -f * baseline in (0, 3) (P2)
  cv::Mat disparity_to_depth;  // 4x4 CV_64F: OpenCV's Q
};

// Rectifies the pair whose relative pose is second_T_first (4x4, metres: first camera frame
// into the second's), with zero disparity at infinity (CALIB_ZERO_DISPARITY). alpha as in
// OpenCV: 0 keeps only valid pixels, 1 keeps every source pixel, -1 OpenCV's own scaling.
// Throws std::invalid_argument "rectifyStereoPair: ..." for a transform that is not 4x4 or
// an image size that is not positive; OpenCV's errors pass through.
StereoRectification rectifyStereoPair(const cv::Mat& first_intrinsic_matrix, const cv::Mat& first_distortion,
                                      const cv::Mat& second_intrinsic_matrix, const cv::Mat& second_distortion,
                                      cv::Size image_size, const cv::Mat& second_T_first, double alpha);

}  // namespace vemo::geometry
