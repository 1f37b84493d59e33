#pragma once

// The check of a camera matrix a caller hands to a calibration run.

#include <opencv2/core.hpp>

#include <string>

namespace vemo::calibration {

// Throws std::invalid_argument "<what> must be a finite 3x3 camera matrix with positive
// focal lengths" unless the matrix is single-channel 3x3, finite, with fx > 0 and fy > 0.
// A camera matrix without these would be taken as given and give a wrong answer (or NaN
// poses that look like detection failures).
void requireCameraMatrix(const cv::Mat& intrinsic_matrix, const std::string& what);

}  // namespace vemo::calibration
