#pragma once

// The checks of a camera matrix and distortion coefficients a caller hands to a calibration run.

#include <opencv2/core.hpp>

#include <string>

namespace vemo::calibration {

// Throws std::invalid_argument "<what> must be a finite 3x3 camera matrix with positive
// focal lengths" unless the matrix is single-channel 3x3, finite, with fx > 0 and fy > 0.
// A camera matrix without these would be taken as given and give a wrong answer (or NaN
// poses that look like detection failures).
void requireCameraMatrix(const cv::Mat& intrinsic_matrix, const std::string& what);

// Throws std::invalid_argument "<what>: distortion coefficients must be finite" or "<what>:
// distortion coefficients must be 4, 5, 8, 12 or 14 coefficients" (the counts OpenCV's
// model accepts, as one row or column); empty means no distortion. Non-finite coefficients
// would otherwise turn every pose into NaN, reported as success or as frames not found.
void requireDistortionCoefficients(const cv::Mat& distortion_coefficients, const std::string& what);

}  // namespace vemo::calibration
