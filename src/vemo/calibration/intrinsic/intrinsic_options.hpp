#pragma once

// Tuning of an intrinsic calibration: corner detection and the camera solve.

#include <opencv2/core.hpp>

#include <optional>
#include <string>

namespace vemo::calibration {

// Views from which "auto" chooses the sparse solve: at 50 views of a 476-corner board OpenCV's
// solve takes about 1.5 s and the sparse one 0.35 s; below, both well under a second.
inline constexpr int kSparseSolveFromViews = 50;

struct IntrinsicOptions {
  // Termination of the sub-pixel corner refinement and of the calibration solver.
  // Default: count + eps (type 3), 30 iterations, epsilon 0.001.
  cv::TermCriteria criteria{cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 0.001};

  // Chessboard targets only: "Default" (cv::findChessboardCorners, then cornerSubPix) or
  // "Sector Based" (cv::findChessboardCornersSB, corners used unrefined). Default "Default".
  std::string chessboard_corner_detector = "Default";

  // Flags handed unchanged to the chessboard detector. Default 0 (not OpenCV's own
  // default flag set of findChessboardCorners).
  int chessboard_flags = 0;

  // Half-size w of the cornerSubPix search window, used as (w, w). Default 11.
  int sub_pixel_detection_window_size = 11;

  // Zero zone z of cornerSubPix, used as (z, z); -1 means none. Default -1.
  int sub_pixel_detection_zero_zone_size = -1;

  // Solver: "Default" (cv::calibrateCamera) or "Release Object" (cv::calibrateCameraRO).
  // Not examined for ChArUco targets, which always use cv::calibrateCamera. Default "Default".
  std::string calibrate_camera_method = "Default";

  // Which solve: "opencv" (cv::calibrateCamera, a dense solve cubic in the views), "sparse"
  // (sparse_camera_calibration.hpp: the same solve linear in the views; no released object
  // points) or "auto" (default): OpenCV's up to kSparseSolveFromViews - 1 views, where it is
  // still quick and its answer is the plain script's to the last digit, the sparse one from
  // there on.
  std::string camera_solver = "auto";

  // cv::CALIB_* flags of the solver. Default 0.
  int calibrate_camera_flags = 0;

  // Object point held fixed by the release-object solver. OpenCV releases the object
  // points only for an index within 1 to N-2, so the default 0 releases nothing.
  int index_of_fixed_3d_point = 0;

  // Initial camera matrix (3x3) and distortion coefficients for the solver; unset by
  // default. OpenCV reads them only under CALIB_USE_INTRINSIC_GUESS (or the CALIB_FIX_*
  // flags). The calibrator solves on copies: these fields are never changed.
  std::optional<cv::Mat> intrinsic_matrix_guess;
  std::optional<cv::Mat> distortion_coefficients_guess;

  // A view is good when its RMS reprojection error (pixels) is at most this value; the
  // threshold selects views for the caller, it never removes them from the solve.
  // Default 1.0.
  double per_view_error_threshold = 1.0;
};

}  // namespace vemo::calibration
