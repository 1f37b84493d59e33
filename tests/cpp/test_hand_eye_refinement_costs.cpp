// The hand-eye refinement's problem (hand_eye_refinement_costs.hpp) against the plain one it
// stands for: one Huber-robustified residual block per corner, differentiated by Ceres in one
// pass. Its cost, gradient and Gauss-Newton matrix must be theirs, and its covariance the
// dense inverse of their normal matrix.

#include <gtest/gtest.h>

#include <ceres/ceres.h>

#include <opencv2/calib3d.hpp>

#include <Eigen/Dense>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_costs.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement_covariance.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/targets/targets.hpp"
#include "vemo/tf/tf.hpp"

namespace {

using namespace vemo::calibration::refinement;
using vemo::calibration::FlangeHolds;
using vemo::calibration::HandEyeRefinementInput;

const CornerLoss kHuber{CornerLoss::Kind::huber, 1.5};

// A corner's residual through the chain and the 5-coefficient lens, in one autodiff pass.
struct WholeCorner {
  CornerResidual corner;

  template <typename T>
  bool operator()(const T* camera_rotation, const T* camera_translation, const T* target_rotation,
                  const T* target_translation, const T* delta, const T* lens, T* residual) const {
    const T* blocks[] = {camera_rotation, camera_translation, target_rotation, target_translation, delta};
    T in_camera[3];
    corner(blocks, in_camera);
    T pixel[2];
    vemo::calibration::projectThroughModel<5>(lens, corner.skew, in_camera, pixel);
    residual[0] = pixel[0] - T(corner.observed[0]);
    residual[1] = pixel[1] - T(corner.observed[1]);
    return true;
  }
};

// Five captures of a 9 x 6 board with 1 px of corner noise, so that a 1.5 px loss scale leaves
// about a third of the corners beyond it. With the same robot pose for every capture the
// chain's two transforms trade off against each other and the problem is rank deficient.
HandEyeRefinementInput makeInput(FlangeHolds holder, bool one_pose) {
  const vemo::ChessboardTarget board{cv::Size(9, 6), 0.03};
  const cv::Mat camera = (cv::Mat_<double>(3, 3) << 1000, 0, 643, 0, 1002, 478, 0, 0, 1);
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.08, 0.06, 0.0004, -0.0003, -0.01);
  const cv::Mat tcp_T_camera = vemo::tf::poseToTransformationMatrix({0.032, -0.047, 0.105, 4.0, -3.0, 88.0});
  const cv::Mat base_T_target = vemo::tf::poseToTransformationMatrix({0.62, 0.05, 0.02, 180.0, 0.0, 15.0});
  std::mt19937 random(5);
  std::normal_distribution<double> unit(0.0, 1.0);
  HandEyeRefinementInput input;
  for (int k = 0; k < 5; ++k) {
    const double azimuth = one_pose ? 0.0 : 2 * vemo::tf::kPi * k / 5;
    const cv::Point3d offset(0.2 * std::cos(azimuth), 0.2 * std::sin(azimuth), -0.4);
    const cv::Mat camera_T_target = vemo::synthetic::cameraTTargetLookingAt(
        board, vemo::synthetic::targetCentre(board) + offset, one_pose ? 0.0 : 20.0 * k);
    input.robot_T_tcp_list.push_back(base_T_target * camera_T_target.inv() * tcp_T_camera.inv());
    cv::Mat rvec, tvec, image_points;
    vemo::tf::transformationMatrixToRvecTvec(camera_T_target, rvec, tvec);
    cv::projectPoints(board.objectPoints(), rvec, tvec, camera, distortion, image_points);
    for (int j = 0; j < image_points.rows; ++j) {
      image_points.at<cv::Vec2f>(j) += cv::Vec2f(static_cast<float>(unit(random)), static_cast<float>(unit(random)));
    }
    input.corners.push_back({board.objectPoints(), image_points});
  }
  input.intrinsic_matrix = camera;
  input.distortion_coefficients = distortion;
  input.tcp_T_camera =
      tcp_T_camera * vemo::tf::poseToTransformationMatrix({0.0002, -0.0001, 0.0001, 0.02, -0.01, 0.03});
  input.base_T_target = base_T_target;
  input.flange_holds = holder;
  return input;
}

Parameters parametersOf(const HandEyeRefinementInput& input) {
  Parameters parameters;
  parameters.tcp_T_camera = poseBlockOf(input.tcp_T_camera);
  parameters.base_T_target = poseBlockOf(input.base_T_target);
  parameters.intrinsics = vemo::calibration::lensParametersOf(input.intrinsic_matrix, input.distortion_coefficients);
  parameters.distortion_count = 5;
  // Pose errors away from 0, so that the chain's derivatives are taken off the origin too.
  for (std::size_t i = 0; i < input.corners.size(); ++i) {
    const double s = 1e-4 * static_cast<double>(i + 1);
    parameters.deltas.push_back({s, -0.5 * s, 0.7 * s, 2e-5, -0.1 * s, 3e-5});
  }
  parameters.prior_weights = {2e3, 2e3, 2e3, 9e3, 9e3, 9e3};
  return parameters;
}

void setUp(ceres::Problem& problem, Parameters& parameters, bool pose_errors_free) {
  problem.SetManifold(parameters.tcp_T_camera.rotation.data(), new ceres::QuaternionManifold);
  problem.SetManifold(parameters.base_T_target.rotation.data(), new ceres::QuaternionManifold);
  for (auto& delta : parameters.deltas) {
    if (!pose_errors_free) problem.SetParameterBlockConstant(delta.data());
  }
}

// The plain problem over the same parameters: a block per corner, the loss Ceres's own.
void addPerCorner(ceres::Problem& problem, Parameters& parameters, const std::vector<Capture>& captures,
                  double loss_scale_px, bool pose_errors_free) {
  for (std::size_t i = 0; i < captures.size(); ++i) {
    for (const CornerResidual& corner : captures[i].corners) {
      using Cost = ceres::AutoDiffCostFunction<WholeCorner, 2, 4, 3, 4, 3, 6, 9>;
      problem.AddResidualBlock(new Cost(new WholeCorner{corner}), new ceres::HuberLoss(loss_scale_px),
                               parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
                               parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
                               parameters.deltas[i].data(), parameters.intrinsics.data());
    }
    if (pose_errors_free) {
      problem.AddResidualBlock(new DeltaPrior(&parameters.prior_weights), nullptr, parameters.deltas[i].data());
    }
  }
  setUp(problem, parameters, pose_errors_free);
}

std::vector<double*> blocksInOrder(Parameters& parameters, bool pose_errors_free) {
  std::vector<double*> blocks = {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
                                 parameters.base_T_target.rotation.data(), parameters.base_T_target.translation.data(),
                                 parameters.intrinsics.data()};
  if (pose_errors_free) {
    for (auto& delta : parameters.deltas) blocks.push_back(delta.data());
  }
  return blocks;
}

struct Evaluation {
  double cost = 0.0;
  std::vector<double> gradient;
  Eigen::MatrixXd normal;  // J'J
};

Evaluation evaluate(ceres::Problem& problem, const std::vector<double*>& blocks) {
  ceres::Problem::EvaluateOptions options;
  options.parameter_blocks = blocks;
  Evaluation evaluation;
  ceres::CRSMatrix jacobian;
  EXPECT_TRUE(problem.Evaluate(options, &evaluation.cost, nullptr, &evaluation.gradient, &jacobian));
  Eigen::MatrixXd dense = Eigen::MatrixXd::Zero(jacobian.num_rows, jacobian.num_cols);
  for (int row = 0; row < jacobian.num_rows; ++row) {
    for (int k = jacobian.rows[row]; k < jacobian.rows[row + 1]; ++k) dense(row, jacobian.cols[k]) = jacobian.values[k];
  }
  evaluation.normal = dense.transpose() * dense;
  return evaluation;
}

double relativeDifference(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  return (a - b).cwiseAbs().maxCoeff() / a.cwiseAbs().maxCoeff();
}

}  // namespace

TEST(HandEyeRefinementCosts, ACaptureBlockIsItsCornersBlocksUnderTheirLoss) {
  for (const FlangeHolds holder : {FlangeHolds::camera, FlangeHolds::target}) {
    for (const bool pose_errors_free : {false, true}) {
      const HandEyeRefinementInput input = makeInput(holder, false);
      const std::vector<Capture> captures = capturesOf(input, 0.0);
      Parameters parameters = parametersOf(input);
      ChainProblem chain(parameters);
      for (std::size_t i = 0; i < captures.size(); ++i) chain.addCapture(captures[i], i, kHuber, false);
      if (pose_errors_free) chain.freePoseErrors();
      setUp(chain.problem(), parameters, pose_errors_free);
      ceres::Problem plain;
      addPerCorner(plain, parameters, captures, 1.5, pose_errors_free);

      // Corners beyond the loss scale are there to be weighed.
      int beyond = 0;
      for (std::size_t i = 0; i < captures.size(); ++i) {
        for (const CornerResidual& corner : captures[i].corners) {
          const double* blocks[] = {parameters.tcp_T_camera.rotation.data(), parameters.tcp_T_camera.translation.data(),
                                    parameters.base_T_target.rotation.data(),
                                    parameters.base_T_target.translation.data(), parameters.deltas[i].data()};
          double in_camera[3], residual[2];
          corner(blocks, in_camera);
          vemo::calibration::reprojectionResidual(parameters.intrinsics.data(), 0.0, in_camera, corner.observed,
                                                  residual);
          beyond += std::hypot(residual[0], residual[1]) > 1.5 ? 1 : 0;
        }
      }
      EXPECT_GT(beyond, 40);
      EXPECT_LT(beyond, 230);

      const std::vector<double*> blocks = blocksInOrder(parameters, pose_errors_free);
      const Evaluation expected = evaluate(plain, blocks);
      const Evaluation actual = evaluate(chain.problem(), blocks);
      EXPECT_NEAR(actual.cost, expected.cost, 1e-12 * expected.cost);
      ASSERT_EQ(actual.gradient.size(), expected.gradient.size());
      const Eigen::Map<const Eigen::VectorXd> expected_gradient(expected.gradient.data(), expected.gradient.size());
      const Eigen::Map<const Eigen::VectorXd> actual_gradient(actual.gradient.data(), actual.gradient.size());
      EXPECT_LT(relativeDifference(expected_gradient, actual_gradient), 1e-11);
      EXPECT_LT(relativeDifference(expected.normal, actual.normal), 1e-11);

      // The normal matrix by blocks is the same matrix.
      const NormalBlocks normal = chain.normalBlocks();
      const int global = static_cast<int>(normal.global.rows());
      ASSERT_EQ(global, 12 + 9);
      EXPECT_LT(relativeDifference(expected.normal.topLeftCorner(global, global), normal.global), 1e-11);
      ASSERT_EQ(normal.pose_error.size(), pose_errors_free ? captures.size() : 0u);
      for (std::size_t i = 0; i < normal.pose_error.size(); ++i) {
        const int offset = global + 6 * static_cast<int>(i);
        EXPECT_LT(relativeDifference(expected.normal.block(offset, offset, 6, 6), normal.pose_error[i]), 1e-11);
        EXPECT_LT(relativeDifference(expected.normal.block(0, offset, global, 6), normal.coupling[i]), 1e-11);
      }
    }
  }
}

TEST(HandEyeRefinementCosts, CovarianceIsTheDenseInverseOfTheNormalMatrix) {
  for (const bool pose_errors_free : {false, true}) {
    const HandEyeRefinementInput input = makeInput(FlangeHolds::camera, false);
    const std::vector<Capture> captures = capturesOf(input, 0.0);
    Parameters parameters = parametersOf(input);
    ChainProblem chain(parameters);
    for (std::size_t i = 0; i < captures.size(); ++i) chain.addCapture(captures[i], i, kHuber, false);
    if (pose_errors_free) chain.freePoseErrors();
    setUp(chain.problem(), parameters, pose_errors_free);
    ceres::Problem plain;
    addPerCorner(plain, parameters, captures, 1.5, pose_errors_free);

    std::vector<std::vector<double>> covariance;
    ASSERT_TRUE(covarianceOfChain(chain, covariance));
    ASSERT_EQ(covariance.size(), kTransformBlocks + (pose_errors_free ? captures.size() : 0u));
    // The inverse of the plain problem's whole normal matrix, in long double at a unit diagonal.
    const std::vector<double*> blocks = blocksInOrder(parameters, pose_errors_free);
    const Eigen::MatrixXd normal = evaluate(plain, blocks).normal;
    using Long = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;
    const Eigen::Matrix<long double, Eigen::Dynamic, 1> scale =
        normal.diagonal().cast<long double>().cwiseSqrt().cwiseInverse();
    const Long scaled = scale.asDiagonal() * normal.cast<long double>() * scale.asDiagonal();
    const Long inverse =
        scale.asDiagonal() * scaled.ldlt().solve(Long::Identity(normal.rows(), normal.cols())) * scale.asDiagonal();
    std::vector<int> offsets = {0, 3, 6, 9};
    for (std::size_t i = 0; pose_errors_free && i < captures.size(); ++i) {
      offsets.push_back(21 + 6 * static_cast<int>(i));
    }
    for (std::size_t block = 0; block < covariance.size(); ++block) {
      const int size = block < kTransformBlocks ? 3 : 6;
      const Eigen::MatrixXd expected = inverse.block(offsets[block], offsets[block], size, size).cast<double>();
      const Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>> actual(
          covariance[block].data(), size, size);
      EXPECT_LT(relativeDifference(expected, actual), 1e-9) << "block " << block;
    }
  }
}

TEST(HandEyeRefinementCosts, OneRobotPoseForAllCapturesHasNoCovariance) {
  for (const bool pose_errors_free : {false, true}) {
    const HandEyeRefinementInput input = makeInput(FlangeHolds::camera, true);
    const std::vector<Capture> captures = capturesOf(input, 0.0);
    Parameters parameters = parametersOf(input);
    for (auto& delta : parameters.deltas) delta = {};
    ChainProblem chain(parameters);
    for (std::size_t i = 0; i < captures.size(); ++i) chain.addCapture(captures[i], i, kHuber, true);
    if (pose_errors_free) chain.freePoseErrors();
    setUp(chain.problem(), parameters, pose_errors_free);
    std::vector<std::vector<double>> covariance = {{1.0}};
    EXPECT_FALSE(covarianceOfChain(chain, covariance));
    EXPECT_TRUE(covariance.empty());
  }
}
