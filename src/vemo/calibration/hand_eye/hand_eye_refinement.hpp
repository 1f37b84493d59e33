#pragma once

// Joint reprojection refinement of an eye-in-hand solution. The closed-form solvers fit
// motion pairs algebraically; this fits the measurement whose noise is known, the corner
// pixels: every corner of every capture is predicted through
//   project(K, dist, inverse(robot_T_tcp_i * tcp_T_camera) * base_T_target * board point)
// and tcp_T_camera and base_T_target (optionally the intrinsics) are moved to minimise
//   sum over corners of rho(squared reprojection distance)
// with rho Huber's loss at loss_scale_px, or, when the options ask for it, Tukey's biweight at
// redescending_scale_px, started from the Huber solution (the losses are written out in
// hand_eye_refinement_costs.hpp). Its uncertainty comes from the Jacobian at the solution,
// scaled by the residual variance, with the robot's own pose noise estimated from how far
// each capture's pose strays from the chain beyond what its image noise explains: the
// solution is then moved once more to minimise that sum plus, per capture, the squared pose
// error over the robot's noise, in the corners' units.

#include <opencv2/core.hpp>

#include <limits>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"

namespace vemo::calibration {

// What the refinement found. Lengths in metres unless the name says mm.
struct HandEyeRefinement {
  bool ok = false;         // the solver returned a usable solution
  bool converged = false;  // ... and stopped because it converged, not on the iteration limit
  int iterations = 0;
  double loss_scale_px = 0.0;  // the Huber scale the fit used
  // The corners' robust noise per axis the scale was chosen from (options'
  // loss_scale_noise_multiple); NaN when the scale was given.
  double loss_scale_corner_noise_px = std::numeric_limits<double>::quiet_NaN();
  // The scale of Tukey's biweight, under which the fit went on from the Huber solution
  // (options' redescending_noise_multiple); NaN when the Huber fit is the solution.
  double redescending_scale_px = std::numeric_limits<double>::quiet_NaN();
  bool refined_intrinsics = false;
  cv::Mat tcp_T_camera;             // 4x4 CV_64F
  cv::Mat base_T_target;            // 4x4 CV_64F
  cv::Mat intrinsic_matrix;         // as refined (or as given when held fixed)
  cv::Mat distortion_coefficients;  // likewise
  cv::Mat initial_tcp_T_camera;     // the start, for the change
  std::size_t corner_count = 0;
  // Root mean square of the corners' reprojection distances, over all corners, at the
  // robot poses as given: at the start and at the solution.
  double rms_before_px = std::numeric_limits<double>::quiet_NaN();
  double rms_after_px = std::numeric_limits<double>::quiet_NaN();
  // The same at the solution with the estimated robot pose errors applied: the fit's own
  // residual (it weighs the pose errors against the corners), which may read lower than
  // rms_after_px while rms_after_px reads higher than rms_before_px.
  double rms_with_pose_errors_px = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> per_capture_rms_px;  // after, one per capture
  // 1-sigma of tcp_T_camera: translation along and rotation about the tcp frame's axes.
  cv::Vec3d sigma_translation_mm{std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::quiet_NaN()};
  cv::Vec3d sigma_rotation_deg = sigma_translation_mm;
  // 1-sigma of tcp_T_camera with the intrinsics' own error included as well (the lens freed
  // at the solution); equal to the sigma above when the intrinsics were refined.
  cv::Vec3d sigma_with_intrinsics_translation_mm = sigma_translation_mm;
  cv::Vec3d sigma_with_intrinsics_rotation_deg = sigma_translation_mm;
  // 1-sigma of base_T_target likewise, along and about the base frame's axes.
  cv::Vec3d sigma_target_translation_mm = sigma_translation_mm;
  cv::Vec3d sigma_target_rotation_deg = sigma_translation_mm;
  double image_noise_px = std::numeric_limits<double>::quiet_NaN();  // corner noise per axis
  // The robot's pose noise per capture (per axis, flange frame) that the captures show
  // beyond their image noise; both 0 when they show none, and then sigma covers image
  // noise only.
  double robot_noise_translation_mm = 0.0;
  double robot_noise_rotation_deg = 0.0;
};

// Refines from input's start. Throws std::invalid_argument for lists of different
// lengths, fewer than 4 captures, a capture without corners, point lists of different
// lengths, a camera matrix that is not 3x3, an unsupported distortion model, a start that
// is not a 4x4 rigid transform, a loss scale that is not positive or a noise multiple that
// is negative.
HandEyeRefinement refineHandEye(const HandEyeRefinementInput& input, const HandEyeRefinementOptions& options = {});

struct ChainNaming;

// The refinement as text, naming the chain's parts as given (chain_refinement.hpp): RMS
// before and after, the refined transform and its change from the start, sigma with units
// and what it covers, and the per-capture RMS.
std::string formatHandEyeRefinement(const HandEyeRefinement& refinement, const ChainNaming& naming);

}  // namespace vemo::calibration
