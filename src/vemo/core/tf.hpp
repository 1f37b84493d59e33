#pragma once

#include <opencv2/core.hpp>

#include <vector>

// Conversions between the 6-number pose vector shown to users and 4x4 homogeneous
// transforms. Pose vector: [x, y, z, rx, ry, rz]; translation in the matrix's unit
// (metres throughout the library), angles in degrees, extrinsic X-Y-Z Euler angles,
// that is R = Rz(rz) * Ry(ry) * Rx(rx).
namespace vemo::tf {

// 4x4 CV_64F transform of a pose vector. Throws std::invalid_argument unless the
// vector has exactly 6 elements.
cv::Mat poseToTransformationMatrix(const std::vector<double>& pose_xyzrpy_deg);

// Pose vector of a 4x4 matrix of any numeric depth. Only the rotation block and the
// translation column are read; orthonormality is not checked. At |ry| = 90 degrees
// (gimbal lock) rx is reported as 0 and the whole rotation about Z goes into rz.
// Throws std::invalid_argument unless the matrix is 4x4.
std::vector<double> transformationMatrixToPose(const cv::Mat& transformation);

// 4x4 CV_64F transform of a 3x3 rotation block and a 3-element translation (any
// floating-point depth), as the OpenCV solvers return them.
cv::Mat composeTransformationMatrix(const cv::Mat& rotation, const cv::Mat& translation);

// Mean of rigid transforms: the arithmetic mean of the translations and the rotation
// sum projected onto SO(3) by SVD (equal weights). Throws std::invalid_argument for an
// empty list or a matrix smaller than 3x4 (only the top 3x4 block of each is read).
cv::Mat averagePose(const std::vector<cv::Mat>& poses);

}  // namespace vemo::tf
