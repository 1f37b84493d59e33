#include "vemo/calibration/rig/rig_refinement.hpp"

#include <ceres/ceres.h>
#include <ceres/product_manifold.h>
#include <ceres/rotation.h>

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/calibration/intrinsic/chained_corner_cost.hpp"
#include "vemo/calibration/intrinsic/least_squares_support.hpp"
#include "vemo/calibration/intrinsic/lens_manifold.hpp"
#include "vemo/calibration/intrinsic/lens_projection.hpp"
#include "vemo/calibration/intrinsic/robust_loss_scale.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

using refinement::PoseBlock;

[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument("refineRig: " + what); }

// Where a board point lies in a camera's coordinates: through the frame's board pose in the
// reference frame (quaternion w x y z, then translation), then the inverse of the camera's pose.
struct RigPoint {
  std::array<double, 3> point;

  template <typename T>
  void operator()(const T* const* blocks, T* in_camera) const {
    const T* camera_rotation = blocks[0];
    const T* camera_translation = blocks[1];
    const T* board = blocks[2];
    const T board_point[3] = {T(point[0]), T(point[1]), T(point[2])};
    T in_reference[3];
    ceres::UnitQuaternionRotatePoint(board, board_point, in_reference);
    const T offset[3] = {in_reference[0] + board[4] - camera_translation[0],
                         in_reference[1] + board[5] - camera_translation[1],
                         in_reference[2] + board[6] - camera_translation[2]};
    const T inverse_rotation[4] = {camera_rotation[0], -camera_rotation[1], -camera_rotation[2], -camera_rotation[3]};
    ceres::UnitQuaternionRotatePoint(inverse_rotation, offset, in_camera);
  }
};

// One corner seen by one camera in one frame, in a lens model of 0, 4, 5, 8 or 12 distortion
// coefficients. The camera's lens block holds only the model's parameters.
struct Corner {
  RigPoint geometry;
  std::array<double, 2> observed;
  double skew;
  int distortion_count;

  template <int count>
  ceres::CostFunction* costOfModel() const {
    return new ChainedCornerCost<RigPoint, count, 4, 3, 7>(geometry, observed, skew);
  }
  ceres::CostFunction* cost() const {
    switch (distortion_count) {
      case 0: return costOfModel<0>();
      case 4: return costOfModel<4>();
      case 5: return costOfModel<5>();
      case 8: return costOfModel<8>();
      default: return costOfModel<12>();
    }
  }
  // The residual at given parameters; the model's zeros are in the lens array already.
  void operator()(const double* camera_rotation, const double* camera_translation, const double* board,
                  const double* lens, double* residual) const {
    const double* blocks[] = {camera_rotation, camera_translation, board};
    double in_camera[3];
    geometry(blocks, in_camera);
    reprojectionResidual(lens, skew, in_camera, observed, residual);
  }
};

// A board pose reference_T_board as one block, quaternion (w, x, y, z) then translation:
// each frame's pose is then one block for the Schur elimination to remove.
using BoardBlock = std::array<double, 7>;
using BoardManifold = ceres::ProductManifold<ceres::QuaternionManifold, ceres::EuclideanManifold<3>>;

BoardBlock boardBlockOf(const cv::Mat& reference_T_board) {
  const PoseBlock pose = refinement::poseBlockOf(reference_T_board);
  return {pose.rotation[0], pose.rotation[1], pose.rotation[2], pose.rotation[3],
          pose.translation[0], pose.translation[1], pose.translation[2]};
}

cv::Mat transformOf(const BoardBlock& board) {
  PoseBlock pose;
  std::copy(board.begin(), board.begin() + 4, pose.rotation.begin());
  std::copy(board.begin() + 4, board.end(), pose.translation.begin());
  return refinement::transformOf(pose);
}

struct Camera {
  PoseBlock reference_T_camera;
  LensParameters lens{};
  double skew = 0.0;
  int distortion_count = 0;
  std::vector<LensDirection> lens_directions;  // the ways the calibration flags let the lens move
  int lensSize() const { return 4 + distortion_count; }
};

struct Observation {
  std::size_t camera;
  std::size_t frame;
  Corner corner;
};

cv::Mat pointRows(const cv::Mat& points, int width, const std::string& name) {
  const cv::Mat rows = points.isContinuous() ? points : points.clone();
  if (rows.total() * rows.channels() % static_cast<std::size_t>(width) != 0) {
    fail(name + " must hold " + std::to_string(width) + " numbers per point");
  }
  cv::Mat as_double;
  rows.reshape(1, static_cast<int>(rows.total() * rows.channels() / width)).convertTo(as_double, CV_64F);
  return as_double;
}

std::vector<Camera> camerasOf(const MultiCameraResult& start, int flags) {
  std::vector<Camera> cameras(start.reference_T_camera_list.size());
  for (std::size_t k = 0; k < cameras.size(); ++k) {
    const std::string name = "camera " + std::to_string(k);
    if (start.reference_T_camera_list[k].empty()) fail(name + " has no pose: refine a complete rig");
    const cv::Mat& matrix = start.intrinsic_matrices[k];
    if (matrix.rows != 3 || matrix.cols != 3 || matrix.channels() != 1) fail(name + ": intrinsic matrix must be 3x3");
    const cv::Mat& distortion = start.distortion_coefficients[k];
    const int count = static_cast<int>(distortion.total() * distortion.channels());
    if (count != 0 && count != 4 && count != 5 && count != 8 && count != 12) {
      fail(name + ": distortion coefficients must hold 0, 4, 5, 8 or 12 values (the tilted model is not supported)");
    }
    cameras[k].reference_T_camera = refinement::poseBlockOf(start.reference_T_camera_list[k]);
    cameras[k].lens = lensParametersOf(matrix, distortion);
    cameras[k].skew = refinement::fixedOf<3, 3>(matrix)(0, 1);
    cameras[k].distortion_count = count;
    cameras[k].lens_directions = lensDirectionsOf(cameras[k].lens, flags, count);
  }
  return cameras;
}

// Each frame's board pose from the camera that saw most of it; empty frames stay unset.
std::vector<std::optional<BoardBlock>> startingBoards(const std::vector<CameraViews>& views,
                                                     const MultiCameraResult& start, std::size_t frame_count) {
  std::vector<std::optional<BoardBlock>> boards(frame_count);
  std::vector<int> most(frame_count, 0);
  std::vector<std::pair<std::size_t, std::size_t>> seen_by(frame_count);
  for (std::size_t camera = 0; camera < views.size(); ++camera) {
    for (std::size_t view = 0; view < views[camera].frames.size(); ++view) {
      const auto frame = static_cast<std::size_t>(views[camera].frames[view]);
      const int corners = views[camera].image_points[view].rows * views[camera].image_points[view].cols;
      if (corners > most[frame]) {
        most[frame] = corners;
        seen_by[frame] = {camera, view};
      }
    }
  }
  for (std::size_t frame = 0; frame < frame_count; ++frame) {
    if (most[frame] < 4) continue;
    const auto [camera, view] = seen_by[frame];
    const cv::Mat object = pointRows(views[camera].object_points[view], 3, "object_points");
    const cv::Mat image = pointRows(views[camera].image_points[view], 2, "image_points");
    cv::Mat rotation_vector, translation, rotation;
    if (!cv::solvePnP(object, image, start.intrinsic_matrices[camera], start.distortion_coefficients[camera],
                      rotation_vector, translation)) {
      continue;
    }
    cv::Rodrigues(rotation_vector, rotation);
    const cv::Mat camera_T_board = tf::composeTransformationMatrix(rotation, translation);
    cv::Mat reference_T_camera;
    start.reference_T_camera_list[camera].convertTo(reference_T_camera, CV_64F);
    boards[frame] = boardBlockOf(reference_T_camera * camera_T_board);
  }
  return boards;
}

void residualOf(const Observation& observation, const std::vector<Camera>& cameras,
                const std::vector<BoardBlock>& boards, double* residual) {
  const Camera& camera = cameras[observation.camera];
  observation.corner(camera.reference_T_camera.rotation.data(), camera.reference_T_camera.translation.data(),
                     boards[observation.frame].data(), camera.lens.data(), residual);
}

double squaredDistance(const Observation& observation, const std::vector<Camera>& cameras,
                       const std::vector<BoardBlock>& boards) {
  double residual[2];
  residualOf(observation, cameras, boards, residual);
  return residual[0] * residual[0] + residual[1] * residual[1];
}

// The corners' robust noise per axis at the rig and boards given.
double robustNoiseAt(const std::vector<Observation>& observations, const std::vector<Camera>& cameras,
                     const std::vector<BoardBlock>& boards) {
  std::vector<double> magnitudes;
  magnitudes.reserve(2 * observations.size());
  for (const Observation& observation : observations) {
    double residual[2];
    residualOf(observation, cameras, boards, residual);
    magnitudes.push_back(std::abs(residual[0]));
    magnitudes.push_back(std::abs(residual[1]));
  }
  return refinement::robustNoiseOf(std::move(magnitudes));
}

double rmsOf(const std::vector<Observation>& observations, const std::vector<Camera>& cameras,
             const std::vector<BoardBlock>& boards) {
  double sum = 0.0;
  for (const Observation& observation : observations) sum += squaredDistance(observation, cameras, boards);
  return std::sqrt(sum / static_cast<double>(observations.size()));
}

ceres::Solver::Summary solveWithBoardsFirst(ceres::Problem& problem, std::vector<BoardBlock>& boards,
                                            const std::vector<bool>& used, int max_iterations) {
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_SCHUR;
  options.max_num_iterations = max_iterations;
  options.logging_type = ceres::SILENT;
  // The board poses are many and independent given the cameras: eliminated first.
  auto ordering = std::make_shared<ceres::ParameterBlockOrdering>();
  std::vector<double*> all;
  problem.GetParameterBlocks(&all);
  for (double* block : all) ordering->AddElementToGroup(block, 1);
  for (std::size_t frame = 0; frame < boards.size(); ++frame) {
    if (used[frame]) ordering->AddElementToGroup(boards[frame].data(), 0);
  }
  options.linear_solver_ordering = ordering;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  return summary;
}

void setCamerasConstant(ceres::Problem& problem, std::vector<Camera>& cameras, std::size_t reference, bool constant) {
  for (std::size_t k = 0; k < cameras.size(); ++k) {
    Camera& camera = cameras[k];
    std::vector<double*> blocks{camera.lens.data()};
    if (k != reference) {
      blocks.push_back(camera.reference_T_camera.rotation.data());
      blocks.push_back(camera.reference_T_camera.translation.data());
    }
    const bool lens_fixed = camera.lens_directions.empty();
    for (double* block : blocks) {
      if (constant || (block == camera.lens.data() && lens_fixed)) {
        problem.SetParameterBlockConstant(block);
      } else {
        problem.SetParameterBlockVariable(block);
      }
    }
  }
}

}  // namespace

RigRefinement refineRig(const std::vector<CameraViews>& views, const MultiCameraResult& start,
                        const RigRefinementOptions& options) {
  const std::size_t camera_count = start.reference_T_camera_list.size();
  if (!start.ok) fail("the start must be a complete rig (ok)");
  if (views.size() != camera_count) {
    fail("expected views of " + std::to_string(camera_count) + " cameras, got " + std::to_string(views.size()));
  }
  if (options.loss_scale_px && (!(*options.loss_scale_px > 0.0) || !std::isfinite(*options.loss_scale_px))) {
    fail("loss_scale_px must be positive");
  }
  if (options.max_iterations < 1) fail("max_iterations must be at least 1");
  const auto reference = static_cast<std::size_t>(start.reference_index);
  std::vector<Camera> cameras = camerasOf(start, options.calibrate_camera_flags);

  std::size_t frame_count = 0;
  for (const CameraViews& camera : views) {
    if (camera.frames.size() != camera.object_points.size() || camera.frames.size() != camera.image_points.size()) {
      fail("frames, object_points and image_points must have the same length");
    }
    for (int frame : camera.frames) {
      if (frame < 0) fail("frame indices must not be negative");
      frame_count = std::max(frame_count, static_cast<std::size_t>(frame) + 1);
    }
  }
  const std::vector<std::optional<BoardBlock>> starting_boards = startingBoards(views, start, frame_count);
  std::vector<BoardBlock> boards(frame_count);
  std::vector<bool> used(frame_count, false);
  for (std::size_t frame = 0; frame < frame_count; ++frame) {
    if (!starting_boards[frame]) continue;
    boards[frame] = *starting_boards[frame];
    used[frame] = true;
  }

  std::vector<Observation> observations;
  for (std::size_t camera = 0; camera < camera_count; ++camera) {
    for (std::size_t view = 0; view < views[camera].frames.size(); ++view) {
      const auto frame = static_cast<std::size_t>(views[camera].frames[view]);
      if (!used[frame]) continue;
      const cv::Mat object = pointRows(views[camera].object_points[view], 3, "object_points");
      const cv::Mat image = pointRows(views[camera].image_points[view], 2, "image_points");
      if (object.rows != image.rows) fail("object_points and image_points must have the same length");
      for (int j = 0; j < object.rows; ++j) {
        observations.push_back({camera, frame,
                                Corner{{{object.at<double>(j, 0), object.at<double>(j, 1), object.at<double>(j, 2)}},
                                       {image.at<double>(j, 0), image.at<double>(j, 1)},
                                       cameras[camera].skew,
                                       cameras[camera].distortion_count}});
      }
    }
  }
  if (observations.empty()) fail("no corners to refine against");

  ceres::Problem problem;
  // One loss for every corner, its scale set before each fit.
  auto* loss = new ceres::LossFunctionWrapper(new ceres::HuberLoss(1.0), ceres::TAKE_OWNERSHIP);
  for (const Observation& observation : observations) {
    Camera& camera = cameras[observation.camera];
    problem.AddResidualBlock(observation.corner.cost(), loss, camera.reference_T_camera.rotation.data(), camera.reference_T_camera.translation.data(),
        boards[observation.frame].data(), camera.lens.data());
  }
  std::size_t free_parameters = 0;
  for (std::size_t k = 0; k < camera_count; ++k) {
    Camera& camera = cameras[k];
    problem.SetManifold(camera.reference_T_camera.rotation.data(), new ceres::QuaternionManifold);
    const std::size_t free_lens = camera.lens_directions.size();
    if (free_lens > 0 && free_lens < static_cast<std::size_t>(camera.lensSize())) {
      problem.SetManifold(camera.lens.data(), new LensManifold(camera.lensSize(), camera.lens_directions));
    }
    free_parameters += free_lens + (k == reference ? 0 : 6);
  }
  for (std::size_t frame = 0; frame < frame_count; ++frame) {
    if (!used[frame]) continue;
    problem.SetManifold(boards[frame].data(), new BoardManifold);
    free_parameters += 6;
  }
  problem.SetParameterBlockConstant(cameras[reference].reference_T_camera.rotation.data());
  problem.SetParameterBlockConstant(cameras[reference].reference_T_camera.translation.data());

  RigRefinement refinement;
  refinement.reference_index = start.reference_index;
  refinement.corner_count = observations.size();

  // The rig as given, each board fitted to it (the figure the refinement is to improve on),
  // then everything at once, from the start each time.
  const std::vector<Camera> start_cameras = cameras;
  const std::vector<BoardBlock> start_boards = boards;
  const auto fitFromStart = [&](double scale) {
    for (std::size_t k = 0; k < camera_count; ++k) {
      cameras[k].reference_T_camera = start_cameras[k].reference_T_camera;
      cameras[k].lens = start_cameras[k].lens;
    }
    std::copy(start_boards.begin(), start_boards.end(), boards.begin());
    loss->Reset(new ceres::HuberLoss(scale), ceres::TAKE_OWNERSHIP);
    setCamerasConstant(problem, cameras, reference, true);
    const ceres::Solver::Summary boards_only = solveWithBoardsFirst(problem, boards, used, options.max_iterations);
    refinement.rms_before_px = rmsOf(observations, cameras, boards);
    setCamerasConstant(problem, cameras, reference, false);
    const ceres::Solver::Summary joint = solveWithBoardsFirst(problem, boards, used, options.max_iterations);
    refinement.iterations += refinement::stepsOf(boards_only) + refinement::stepsOf(joint);
    refinement.ok = boards_only.IsSolutionUsable() && joint.IsSolutionUsable();
    refinement.converged = joint.termination_type == ceres::CONVERGENCE;
    return refinement.ok;
  };

  if (options.loss_scale_px) {
    refinement.loss_scale_px = *options.loss_scale_px;
    if (!fitFromStart(refinement.loss_scale_px)) return refinement;
  } else {
    refinement.loss_scale_from_data = true;
    refinement.loss_scale_px = kPilotLossScalePx;
    if (!fitFromStart(kPilotLossScalePx)) return refinement;
    refinement.robust_noise_px = robustNoiseAt(observations, cameras, boards);
    // Exact corners (noise 0) leave nothing to scale: the pilot is the fit.
    if (refinement.robust_noise_px > 0.0) {
      refinement.loss_scale_px = refinement::kLossScaleNoiseMultiple * refinement.robust_noise_px;
      if (!fitFromStart(refinement.loss_scale_px)) return refinement;
    }
  }
  refinement.rms_after_px = rmsOf(observations, cameras, boards);

  std::vector<double> squares(camera_count, 0.0);
  refinement.per_camera_corner_count.assign(camera_count, 0);
  double total = 0.0;
  for (const Observation& observation : observations) {
    const double square = squaredDistance(observation, cameras, boards);
    squares[observation.camera] += square;
    total += square;
    ++refinement.per_camera_corner_count[observation.camera];
  }
  for (std::size_t k = 0; k < camera_count; ++k) {
    const int count = refinement.per_camera_corner_count[k];
    refinement.per_camera_rms_px.push_back(count > 0 ? std::sqrt(squares[k] / count)
                                                     : std::numeric_limits<double>::quiet_NaN());
    refinement.reference_T_camera_list.push_back(refinement::transformOf(cameras[k].reference_T_camera));
    refinement.intrinsic_matrices.push_back(cameraMatrixOf(cameras[k].lens, cameras[k].skew));
    refinement.distortion_coefficients.push_back(distortionOf(cameras[k].lens, cameras[k].distortion_count));
  }
  refinement.reference_T_camera_list[reference] = cv::Mat::eye(4, 4, CV_64F);
  for (std::size_t frame = 0; frame < frame_count; ++frame) {
    refinement.reference_T_board_list.push_back(used[frame] ? transformOf(boards[frame]) : cv::Mat());
  }

  const double freedoms = 2.0 * static_cast<double>(observations.size()) - static_cast<double>(free_parameters);
  const double scale = freedoms > 0.0 ? total / freedoms : std::numeric_limits<double>::quiet_NaN();
  refinement.image_noise_px = std::sqrt(scale);
  std::vector<const double*> blocks;
  for (std::size_t k = 0; k < camera_count; ++k) {
    if (k == reference) continue;
    blocks.push_back(cameras[k].reference_T_camera.rotation.data());
    blocks.push_back(cameras[k].reference_T_camera.translation.data());
  }
  std::vector<std::vector<double>> covariance;
  const bool known = refinement::covarianceOf(problem, blocks, covariance);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::size_t block = 0;
  for (std::size_t k = 0; k < camera_count; ++k) {
    cv::Vec3d rotation_deg(0.0, 0.0, 0.0), translation_mm(0.0, 0.0, 0.0);
    if (k != reference) {
      for (int axis = 0; axis < 3; ++axis) {
        // The quaternion manifold's tangent is half the rotation vector.
        rotation_deg[axis] = known ? tf::degreesFromRadians(2.0 * std::sqrt(scale * covariance[block][4 * axis])) : nan;
        translation_mm[axis] = known ? 1000.0 * std::sqrt(scale * covariance[block + 1][4 * axis]) : nan;
      }
      block += 2;
    }
    refinement.sigma_rotation_deg.push_back(rotation_deg);
    refinement.sigma_translation_mm.push_back(translation_mm);
  }
  return refinement;
}

}  // namespace vemo::calibration
