#pragma once

// cv::calibrateCamera's solve with the Schur complement over the view poses. OpenCV's
// Levenberg-Marquardt solves the normal equations of all 6N + 18 parameters as one dense
// matrix, in time cubic in the views (37 s at 300); here each step eliminates the view poses
// block by block, in time linear in them. Everything else is OpenCV's, so that the two give
// the same camera, step for step:
// - cost: the sum over every corner of the squared distance between its detection and the
//   projection (cv::projectPoints, its derivatives included) of its board point through the
//   view's pose (rvec, tvec) and the camera (fx fy cx cy, skew 0, and the distortion model
//   the flags choose);
// - start: without CALIB_USE_INTRINSIC_GUESS, cv::initCameraMatrix2D's camera (at the given
//   camera matrix's aspect ratio under CALIB_FIX_ASPECT_RATIO) and zero distortion; with it,
//   the given camera and coefficients; each view's pose from cv::solvePnP's iterative method;
// - held: what the CALIB_FIX_* flags and the model hold, at its starting value; under
//   CALIB_FIX_ASPECT_RATIO fx follows fy at the starting ratio;
// - steps: OpenCV's damping schedule and its stopping rule (criteria.maxCount steps, or a step
//   that changes the parameter vector by less than criteria.epsilon of its length).
// A dense solve of the whole matrix and the complement differ only by rounding, so where the
// solve converges both reach the same point.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace vemo::calibration {

// Solves as cv::calibrateCamera does, with its arguments: per view board points (N x 3 or
// N x 1 three-channel, float or double) and detections (N x 1 two-channel or N x 2), all of
// one image size; camera_matrix and distortion are read as OpenCV reads them and replaced by
// the result (distortion shaped as OpenCV returns it for the flags). Returns the RMS
// reprojection error over every corner, pixels. Throws std::invalid_argument on input OpenCV would refuse.
double calibrateCameraSparse(const std::vector<cv::Mat>& object_points, const std::vector<cv::Mat>& image_points,
                             cv::Size image_size, cv::Mat& camera_matrix, cv::Mat& distortion,
                             std::vector<cv::Mat>& rotation_vectors, std::vector<cv::Mat>& translation_vectors,
                             int flags, cv::TermCriteria criteria);

// Whether IntrinsicOptions::camera_solver chooses the sparse solve for a problem of this
// many views (or frames), released object points asked for or not. Throws
// std::invalid_argument for an unknown solver, and for released points under "sparse".
bool sparseSolveChosen(const std::string& camera_solver, bool releases_points, std::size_t views);

}  // namespace vemo::calibration
