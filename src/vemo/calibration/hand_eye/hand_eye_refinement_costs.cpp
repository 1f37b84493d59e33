#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <Eigen/Core>

#include "vemo/tf/tf.hpp"

namespace vemo::calibration::refinement {

namespace {

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

// The pose blocks' parameters (CornerResidual's five blocks) and where each block starts.
constexpr int kPoseParameterCount = 4 + 3 + 4 + 3 + 6;
constexpr std::array<int, 5> kPoseBlockSizes{4, 3, 4, 3, 6};
constexpr std::array<int, 5> kPoseBlockOffsets{0, 4, 7, 11, 14};
using PoseJet = ceres::Jet<double, kPoseParameterCount>;

// A capture's chain from the board into the camera: one rigid motion for all its corners,
// camera = rotation * board + translation, entries in T (double, or PoseJet for their
// derivatives over the pose parameters).
template <typename T>
struct CaptureChain {
  std::array<std::array<T, 3>, 3> rotation;  // [row][column]
  std::array<T, 3> translation;

  // Through CornerResidual, which is affine in the board point: the translation is the
  // origin's image, the rotation's columns the unit points' images less that.
  CaptureChain(const CornerResidual& pose, const T* const* blocks) {
    CornerResidual unit = pose;
    unit.point = {0.0, 0.0, 0.0};
    unit(blocks, translation.data());
    for (int column = 0; column < 3; ++column) {
      unit.point = {0.0, 0.0, 0.0};
      unit.point[column] = 1.0;
      T image[3];
      unit(blocks, image);
      for (int row = 0; row < 3; ++row) rotation[row][column] = image[row] - translation[row];
    }
  }

  template <typename Point>
  void apply(const std::array<double, 3>& board_point, Point* in_camera) const {
    for (int row = 0; row < 3; ++row) {
      in_camera[row] = rotation[row][0] * board_point[0] + rotation[row][1] * board_point[1] +
                       rotation[row][2] * board_point[2] + translation[row];
    }
  }
};

// The corners of one capture (CornerResidual, projected through a lens of distortion_count
// coefficients) as one residual block over the pose blocks and the lens block: 2 residuals per
// corner and one more. Ceres robustifies a block as a whole; a corner's loss is applied here as
// Ceres applies it to a block of its own: its residuals and Jacobian scaled by sqrt(rho'(s))
// (the losses are concave, rho'' is never positive, which leaves Ceres's correction at that),
// s its squared residual. The scaled residuals' squares add up to rho'(s) s, short of the cost
// rho(s) (concavity keeps the shortfall from being negative); the last residual carries the
// capture's shortfall with no derivative, so that the block's cost, its gradient and the step's
// linear model are those of the corners' own blocks.
template <int distortion_count>
class CaptureCornersCost final : public ceres::CostFunction {
 public:
  CaptureCornersCost(const Capture& capture, const CornerLoss& loss)
      : corners_(capture.corners), loss_(loss.function()) {
    set_num_residuals(2 * static_cast<int>(corners_.size()) + 1);
    *mutable_parameter_block_sizes() = {4, 3, 4, 3, 6, kLensSize};
  }

  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
    bool poses_wanted = false;
    for (int block = 0; jacobians != nullptr && block < 5; ++block) {
      poses_wanted = poses_wanted || jacobians[block] != nullptr;
    }
    const bool lens_wanted = jacobians != nullptr && jacobians[5] != nullptr;
    const auto corners = [&](const auto& chain) {
      return lens_wanted ? evaluate<kLensSize>(chain, parameters[5], residuals, jacobians)
                         : evaluate<0>(chain, parameters[5], residuals, jacobians);
    };
    double shortfall = 0.0;
    if (poses_wanted) {
      std::array<PoseJet, kPoseParameterCount> values;
      std::array<const PoseJet*, 5> blocks{};
      for (std::size_t block = 0; block < blocks.size(); ++block) {
        blocks[block] = values.data() + kPoseBlockOffsets[block];
        for (int k = 0; k < kPoseBlockSizes[block]; ++k) {
          const int index = kPoseBlockOffsets[block] + k;
          values[index] = PoseJet(parameters[block][k], index);
        }
      }
      shortfall = corners(CaptureChain<PoseJet>(corners_.front(), blocks.data()));
    } else {
      shortfall = corners(CaptureChain<double>(corners_.front(), parameters));
    }
    const int last = num_residuals() - 1;
    residuals[last] = std::sqrt(std::max(shortfall, 0.0));
    for (int block = 0; jacobians != nullptr && block < 6; ++block) {
      const int size = parameter_block_sizes()[block];
      if (jacobians[block] != nullptr) std::fill_n(jacobians[block] + last * size, size, 0.0);
    }
    return true;
  }

 private:
  static constexpr int kLensSize = 4 + distortion_count;

  // The corners' scaled residuals and, where asked, their Jacobian rows: over the pose blocks
  // when the chain carries derivatives, over the lens when lens_derivatives is its size. The
  // capture's shortfall of cost (above).
  template <int lens_derivatives, typename Chain>
  double evaluate(const Chain& chain, const double* lens, double* residuals, double** jacobians) const {
    constexpr bool kPoses = std::is_same_v<Chain, CaptureChain<PoseJet>>;
    using LensJet = ceres::Jet<double, lens_derivatives + 3>;
    LensJet lens_jets[kLensSize];
    for (int k = 0; k < kLensSize; ++k) lens_jets[k] = lens_derivatives > 0 ? LensJet(lens[k], k) : LensJet(lens[k]);
    double shortfall = 0.0;
    for (std::size_t j = 0; j < corners_.size(); ++j) {
      const CornerResidual& corner = corners_[j];
      double in_camera[3];
      Eigen::Matrix<double, 3, kPoseParameterCount> point_jacobian;
      if constexpr (kPoses) {
        PoseJet point[3];
        chain.apply(corner.point, point);
        for (int k = 0; k < 3; ++k) {
          in_camera[k] = point[k].a;
          point_jacobian.row(k) = point[k].v.transpose();
        }
      } else {
        chain.apply(corner.point, in_camera);
      }
      LensJet point[3];
      for (int k = 0; k < 3; ++k) point[k] = LensJet(in_camera[k], lens_derivatives + k);
      LensJet pixel[2];
      projectThroughModel<distortion_count>(lens_jets, corner.skew, point, pixel);
      const double residual[2] = {pixel[0].a - corner.observed[0], pixel[1].a - corner.observed[1]};
      const double squared = residual[0] * residual[0] + residual[1] * residual[1];
      double rho[3];
      loss_->Evaluate(squared, rho);
      const double scaling = std::sqrt(rho[1]);
      shortfall += rho[0] - rho[1] * squared;
      const int row = 2 * static_cast<int>(j);
      residuals[row] = scaling * residual[0];
      residuals[row + 1] = scaling * residual[1];
      if (jacobians == nullptr) continue;
      if constexpr (lens_derivatives > 0) {
        for (int r = 0; r < 2; ++r) {
          for (int k = 0; k < kLensSize; ++k) jacobians[5][(row + r) * kLensSize + k] = scaling * pixel[r].v[k];
        }
      }
      if constexpr (kPoses) {
        Eigen::Matrix<double, 2, 3> pixel_jacobian;
        for (int r = 0; r < 2; ++r) {
          for (int k = 0; k < 3; ++k) pixel_jacobian(r, k) = scaling * pixel[r].v[lens_derivatives + k];
        }
        const Eigen::Matrix<double, 2, kPoseParameterCount> rows = pixel_jacobian * point_jacobian;
        for (std::size_t block = 0; block < kPoseBlockSizes.size(); ++block) {
          double* jacobian = jacobians[block];
          if (jacobian == nullptr) continue;
          const int size = kPoseBlockSizes[block];
          for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < size; ++c) jacobian[(row + r) * size + c] = rows(r, kPoseBlockOffsets[block] + c);
          }
        }
      }
    }
    return shortfall;
  }

  std::vector<CornerResidual> corners_;
  std::unique_ptr<ceres::LossFunction> loss_;
};

ceres::CostFunction* captureCornersCost(const Capture& capture, const CornerLoss& loss, int distortion_count) {
  switch (distortion_count) {
    case 0: return new CaptureCornersCost<0>(capture, loss);
    case 4: return new CaptureCornersCost<4>(capture, loss);
    case 5: return new CaptureCornersCost<5>(capture, loss);
    case 8: return new CaptureCornersCost<8>(capture, loss);
    default: return new CaptureCornersCost<12>(capture, loss);
  }
}

}  // namespace

std::unique_ptr<ceres::LossFunction> CornerLoss::function() const {
  if (kind == Kind::tukey) return std::make_unique<ceres::TukeyLoss>(scale_px);
  return std::make_unique<ceres::HuberLoss>(scale_px);
}

bool DeltaPrior::Evaluate(double const* const* parameters, double* residuals, double** jacobians) const {
  const std::array<double, 6>& weights = *weights_;
  for (int k = 0; k < 6; ++k) residuals[k] = weights[k] * parameters[0][k];
  if (jacobians != nullptr && jacobians[0] != nullptr) {
    std::fill(jacobians[0], jacobians[0] + 36, 0.0);
    for (int k = 0; k < 6; ++k) jacobians[0][7 * k] = weights[k];
  }
  return true;
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
      corner.error_at_target = input.flange_holds == FlangeHolds::target;
      captures[i].corners.push_back(corner);
    }
  }
  return captures;
}

void ChainProblem::addCapture(const Capture& capture, std::size_t index, const CornerLoss& loss, bool lens_fixed) {
  double* intrinsics = parameters_.intrinsics.data();
  const ceres::ResidualBlockId corners = problem_.AddResidualBlock(
      captureCornersCost(capture, loss, parameters_.distortion_count), nullptr,
      parameters_.tcp_T_camera.rotation.data(), parameters_.tcp_T_camera.translation.data(),
      parameters_.base_T_target.rotation.data(), parameters_.base_T_target.translation.data(),
      parameters_.deltas[index].data(), intrinsics);
  added_.push_back({index, corners, nullptr});
  if (lens_fixed) problem_.SetParameterBlockConstant(intrinsics);
}

void ChainProblem::freePoseErrors() {
  for (Added& added : added_) {
    double* delta = parameters_.deltas[added.index].data();
    problem_.SetParameterBlockVariable(delta);
    if (added.prior == nullptr) {
      added.prior = problem_.AddResidualBlock(new DeltaPrior(&parameters_.prior_weights), nullptr, delta);
    }
  }
}

NormalBlocks ChainProblem::normalBlocks() {
  double* intrinsics = parameters_.intrinsics.data();
  const int lens = problem_.IsParameterBlockConstant(intrinsics) ? 0 : problem_.ParameterBlockTangentSize(intrinsics);
  const int global = 12 + lens;
  NormalBlocks normal;
  normal.global = Eigen::MatrixXd::Zero(global, global);
  using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  for (const Added& added : added_) {
    double* delta = parameters_.deltas[added.index].data();
    const bool pose_error_free = !problem_.IsParameterBlockConstant(delta);
    const int rows = problem_.GetCostFunctionForResidualBlock(added.corners)->num_residuals();
    // The tangent Jacobians as Ceres gives them: the transforms' four blocks (3 columns each),
    // the pose error's and the lens's, each row-major.
    std::array<RowMajor, 4> transforms;
    for (RowMajor& transform : transforms) transform.resize(rows, 3);
    RowMajor pose_error_rows(rows, 6), lens_rows(rows, lens);
    std::vector<double> residuals(static_cast<std::size_t>(rows));
    double* jacobians[] = {transforms[0].data(), transforms[1].data(), transforms[2].data(), transforms[3].data(),
                           pose_error_free ? pose_error_rows.data() : nullptr, lens > 0 ? lens_rows.data() : nullptr};
    problem_.EvaluateResidualBlock(added.corners, true, nullptr, residuals.data(), jacobians);
    Eigen::MatrixXd global_rows(rows, global);
    for (int block = 0; block < 4; ++block) global_rows.middleCols<3>(3 * block) = transforms[block];
    if (lens > 0) global_rows.rightCols(lens) = lens_rows;
    normal.global.noalias() += global_rows.transpose() * global_rows;
    if (!pose_error_free) continue;
    Eigen::Matrix<double, 6, 6> pose_error = pose_error_rows.transpose() * pose_error_rows;
    if (added.prior != nullptr) {
      Eigen::Matrix<double, 6, 6, Eigen::RowMajor> prior_rows;
      double* prior_jacobian[] = {prior_rows.data()};
      double prior_residuals[6];
      problem_.EvaluateResidualBlock(added.prior, true, nullptr, prior_residuals, prior_jacobian);
      pose_error.noalias() += prior_rows.transpose() * prior_rows;
    }
    normal.coupling.push_back(global_rows.transpose() * pose_error_rows);
    normal.pose_error.push_back(pose_error);
  }
  return normal;
}

double squaredErrorOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta) {
  double sum = 0.0;
  forEachResidual(capture, parameters, delta, [&sum](const double* r) { sum += r[0] * r[0] + r[1] * r[1]; });
  return sum;
}

KeptSquares keptSquaresOf(const Capture& capture, const Parameters& parameters, const std::array<double, 6>& delta,
                          const CornerLoss& loss) {
  if (loss.kind == CornerLoss::Kind::huber) {
    return {squaredErrorOf(capture, parameters, delta), 2.0 * static_cast<double>(capture.corners.size())};
  }
  const std::unique_ptr<ceres::LossFunction> function = loss.function();
  KeptSquares kept;
  forEachResidual(capture, parameters, delta, [&](const double* r) {
    const double squared = r[0] * r[0] + r[1] * r[1];
    double rho[3];
    function->Evaluate(squared, rho);
    kept.squares += rho[1] * squared;
    kept.residuals += 2.0 * rho[1];
  });
  return kept;
}

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

}  // namespace vemo::calibration::refinement
