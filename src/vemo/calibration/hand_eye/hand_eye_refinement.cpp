#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <array>
#include <cmath>
#include <iomanip>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

// fx, fy, cx, cy, then OpenCV's distortion coefficients k1 k2 p1 p2 k3 k4 k5 k6 s1 s2 s3 s4,
// those the caller's model lacks held at 0.
constexpr int kIntrinsicCount = 16;
// Alternations of solving and re-estimating the noise levels; they settle within a few.
constexpr int kNoiseEstimationRounds = 6;

// A pose as the solver moves it: unit quaternion (w, x, y, z) and translation.
struct PoseBlock {
  std::array<double, 4> rotation{};
  std::array<double, 3> translation{};
};

template <int rows, int cols>
cv::Matx<double, rows, cols> fixedOf(const cv::Mat& matrix) {
  cv::Mat as_double;
  matrix.convertTo(as_double, CV_64F);
  return cv::Matx<double, rows, cols>(as_double.ptr<double>());
}

PoseBlock poseBlockOf(const cv::Mat& a_T_b) {
  const cv::Matx44d m = fixedOf<4, 4>(a_T_b);
  PoseBlock block;
  const double rotation[9] = {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
  ceres::RotationMatrixToQuaternion(ceres::RowMajorAdapter3x3<const double>(rotation), block.rotation.data());
  block.translation = {m(0, 3), m(1, 3), m(2, 3)};
  return block;
}

cv::Mat transformOf(const PoseBlock& block) {
  cv::Matx33d rotation;
  ceres::QuaternionToRotation(block.rotation.data(), ceres::RowMajorAdapter3x3(rotation.val));
  return tf::composeTransformationMatrix(cv::Mat(rotation), cv::Mat(cv::Vec3d(block.translation.data())));
}

// One corner of one capture: the board point carried through base_T_target, the reported
// robot pose, the robot's unknown pose error delta (rotation vector and translation, flange
// frame: true flange = reported * exp(delta)), the inverse of tcp_T_camera and the lens.
struct CornerResidual {
  std::array<double, 3> point;
  std::array<double, 2> observed;
  std::array<double, 9> tcp_R_base;  // row-major, of the reported robot pose's inverse
  std::array<double, 3> tcp_t_base;
  double skew;

  template <typename T>
  bool operator()(const T* camera_rotation, const T* camera_translation, const T* target_rotation,
                  const T* target_translation, const T* intrinsics, const T* delta, T* residual) const {
    const T board_point[3] = {T(point[0]), T(point[1]), T(point[2])};
    T in_base[3];
    ceres::UnitQuaternionRotatePoint(target_rotation, board_point, in_base);
    for (int k = 0; k < 3; ++k) in_base[k] += target_translation[k];

    T reported_flange[3];
    for (int r = 0; r < 3; ++r) {
      reported_flange[r] = T(tcp_t_base[r]) - delta[3 + r];
      for (int c = 0; c < 3; ++c) reported_flange[r] += T(tcp_R_base[3 * r + c]) * in_base[c];
    }
    const T undo_delta[3] = {-delta[0], -delta[1], -delta[2]};
    T in_flange[3];
    ceres::AngleAxisRotatePoint(undo_delta, reported_flange, in_flange);

    const T inverse_rotation[4] = {camera_rotation[0], -camera_rotation[1], -camera_rotation[2], -camera_rotation[3]};
    const T offset[3] = {in_flange[0] - camera_translation[0], in_flange[1] - camera_translation[1],
                         in_flange[2] - camera_translation[2]};
    T in_camera[3];
    ceres::UnitQuaternionRotatePoint(inverse_rotation, offset, in_camera);

    const T x = in_camera[0] / in_camera[2];
    const T y = in_camera[1] / in_camera[2];
    const T* d = intrinsics + 4;
    const T r2 = x * x + y * y;
    const T r4 = r2 * r2;
    const T r6 = r4 * r2;
    const T radial = (T(1) + d[0] * r2 + d[1] * r4 + d[4] * r6) / (T(1) + d[5] * r2 + d[6] * r4 + d[7] * r6);
    const T xd = x * radial + T(2) * d[2] * x * y + d[3] * (r2 + T(2) * x * x) + d[8] * r2 + d[9] * r4;
    const T yd = y * radial + d[2] * (r2 + T(2) * y * y) + T(2) * d[3] * x * y + d[10] * r2 + d[11] * r4;
    residual[0] = intrinsics[0] * xd + T(skew) * yd + intrinsics[2] - T(observed[0]);
    residual[1] = intrinsics[1] * yd + intrinsics[3] - T(observed[1]);
    return true;
  }
};

// The same with the lens held fixed: the intrinsics are constants rather than a parameter
// block, which keeps the derivatives (and the time) of the usual case small.
struct FixedLensCornerResidual {
  CornerResidual corner;
  std::array<double, kIntrinsicCount> lens;

  template <typename T>
  bool operator()(const T* camera_rotation, const T* camera_translation, const T* target_rotation,
                  const T* target_translation, const T* delta, T* residual) const {
    T intrinsics[kIntrinsicCount];
    for (int k = 0; k < kIntrinsicCount; ++k) intrinsics[k] = T(lens[k]);
    return corner(camera_rotation, camera_translation, target_rotation, target_translation, intrinsics, delta,
                  residual);
  }
};

// Keeps each robot pose error near 0 with the robot's noise as its standard deviation, in
// the corners' pixel units: weight = image noise / robot noise. The weights are shared by
// every capture and change as the noise levels are re-estimated.
class DeltaPrior final : public ceres::SizedCostFunction<6, 6> {
 public:
  explicit DeltaPrior(const std::array<double, 6>& weights) : weights_(weights) {}

  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
    for (int k = 0; k < 6; ++k) residuals[k] = weights_[k] * parameters[0][k];
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      std::fill(jacobians[0], jacobians[0] + 36, 0.0);
      for (int k = 0; k < 6; ++k) jacobians[0][7 * k] = weights_[k];
    }
    return true;
  }

 private:
  const std::array<double, 6>& weights_;
};

struct Capture {
  std::vector<CornerResidual> corners;
};

// Everything the solver moves, in the blocks Ceres sees.
struct Parameters {
  PoseBlock tcp_T_camera;
  PoseBlock base_T_target;
  std::array<double, kIntrinsicCount> intrinsics{};
  std::vector<std::array<double, 6>> deltas;
};

cv::Mat pointRows(const cv::Mat& points, int width, const char* name) {
  cv::Mat rows = points.isContinuous() ? points : points.clone();
  if (rows.total() * rows.channels() % width != 0) {
    throw std::invalid_argument(std::string("refineHandEye: ") + name + " must hold " + std::to_string(width) +
                                " numbers per point");
  }
  cv::Mat as_double;
  rows.reshape(1, static_cast<int>(rows.total() * rows.channels() / width)).convertTo(as_double, CV_64F);
  return as_double;
}

std::vector<Capture> capturesOf(const HandEyeRefinementInput& input, double skew) {
  std::vector<Capture> captures(input.corners.size());
  for (std::size_t i = 0; i < input.corners.size(); ++i) {
    const cv::Mat object = pointRows(input.corners[i].object_points, 3, "object_points");
    const cv::Mat image = pointRows(input.corners[i].image_points, 2, "image_points");
    if (object.rows != image.rows || object.rows == 0) {
      throw std::invalid_argument("refineHandEye: capture " + std::to_string(i) +
                                  " needs as many image points as object points, at least one");
    }
    const cv::Matx44d tcp_T_base = fixedOf<4, 4>(input.robot_T_tcp_list[i]).inv();
    for (int j = 0; j < object.rows; ++j) {
      CornerResidual corner{};
      corner.point = {object.at<double>(j, 0), object.at<double>(j, 1), object.at<double>(j, 2)};
      corner.observed = {image.at<double>(j, 0), image.at<double>(j, 1)};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) corner.tcp_R_base[3 * r + c] = tcp_T_base(r, c);
        corner.tcp_t_base[r] = tcp_T_base(r, 3);
      }
      corner.skew = skew;
      captures[i].corners.push_back(corner);
    }
  }
  return captures;
}

void checkInput(const HandEyeRefinementInput& input, const HandEyeRefinementOptions& options) {
  const auto fail = [](const std::string& what) { throw std::invalid_argument("refineHandEye: " + what); };
  if (input.robot_T_tcp_list.size() != input.corners.size()) {
    fail("robot_T_tcp_list and corners must have the same length. Got " +
         std::to_string(input.robot_T_tcp_list.size()) + " vs " + std::to_string(input.corners.size()));
  }
  if (input.corners.size() < eye_in_hand::kMinimumCaptures) fail("needs at least 4 captures");
  for (std::size_t i = 0; i < input.robot_T_tcp_list.size(); ++i) {
    if (tf::findPoseDefect(input.robot_T_tcp_list[i]) != tf::PoseDefect::None) {
      fail("robot_T_tcp_list[" + std::to_string(i) + "] " +
           tf::describePoseDefect(tf::findPoseDefect(input.robot_T_tcp_list[i])));
    }
  }
  tf::PoseRequirements rigid;
  rigid.orthonormal_rotation = true;
  for (const auto& [name, pose] : {std::pair{"tcp_T_camera", &input.tcp_T_camera},
                                   std::pair{"base_T_target", &input.base_T_target}}) {
    const tf::PoseDefect defect = tf::findPoseDefect(*pose, rigid);
    if (defect != tf::PoseDefect::None) fail(std::string(name) + " " + tf::describePoseDefect(defect));
  }
  if (input.intrinsic_matrix.rows != 3 || input.intrinsic_matrix.cols != 3 || input.intrinsic_matrix.channels() != 1) {
    fail("intrinsic_matrix must be 3x3");
  }
  const std::size_t distortion = input.distortion_coefficients.total() * input.distortion_coefficients.channels();
  if (distortion != 0 && distortion != 4 && distortion != 5 && distortion != 8 && distortion != 12) {
    fail("distortion_coefficients must hold 0, 4, 5, 8 or 12 values (the tilted model is not supported)");
  }
  if (!(options.loss_scale_px > 0.0) || !std::isfinite(options.loss_scale_px)) {
    fail("loss_scale_px must be positive");
  }
  if (options.max_iterations < 1) fail("max_iterations must be at least 1");
}

void addCapture(ceres::Problem& problem, Parameters& parameters, const Capture& capture, std::size_t index,
                ceres::LossFunction* loss, bool lens_fixed) {
  double* camera_rotation = parameters.tcp_T_camera.rotation.data();
  double* camera_translation = parameters.tcp_T_camera.translation.data();
  double* target_rotation = parameters.base_T_target.rotation.data();
  double* target_translation = parameters.base_T_target.translation.data();
  double* delta = parameters.deltas[index].data();
  for (const CornerResidual& corner : capture.corners) {
    if (lens_fixed) {
      problem.AddResidualBlock(new ceres::AutoDiffCostFunction<FixedLensCornerResidual, 2, 4, 3, 4, 3, 6>(
                                   new FixedLensCornerResidual{corner, parameters.intrinsics}),
                               loss, camera_rotation, camera_translation, target_rotation, target_translation, delta);
    } else {
      problem.AddResidualBlock(
          new ceres::AutoDiffCostFunction<CornerResidual, 2, 4, 3, 4, 3, kIntrinsicCount, 6>(new CornerResidual(corner)),
          loss, camera_rotation, camera_translation, target_rotation, target_translation, parameters.intrinsics.data(),
          delta);
    }
  }
}

// Squared reprojection distances of a capture's corners, summed, with its robot pose error.
double squaredErrorOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta) {
  double sum = 0.0;
  for (const CornerResidual& corner : capture.corners) {
    double residual[2];
    corner(parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
           parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
           parameters.intrinsics.data(), delta.data(), residual);
    sum += residual[0] * residual[0] + residual[1] * residual[1];
  }
  return sum;
}

// The same per capture with the robot poses as reported (no pose error).
std::vector<double> squaredErrorsPerCapture(const std::vector<Capture>& captures, const Parameters& parameters) {
  std::vector<double> sums;
  for (const Capture& capture : captures) sums.push_back(squaredErrorOf(capture, parameters, {}));
  return sums;
}

double rmsOf(const std::vector<double>& squared_sums, std::size_t corner_count) {
  double total = 0.0;
  for (double sum : squared_sums) total += sum;
  return std::sqrt(total / static_cast<double>(corner_count));
}

ceres::Solver::Summary solve(ceres::Problem& problem, int max_iterations, ceres::LinearSolverType linear_solver) {
  ceres::Solver::Options options;
  options.linear_solver_type = linear_solver;
  options.max_num_iterations = max_iterations;
  options.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  return summary;
}

// Unscaled tangent-space covariances of the listed blocks (their diagonal blocks), or
// nothing when the Jacobian is rank deficient.
bool covarianceOf(ceres::Problem& problem, const std::vector<const double*>& blocks,
                  std::vector<std::vector<double>>& covariances) {
  covariances.clear();
  ceres::Covariance covariance{ceres::Covariance::Options()};
  std::vector<std::pair<const double*, const double*>> pairs;
  for (const double* block : blocks) pairs.emplace_back(block, block);
  if (!covariance.Compute(pairs, &problem)) return false;
  for (const double* block : blocks) {
    const int size = problem.ParameterBlockTangentSize(block);
    std::vector<double> values(static_cast<std::size_t>(size * size));
    if (!covariance.GetCovarianceBlockInTangentSpace(block, block, values.data())) {
      covariances.clear();
      return false;
    }
    covariances.push_back(std::move(values));
  }
  return true;
}

// The captures' two kinds of error: corner noise per axis (px), and the robot's pose noise
// per axis of each capture (rotation rad, translation m, flange frame).
struct NoiseLevels {
  double image_px = 0.0;
  double rotation_rad = 0.0;
  double translation_m = 0.0;
};


// Where the estimate of the noise levels starts: each capture's pose error fitted alone at
// the joint solution. What remains of the corners is image noise; the spread of the pose
// errors (which still holds each pose's own image noise) bounds the robot's share above.
NoiseLevels startingNoise(const std::vector<Capture>& captures, const Parameters& solution,
                          const HandEyeRefinementOptions& options) {
  double rotation_spread = 0.0, translation_spread = 0.0, residual_sum = 0.0;
  std::size_t residual_count = 0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    Parameters alone = solution;
    alone.deltas[i] = {};
    ceres::Problem problem;
    addCapture(problem, alone, captures[i], i, new ceres::HuberLoss(options.loss_scale_px), true);
    for (double* block : {alone.tcp_T_camera.rotation.data(), alone.tcp_T_camera.translation.data(),
                          alone.base_T_target.rotation.data(), alone.base_T_target.translation.data()}) {
      problem.SetParameterBlockConstant(block);
    }
    solve(problem, options.max_iterations, ceres::DENSE_QR);
    const auto& delta = alone.deltas[i];
    rotation_spread += delta[0] * delta[0] + delta[1] * delta[1] + delta[2] * delta[2];
    translation_spread += delta[3] * delta[3] + delta[4] * delta[4] + delta[5] * delta[5];
    residual_sum += squaredErrorOf(captures[i], alone, delta);
    residual_count += 2 * captures[i].corners.size();
  }
  NoiseLevels noise;
  const double freedoms = static_cast<double>(residual_count) - 6.0 * static_cast<double>(captures.size());
  if (freedoms <= 0.0) return noise;
  const double count = 3.0 * static_cast<double>(captures.size());
  noise.image_px = std::sqrt(residual_sum / freedoms);
  noise.rotation_rad = std::sqrt(rotation_spread / count);
  noise.translation_m = std::sqrt(translation_spread / count);
  return noise;
}

// Sums over the captures that one estimate of the noise levels needs.
struct ComponentSums {
  double corner_squares = 0.0;
  double rotation_squares = 0.0, translation_squares = 0.0;        // of the pose errors
  double rotation_variance = 0.0, translation_variance = 0.0;      // traces of their covariance
};

// Variance component estimation: each level is the square sum of its errors over its
// redundancy, the share of its observations not spent on the unknowns (for the pose-error
// priors: count - weight^2 * trace of the errors' covariance). Redundancies add up to all
// observations less all unknowns, which gives the corners' share.
NoiseLevels reestimatedNoise(const ComponentSums& sums, const NoiseLevels& used, std::size_t captures,
                             std::size_t corner_residuals, std::size_t global_parameters) {
  const double count = 3.0 * static_cast<double>(captures);
  const double image_variance = used.image_px * used.image_px;
  const double rotation_redundancy =
      count - image_variance / (used.rotation_rad * used.rotation_rad) * sums.rotation_variance;
  const double translation_redundancy =
      count - image_variance / (used.translation_m * used.translation_m) * sums.translation_variance;
  const double corner_redundancy = static_cast<double>(corner_residuals) - static_cast<double>(global_parameters) -
                                   rotation_redundancy - translation_redundancy;
  NoiseLevels noise;
  noise.image_px = std::sqrt(sums.corner_squares / corner_redundancy);
  noise.rotation_rad = rotation_redundancy > 0.0 ? std::sqrt(sums.rotation_squares / rotation_redundancy) : 0.0;
  noise.translation_m =
      translation_redundancy > 0.0 ? std::sqrt(sums.translation_squares / translation_redundancy) : 0.0;
  return noise;
}

// Noise levels within 5 % of each other give sigmas within 5 %: close enough to stop.
bool nearlyEqual(const NoiseLevels& a, const NoiseLevels& b) {
  const auto close = [](double x, double y) { return std::abs(x - y) <= 0.05 * std::max(x, y); };
  return close(a.image_px, b.image_px) && close(a.rotation_rad, b.rotation_rad) &&
         close(a.translation_m, b.translation_m);
}

int stepsOf(const ceres::Solver::Summary& summary) {
  return summary.num_successful_steps + summary.num_unsuccessful_steps;
}

// The noise levels and the unscaled tangent-space covariance blocks of tcp_T_camera
// (rotation, translation, then each capture's pose error when they were free), with the
// scale that turns them into variances. Empty covariance: the Jacobian is rank deficient.
struct Uncertainty {
  NoiseLevels noise;
  double scale = 0.0;
  std::vector<std::vector<double>> covariance;
  int iterations = 0;
  bool converged = true;
};

// Frees each capture's robot pose error under a prior of the robot's noise: the solution
// then weighs the captures by what they really tell, and its covariance carries the robot's
// share. The noise levels and the solution are estimated in turn from the start given.
Uncertainty weighedByNoise(ceres::Problem& problem, Parameters& parameters, const std::vector<Capture>& captures,
                           const NoiseLevels& start, std::size_t global_parameters, int max_iterations) {
  std::size_t corner_residuals = 0;
  for (const Capture& capture : captures) corner_residuals += 2 * capture.corners.size();
  std::array<double, 6> weights{};
  for (auto& delta : parameters.deltas) {
    problem.SetParameterBlockVariable(delta.data());
    problem.AddResidualBlock(new DeltaPrior(weights), nullptr, delta.data());
  }
  std::vector<const double*> blocks{parameters.tcp_T_camera.rotation.data(),
                                    parameters.tcp_T_camera.translation.data()};
  for (const auto& delta : parameters.deltas) blocks.push_back(delta.data());

  Uncertainty uncertainty;
  uncertainty.noise = start;
  for (int round = 0; round < kNoiseEstimationRounds; ++round) {
    const NoiseLevels& noise = uncertainty.noise;
    for (int k = 0; k < 3; ++k) {
      weights[k] = noise.image_px / noise.rotation_rad;
      weights[3 + k] = noise.image_px / noise.translation_m;
    }
    const ceres::Solver::Summary summary = solve(problem, max_iterations, ceres::DENSE_SCHUR);
    uncertainty.iterations += stepsOf(summary);
    uncertainty.converged = uncertainty.converged && summary.termination_type == ceres::CONVERGENCE;
    if (!covarianceOf(problem, blocks, uncertainty.covariance)) break;
    uncertainty.scale = noise.image_px * noise.image_px;
    ComponentSums sums;
    for (std::size_t i = 0; i < captures.size(); ++i) {
      const auto& delta = parameters.deltas[i];
      const std::vector<double>& delta_covariance = uncertainty.covariance[2 + i];
      sums.corner_squares += squaredErrorOf(captures[i], parameters, delta);
      for (int k = 0; k < 3; ++k) {
        sums.rotation_squares += delta[k] * delta[k];
        sums.translation_squares += delta[3 + k] * delta[3 + k];
        sums.rotation_variance += delta_covariance[7 * k];
        sums.translation_variance += delta_covariance[7 * (3 + k)];
      }
    }
    const NoiseLevels next = reestimatedNoise(sums, noise, captures.size(), corner_residuals, global_parameters);
    if (!(next.image_px > 0.0 && next.rotation_rad > 0.0 && next.translation_m > 0.0)) break;
    const bool settled = nearlyEqual(next, noise);
    uncertainty.noise = next;
    if (settled) break;
  }
  return uncertainty;
}

// The captures show no noise beyond the corners' (exact robot poses): sigma from the
// Jacobian of the joint fit and its residual variance alone.
Uncertainty imageNoiseOnly(ceres::Problem& problem, const Parameters& parameters, const std::vector<Capture>& captures,
                           std::size_t global_parameters) {
  Uncertainty uncertainty;
  double total = 0.0;
  std::size_t corner_residuals = 0;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    total += squaredErrorOf(captures[i], parameters, parameters.deltas[i]);
    corner_residuals += 2 * captures[i].corners.size();
  }
  const double freedoms = static_cast<double>(corner_residuals) - static_cast<double>(global_parameters);
  uncertainty.scale = freedoms > 0.0 ? total / freedoms : 0.0;
  uncertainty.noise.image_px = std::sqrt(uncertainty.scale);
  covarianceOf(problem, {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data()},
               uncertainty.covariance);
  return uncertainty;
}

}  // namespace

HandEyeRefinement refineHandEye(const HandEyeRefinementInput& input, const HandEyeRefinementOptions& options) {
  checkInput(input, options);
  const cv::Matx33d camera = fixedOf<3, 3>(input.intrinsic_matrix);
  const std::vector<Capture> captures = capturesOf(input, camera(0, 1));

  Parameters parameters;
  parameters.tcp_T_camera = poseBlockOf(input.tcp_T_camera);
  parameters.base_T_target = poseBlockOf(input.base_T_target);
  parameters.intrinsics[0] = camera(0, 0);
  parameters.intrinsics[1] = camera(1, 1);
  parameters.intrinsics[2] = camera(0, 2);
  parameters.intrinsics[3] = camera(1, 2);
  cv::Mat distortion;
  input.distortion_coefficients.reshape(1, 1).convertTo(distortion, CV_64F);
  for (int k = 0; k < distortion.cols; ++k) parameters.intrinsics[4 + k] = distortion.at<double>(k);
  parameters.deltas.assign(captures.size(), {});

  HandEyeRefinement refinement;
  refinement.loss_scale_px = options.loss_scale_px;
  refinement.refined_intrinsics = options.refine_intrinsics;
  refinement.initial_tcp_T_camera = transformOf(parameters.tcp_T_camera);
  for (const Capture& capture : captures) refinement.corner_count += capture.corners.size();
  refinement.rms_before_px = rmsOf(squaredErrorsPerCapture(captures, parameters), refinement.corner_count);

  ceres::Problem problem;
  ceres::LossFunction* loss = new ceres::HuberLoss(options.loss_scale_px);
  for (std::size_t i = 0; i < captures.size(); ++i) {
    addCapture(problem, parameters, captures[i], i, loss, !options.refine_intrinsics);
  }
  problem.SetManifold(parameters.tcp_T_camera.rotation.data(), new ceres::QuaternionManifold);
  problem.SetManifold(parameters.base_T_target.rotation.data(), new ceres::QuaternionManifold);
  if (options.refine_intrinsics) {
    std::vector<int> absent;
    for (int k = 4 + distortion.cols; k < kIntrinsicCount; ++k) absent.push_back(k);
    if (!absent.empty()) problem.SetManifold(parameters.intrinsics.data(), new ceres::SubsetManifold(kIntrinsicCount, absent));
  }
  for (auto& delta : parameters.deltas) problem.SetParameterBlockConstant(delta.data());

  const ceres::Solver::Summary joint = solve(problem, options.max_iterations, ceres::DENSE_QR);
  refinement.iterations = stepsOf(joint);
  refinement.ok = joint.IsSolutionUsable();
  refinement.converged = joint.termination_type == ceres::CONVERGENCE;
  if (!refinement.ok) return refinement;

  const std::size_t global_parameters = 12 + (options.refine_intrinsics ? 4 + distortion.cols : 0);
  const NoiseLevels start = startingNoise(captures, parameters, options);
  const Uncertainty uncertainty =
      start.image_px > 0.0 && start.rotation_rad > 0.0 && start.translation_m > 0.0
          ? weighedByNoise(problem, parameters, captures, start, global_parameters, options.max_iterations)
          : imageNoiseOnly(problem, parameters, captures, global_parameters);
  refinement.iterations += uncertainty.iterations;
  refinement.converged = refinement.converged && uncertainty.converged;
  refinement.image_noise_px = uncertainty.noise.image_px;
  refinement.robot_noise_rotation_deg = tf::degreesFromRadians(uncertainty.noise.rotation_rad);
  refinement.robot_noise_translation_mm = 1000.0 * uncertainty.noise.translation_m;
  if (!uncertainty.covariance.empty()) {
    const std::vector<double>& rotation = uncertainty.covariance[0];
    const std::vector<double>& translation = uncertainty.covariance[1];
    for (int k = 0; k < 3; ++k) {
      // The quaternion manifold's tangent is half the rotation vector.
      refinement.sigma_rotation_deg[k] = tf::degreesFromRadians(2.0 * std::sqrt(uncertainty.scale * rotation[4 * k]));
      refinement.sigma_translation_mm[k] = 1000.0 * std::sqrt(uncertainty.scale * translation[4 * k]);
    }
  }

  const std::vector<double> squared = squaredErrorsPerCapture(captures, parameters);
  refinement.rms_after_px = rmsOf(squared, refinement.corner_count);
  for (std::size_t i = 0; i < captures.size(); ++i) {
    refinement.per_capture_rms_px.push_back(std::sqrt(squared[i] / static_cast<double>(captures[i].corners.size())));
  }
  refinement.tcp_T_camera = transformOf(parameters.tcp_T_camera);
  refinement.base_T_target = transformOf(parameters.base_T_target);
  refinement.intrinsic_matrix = (cv::Mat_<double>(3, 3) << parameters.intrinsics[0], camera(0, 1),
                                 parameters.intrinsics[2], 0.0, parameters.intrinsics[1], parameters.intrinsics[3], 0.0,
                                 0.0, 1.0);
  refinement.distortion_coefficients = cv::Mat(1, distortion.cols, CV_64F);
  for (int k = 0; k < distortion.cols; ++k) refinement.distortion_coefficients.at<double>(k) = parameters.intrinsics[4 + k];
  return refinement;
}

std::string formatHandEyeRefinement(const HandEyeRefinement& refinement) {
  std::ostringstream text;
  text << "\n" << std::string(60, '=') << "\nHAND-EYE REFINEMENT\n" << std::string(60, '=') << "\n";
  if (refinement.corner_count == 0) {
    text << "Not refined.\n";
    return text.str();
  }
  if (!refinement.ok) {
    text << "Refinement failed.\n";
    return text.str();
  }
  text << std::fixed << std::setprecision(4);
  text << "\nJoint reprojection fit of tcp_T_camera and base_T_target (Huber loss, scale "
       << refinement.loss_scale_px << " px; intrinsics " << (refinement.refined_intrinsics ? "refined" : "held fixed")
       << ")\n";
  text << "  Reprojection RMS: " << refinement.rms_before_px << " px before, " << refinement.rms_after_px
       << " px after (" << refinement.per_capture_rms_px.size() << " captures, " << refinement.corner_count
       << " corners)\n";
  text << "  Iterations: " << refinement.iterations << (refinement.converged ? " (converged)" : " (not converged)")
       << "\n";
  text << "\nRefined Hand-Eye Transform (TCP -> Camera):\n" << refinement.tcp_T_camera << "\n";
  text << "  Change from the closed form: "
       << 1000.0 * cv::norm(tf::translationOf(refinement.tcp_T_camera), tf::translationOf(refinement.initial_tcp_T_camera))
       << " mm, " << tf::rotationAngleDeg(refinement.tcp_T_camera, refinement.initial_tcp_T_camera) << " deg\n";
  if (refinement.refined_intrinsics) {
    text << "\nRefined Intrinsic Matrix:\n" << refinement.intrinsic_matrix << "\n";
    text << "Refined Distortion Coefficients:\n" << refinement.distortion_coefficients << "\n";
  }
  const auto axes = [&text](const cv::Vec3d& values, const char* unit) {
    text << "x " << values[0] << " y " << values[1] << " z " << values[2] << " " << unit;
  };
  text << "\nUncertainty of tcp_T_camera (1 sigma, tcp frame):\n  sigma translation: ";
  axes(refinement.sigma_translation_mm, "mm");
  text << "\n  sigma rotation:    ";
  axes(refinement.sigma_rotation_deg, "deg");
  text << "\n";
  if (refinement.robot_noise_translation_mm > 0.0 || refinement.robot_noise_rotation_deg > 0.0) {
    text << "  Covers image noise (" << refinement.image_noise_px
         << " px per axis) and the robot's pose noise the captures show beyond it ("
         << refinement.robot_noise_translation_mm << " mm, " << refinement.robot_noise_rotation_deg
         << " deg per axis and capture).\n";
  } else {
    text << "  Covers image noise only (" << refinement.image_noise_px
         << " px per axis): the captures show no robot pose noise beyond it.\n";
  }
  text << "\nPer-capture RMS (px):\n";
  for (std::size_t i = 0; i < refinement.per_capture_rms_px.size(); ++i) {
    text << "  Capture " << i << ": " << refinement.per_capture_rms_px[i] << "\n";
  }
  return text.str();
}

}  // namespace vemo::calibration
