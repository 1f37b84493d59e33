#pragma once

// Bundle adjustment of a calibrated rig. The pairwise run solves each camera against the
// reference with intrinsics calibrated from that camera alone, then frozen; this fits all
// of it at once to the measurement whose noise is known, the corner pixels:
//   cost = 1/2 * sum over every corner c seen by camera k in frame f of
//          huber_s( |project(lens_k, inverse(reference_T_camera_k) * reference_T_board_f * p_c) - x_c|^2 )
// (Ceres's HuberLoss of scale s pixels on the squared distance), over every camera's lens
// (in its calibration's model), every camera's pose in the reference camera's frame (the
// reference itself held at the identity: it fixes the gauge) and every frame's board pose.
// A frame a camera missed has no terms for it. Sigma comes from the Jacobian at the
// solution scaled by the residual variance: it covers corner noise, lens errors included.
//
// The scale s is the caller's, or chosen from the data (robust_loss_scale.hpp): a pilot solve
// of the same cost with s = kPilotLossScalePx gives the corners' robust noise sigma (1.4826
// times the median absolute residual component, which a minority of bad corners does not
// inflate), then s = kLossScaleNoiseMultiple * sigma, solved again from the start. Corners
// within the core's noise count as in least squares and the few pixels off count linearly:
// on rendered rigs with 0.5 px corner noise, where 1.7 % of the corners are misdetected by
// 2 to 7 px, a scale of 1 px leaves the rig 1.35 times the noise floor and least squares 2.6
// times. The price is on corners that are off for want of a lens model that fits them (at
// the border of real photographs): they count linearly too, and the RMS, which weighs them
// fully, can read above a least-squares fit's (give loss_scale_px for another trade).

#include <opencv2/core.hpp>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "vemo/calibration/rig/multi_camera_result.hpp"

namespace vemo::calibration {

// The corners one camera saw, one entry per frame where it found the target, ascending frame.
struct CameraViews {
  std::vector<int> frames;
  std::vector<cv::Mat> object_points;  // N x 3 (or N x 1, 3 channels), board frame, metres
  std::vector<cv::Mat> image_points;   // N x 2 (or N x 1, 2 channels), pixels
};

// The scale of the pilot solve that the noise is read from, pixels.
inline constexpr double kPilotLossScalePx = 1.0;

struct RigRefinementOptions {
  // Huber loss scale, pixels: corners further off than this count linearly. Unset (the
  // default): chosen from the data as the header says.
  std::optional<double> loss_scale_px;
  // Solver iteration limit. Default 100.
  int max_iterations = 100;
  // cv::CALIB_* flags of the lenses' calibration: the lens parameters they fix
  // (focal length, principal point, tangential distortion, K1 to K6, S1 to S4) stay as
  // given, and under a fixed aspect ratio fy / fx keeps its starting value. Default 0.
  int calibrate_camera_flags = 0;
};

// What the bundle adjustment found. Lists per camera are indexed by camera, per frame by frame.
struct RigRefinement {
  bool ok = false;         // the solver returned a usable solution
  bool converged = false;  // ... and stopped because it converged, not on the iteration limit
  int iterations = 0;      // solver steps over every fit, a pilot one included
  double loss_scale_px = 0.0;           // the Huber scale of the cost, pixels
  bool loss_scale_from_data = false;    // ... chosen from the data rather than given
  // With a scale chosen from the data: the robust sigma (1.4826 MAD) per axis of the
  // pilot solve's residuals it came from, pixels; NaN with a given scale.
  double robust_noise_px = std::numeric_limits<double>::quiet_NaN();
  int reference_index = 0;
  std::vector<cv::Mat> reference_T_camera_list;  // 4x4 CV_64F; identity for the reference
  std::vector<cv::Mat> intrinsic_matrices;       // 3x3 CV_64F, skew as given
  std::vector<cv::Mat> distortion_coefficients;  // 1 x n CV_64F, n as given
  // 4x4 CV_64F board pose per frame in the reference camera's frame; empty for a frame no
  // camera saw.
  std::vector<cv::Mat> reference_T_board_list;
  std::size_t corner_count = 0;
  // Root mean square of the corners' reprojection distances over all corners: with the
  // rig and lenses as given (each board pose fitted to them under the same cost), and at
  // the solution. The second is the one the fit minimised.
  double rms_before_px = std::numeric_limits<double>::quiet_NaN();
  double rms_after_px = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> per_camera_rms_px;     // at the solution
  std::vector<int> per_camera_corner_count;  // corners behind it
  // 1-sigma of each camera's pose, translation along and rotation about the reference
  // camera's axes; 0 for the reference, NaN when the Jacobian is rank deficient.
  std::vector<cv::Vec3d> sigma_translation_mm;
  std::vector<cv::Vec3d> sigma_rotation_deg;
  double image_noise_px = std::numeric_limits<double>::quiet_NaN();  // corner noise per axis
};

// Refines start (a complete rig: every camera with a pose, its intrinsics) against views
// (one entry per camera). Throws std::invalid_argument for a start that is not complete,
// views of another number of cameras, point lists of different lengths, the tilted
// distortion model, a given loss scale that is not positive or fewer than 1 iteration.
RigRefinement refineRig(const std::vector<CameraViews>& views, const MultiCameraResult& start,
                        const RigRefinementOptions& options = {});

// The refinement as text: its cost, both RMS, then per camera its pose, the change from the
// start, its sigma and its lens.
std::string formatRigRefinement(const RigRefinement& refinement, const MultiCameraResult& start);

}  // namespace vemo::calibration
