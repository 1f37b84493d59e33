#pragma once

// The joint refinement's least-squares problem as Ceres sees it: the parameter blocks, the
// cost of a capture's corners and of a robot pose error, and the sums the rest of the
// refinement reads off a solution. Internal to hand_eye_refinement.cpp and its parts.

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <opencv2/core.hpp>

#include <Eigen/Core>

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"
#include "vemo/calibration/intrinsic/least_squares_support.hpp"
#include "vemo/calibration/intrinsic/lens_projection.hpp"

namespace vemo::calibration::refinement {

// How a corner's squared reprojection distance s enters the cost (Ceres's losses, a the
// scale). Huber: s within a, 2 a sqrt(s) - a^2 beyond, so a corner far off keeps a constant
// pull. Tukey's biweight: a^2 / 3 (1 - (1 - s / a^2)^3) within a, a^2 / 3 beyond, so a corner's
// pull falls to none as it nears a: under the detector's heavy-tailed noise this comes closer
// to the likelihood's own weighting.
struct CornerLoss {
  enum class Kind { huber, tukey };
  Kind kind = Kind::huber;
  double scale_px = 1.0;

  std::unique_ptr<ceres::LossFunction> function() const;
};

// One corner of one capture: the board point carried through base_T_target, the reported
// robot pose, the robot's unknown pose error delta (rotation vector and translation, flange
// frame: true flange = reported * exp(delta)) and the inverse of tcp_T_camera into the camera.
// Its pixel is projectThroughModel's of that point.
struct CornerResidual {
  std::array<double, 3> point;
  std::array<double, 2> observed;
  std::array<double, 9> tcp_R_base;  // row-major, of the reported robot pose's inverse
  std::array<double, 3> tcp_t_base;
  double skew;
  // An eye-to-hand chain (hand_eye_refinement_input.hpp): the pose error moves the target
  // in the flange frame (before the robot pose) instead of the camera.
  bool error_at_target = false;

  // blocks: camera rotation, camera translation, target rotation, target translation, delta.
  template <typename T>
  void operator()(const T* const* blocks, T* in_camera) const {
    const T* camera_rotation = blocks[0];
    const T* camera_translation = blocks[1];
    const T* target_rotation = blocks[2];
    const T* target_translation = blocks[3];
    const T* delta = blocks[4];
    const T board_point[3] = {T(point[0]), T(point[1]), T(point[2])};
    T in_base[3];
    ceres::UnitQuaternionRotatePoint(target_rotation, board_point, in_base);
    for (int k = 0; k < 3; ++k) in_base[k] += target_translation[k];

    T in_flange[3];
    if (error_at_target) {
      // The flange-held target's point, moved by the error, then through the robot pose
      // (the inverse of the inverted pose the chain holds) into the base frame.
      T moved[3];
      ceres::AngleAxisRotatePoint(delta, in_base, moved);
      for (int r = 0; r < 3; ++r) {
        in_flange[r] = T(tcp_t_base[r]);
        for (int c = 0; c < 3; ++c) in_flange[r] += T(tcp_R_base[3 * r + c]) * (moved[c] + delta[3 + c]);
      }
    } else {
      T reported_flange[3];
      for (int r = 0; r < 3; ++r) {
        reported_flange[r] = T(tcp_t_base[r]) - delta[3 + r];
        for (int c = 0; c < 3; ++c) reported_flange[r] += T(tcp_R_base[3 * r + c]) * in_base[c];
      }
      const T undo_delta[3] = {-delta[0], -delta[1], -delta[2]};
      ceres::AngleAxisRotatePoint(undo_delta, reported_flange, in_flange);
    }
    const T inverse_rotation[4] = {camera_rotation[0], -camera_rotation[1], -camera_rotation[2], -camera_rotation[3]};
    const T offset[3] = {in_flange[0] - camera_translation[0], in_flange[1] - camera_translation[1],
                         in_flange[2] - camera_translation[2]};
    ceres::UnitQuaternionRotatePoint(inverse_rotation, offset, in_camera);
  }
};

// Keeps each robot pose error near 0 with the robot's noise as its standard deviation, in
// the corners' pixel units: weight = image noise / robot noise. The weights are the
// parameters' (Parameters::prior_weights): shared by every capture, changed as the noise
// levels are re-estimated, and alive as long as the parameter blocks the problem holds.
class DeltaPrior final : public ceres::SizedCostFunction<6, 6> {
 public:
  explicit DeltaPrior(const std::array<double, 6>* weights) : weights_(weights) {}

  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override;

 private:
  const std::array<double, 6>* weights_;
};

// The residuals of one capture.
struct Capture {
  std::vector<CornerResidual> corners;
};

// Everything the solver moves, in the blocks Ceres sees, and the weights of the robot pose
// errors' prior. The problem points into these: they must outlive it. The lens block is the
// first 4 + distortion_count entries of intrinsics (the model's own parameters).
struct Parameters {
  PoseBlock tcp_T_camera;
  PoseBlock base_T_target;
  LensParameters intrinsics{};
  int distortion_count = 0;  // 0, 4, 5, 8 or 12
  std::vector<std::array<double, 6>> deltas;
  std::array<double, 6> prior_weights{};  // rotation x3, translation x3 (DeltaPrior)
};

// A problem's normal matrix by its blocks. Global columns: the tangents of tcp_T_camera's
// rotation and translation and base_T_target's (3 each), then the lens block when it is free. A
// capture's free pose error (6 columns) shares rows only with them and its own prior.
struct NormalBlocks {
  Eigen::MatrixXd global;  // global x global
  // Per capture whose pose error is free, in the order added: global x 6, and 6 x 6.
  std::vector<Eigen::Matrix<double, Eigen::Dynamic, 6>> coupling;
  std::vector<Eigen::Matrix<double, 6, 6>> pose_error;
};

// One of the refinement's least-squares problems over parameters (which must outlive it).
// Each capture's corners are one residual block whose cost is the sum of the corners' Huber
// costs, and whose residuals and Jacobian are the corners' as Ceres robustifies a corner
// given a block of its own: the solver takes the same steps as with a block per corner, and
// the corners' chain through the capture's poses is differentiated once per capture instead
// of once per corner. Pitfall: a capture's block has one residual more than its corners' two
// each (the loss's cost the scaled residuals leave out, with no derivative), so the corners'
// errors are read with squaredErrorOf, not off Ceres's residuals.
class ChainProblem {
 public:
  explicit ChainProblem(Parameters& parameters) : parameters_(parameters) {}
  ChainProblem(const ChainProblem&) = delete;
  ChainProblem& operator=(const ChainProblem&) = delete;

  ceres::Problem& problem() { return problem_; }

  // The residuals of one capture's corners, index = its position (and its pose error's),
  // under loss; with lens_fixed the intrinsics block is held constant.
  void addCapture(const Capture& capture, std::size_t index, const CornerLoss& loss, bool lens_fixed);
  // Frees the pose error of every capture added, under its prior (DeltaPrior).
  void freePoseErrors();

  // The normal matrix J'J at the parameters (the Jacobian robustified, in tangent space), in
  // the blocks the problem's structure leaves nonzero.
  NormalBlocks normalBlocks();

 private:
  struct Added {
    std::size_t index;
    ceres::ResidualBlockId corners;
    ceres::ResidualBlockId prior;
  };

  Parameters& parameters_;
  std::vector<Added> added_;
  ceres::Problem problem_;
};

// Each capture's corners with its robot pose, the lens's skew held as given. Throws
// std::invalid_argument for malformed point lists.
std::vector<Capture> capturesOf(const HandEyeRefinementInput& input, double skew);

// visit(residual) with each corner's reprojection residual (x, y, pixels) at the parameters
// and the capture's robot pose error delta, in corner order.
template <typename Visit>
void forEachResidual(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta,
                     Visit&& visit) {
  const double* blocks[] = {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
                            parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
                            delta.data()};
  for (const CornerResidual& corner : capture.corners) {
    double in_camera[3], residual[2];
    corner(blocks, in_camera);
    reprojectionResidual(parameters.intrinsics.data(), corner.skew, in_camera, corner.observed, residual);
    visit(residual);
  }
}

// Squared reprojection distances of a capture's corners, summed, with its robot pose error.
double squaredErrorOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta);
// The same per capture with the robot poses as reported (no pose error).
std::vector<double> squaredErrorsPerCapture(const std::vector<Capture>& captures, const Parameters& parameters);

// A capture's corners as a fit under loss keeps them, with its robot pose error: their squared
// distances and their residuals' count (two per corner). Under Tukey's loss each corner's share
// is rho'(s), its weight in the normal matrix the covariance is formed from: the tails, which
// the fit gives no weight, then add nothing to the variance that scales it, where their squares
// would inflate it many times over (a few corners 4-7 px off among many 0.2 px off). Huber
// gives every corner a pull, and every corner counts whole, as the refinement at a given scale
// always has.
struct KeptSquares {
  double squares = 0.0;
  double residuals = 0.0;
};
KeptSquares keptSquaresOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta,
                          const CornerLoss& loss);

// Root mean square over all corners of the per-capture sums.
double rmsOf(const std::vector<double>& squared_sums, std::size_t corner_count);

}  // namespace vemo::calibration::refinement
