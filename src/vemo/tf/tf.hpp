#pragma once

// Folder tf/: the pose kit, namespace vemo::tf.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// The pose kit: conversions between the 6-number pose vector shown to users and 4x4
// homogeneous transforms, the blocks of a transform, rotation vectors, and the one check
// of what a pose must be. Pose vector: [x, y, z, rx, ry, rz]; translation in the
// matrix's unit (metres throughout the library), angles in degrees, extrinsic X-Y-Z
// Euler angles, that is R = Rz(rz) * Ry(ry) * Rx(rx).
namespace vemo::tf {

inline constexpr double kPi = 3.141592653589793;

inline double degreesFromRadians(double radians) { return radians * 180.0 / kPi; }
inline double radiansFromDegrees(double degrees) { return degrees * kPi / 180.0; }

// 4x4 CV_64F transform of a pose vector. Throws std::invalid_argument unless the
// vector has exactly 6 elements.
cv::Mat poseToTransformationMatrix(const std::vector<double>& pose_xyzrpy_deg);

// Pose vector of a 4x4 matrix of any numeric depth. Only the rotation block and the
// translation column are read; orthonormality is not checked. At |ry| = 90 degrees
// (gimbal lock) rx is reported as 0 and the whole rotation about Z goes into rz. A
// rotation block holding NaN or infinity gives NaN angles. Throws std::invalid_argument
// unless the matrix is 4x4.
std::vector<double> transformationMatrixToPose(const cv::Mat& transformation);

// 4x4 CV_64F transform of a 3x3 rotation block and a 3-element translation (any
// floating-point depth), as the OpenCV solvers return them.
cv::Mat composeTransformationMatrix(const cv::Mat& rotation, const cv::Mat& translation);

// Mean of rigid transforms: the arithmetic mean of the translations and the rotation
// sum projected onto SO(3) by SVD (equal weights). Throws std::invalid_argument for an
// empty list or a matrix smaller than 3x4 (only the top 3x4 block of each is read).
cv::Mat averagePose(const std::vector<cv::Mat>& poses);

// The top-left 3x3 rotation block and the 3x1 translation column of a transform with at
// least 3 rows and 4 columns: views sharing its data, of its depth.
cv::Mat rotationOf(const cv::Mat& a_T_b);
cv::Mat translationOf(const cv::Mat& a_T_b);

// 4x4 CV_64F transform from a PnP solution's rotation vector (Rodrigues) and translation.
cv::Mat rvecTvecToTransformationMatrix(const cv::Mat& rvec, const cv::Mat& tvec);
// Rotation vector and translation (3x1, the transform's depth) of a 4x4 transform, as
// cv::projectPoints and cv::solvePnP take them.
void transformationMatrixToRvecTvec(const cv::Mat& a_T_b, cv::Mat& rvec, cv::Mat& tvec);

// Angle of the rotation between the rotation blocks of two transforms (or two 3x3
// rotations), degrees in [0, 180]. Both must share one depth.
double rotationAngleDeg(const cv::Mat& a_T_b, const cv::Mat& a_T_c);

// What a pose may be required to be. The shape (single-channel 4x4) is always required.
struct PoseRequirements {
  bool finite = true;
  bool homogeneous_last_row = true;  // last row (0, 0, 0, 1) within 1e-6
  bool invertible_rotation = true;   // |det R| > 1e-6
  bool orthonormal_rotation = false; // a proper rotation: see kOrthonormalityTolerance
};

// Largest |R^T R - I| element a rotation block may show and still count as a rotation:
// rotations exported with 4 decimals reach about 1e-3; a 1 % scale gives 2e-2. A
// reflection (det R < 0) never counts.
inline constexpr double kOrthonormalityTolerance = 5e-3;

enum class PoseDefect { None, NotSingleChannel4x4, NotFinite, LastRowNotHomogeneous, SingularRotation, NotRotation };

// The first defect of the pose under the requirements, in the order of the enumeration.
PoseDefect findPoseDefect(const cv::Mat& pose, const PoseRequirements& requirements = {});

// Text for a defect, fit to follow a pose's name: "must be a single-channel 4x4 matrix", ...
std::string describePoseDefect(PoseDefect defect);

}  // namespace vemo::tf
