#pragma once

// cv::stereoCalibrate under CALIB_FIX_INTRINSIC, solved with the Schur complement over the
// frames' board poses (view_block_least_squares.hpp): OpenCV's dense solve of the relative
// pose and every frame's pose at once costs time cubic in the frames. The problem, its start
// and its steps are OpenCV's:
// - cost: the squared reprojection distances of both cameras' corners, the first camera's
//   through the frame's board pose (rvec, tvec), the second's through that pose composed with
//   the relative pose (second camera from first: x2 = R x1 + T);
// - start: each frame's board pose from cv::solvePnP in the first camera, and the relative
//   pose as the component-wise median over the frames of the relative poses their two
//   solvePnP poses give.

#include <opencv2/core.hpp>

#include <vector>

namespace vemo::calibration {

// As cv::stereoCalibrate with CALIB_FIX_INTRINSIC: per frame the board points and both
// cameras' detections of them, both cameras' fixed intrinsics; writes the relative pose
// (rotation 3x3 and translation 3x1, CV_64F) and returns the RMS reprojection error over
// both cameras' corners, pixels. Throws std::invalid_argument on malformed input.
double stereoCalibrateSparse(const std::vector<cv::Mat>& object_points, const std::vector<cv::Mat>& image_points1,
                             const std::vector<cv::Mat>& image_points2, const cv::Mat& camera_matrix1,
                             const cv::Mat& distortion1, const cv::Mat& camera_matrix2, const cv::Mat& distortion2,
                             cv::Mat& rotation, cv::Mat& translation, cv::TermCriteria criteria);

}  // namespace vemo::calibration
