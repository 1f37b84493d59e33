#include <gtest/gtest.h>

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "vemo/calibration/intrinsic/chained_corner_cost.hpp"
#include "vemo/calibration/intrinsic/least_squares_support.hpp"

using vemo::calibration::ChainedCornerCost;
using vemo::calibration::projectThroughModel;
using vemo::calibration::refinement::covarianceOf;

namespace {

struct BoardPoint {
  std::array<double, 3> point;

  template <typename T>
  void operator()(const T* const* blocks, T* in_camera) const {
    const T board_point[3] = {T(point[0]), T(point[1]), T(point[2])};
    ceres::UnitQuaternionRotatePoint(blocks[0], board_point, in_camera);
    for (int k = 0; k < 3; ++k) in_camera[k] += blocks[1][k];
  }
};

// The same residual differentiated in one pass, as the reference.
struct WholeCorner {
  BoardPoint geometry;
  std::array<double, 2> observed;

  template <typename T>
  bool operator()(const T* rotation, const T* translation, const T* lens, T* residual) const {
    const T* blocks[] = {rotation, translation};
    T in_camera[3];
    geometry(blocks, in_camera);
    T pixel[2];
    projectThroughModel<5>(lens, 0.0, in_camera, pixel);
    residual[0] = pixel[0] - T(observed[0]);
    residual[1] = pixel[1] - T(observed[1]);
    return true;
  }
};

struct View {
  std::array<double, 4> rotation;
  std::array<double, 3> translation;
};

struct AddUp {
  template <typename T>
  bool operator()(const T* a, const T* b, T* residual) const {
    residual[0] = a[0] + b[0] - T(1);
    return true;
  }
};

}  // namespace

// Four views of a 9 x 6 grid with 0.5 px noise and two gross outliers under a Huber loss:
// the two-pass derivatives equal one-pass autodiff, and the covariance equals
// ceres::Covariance's, for a free block and for a manifold's tangent space.
TEST(LeastSquaresSupport, ChainedDerivativesAndCovarianceAgreeWithCeres) {
  std::array<double, 9> lens{800.0, 805.0, 320.0, 240.0, -0.2, 0.1, 0.001, -0.002, 0.01};
  const std::array<double, 9> truth = lens;
  std::vector<View> views;
  for (int v = 0; v < 4; ++v) {
    const double angle_axis[3] = {0.3 * (v - 1.5), 0.2 * (v % 2 ? 1 : -1), 0.05 * v};
    View view{};
    ceres::AngleAxisToQuaternion(angle_axis, view.rotation.data());
    view.translation = {-0.1 + 0.02 * v, -0.07, 0.5 + 0.05 * v};
    views.push_back(view);
  }
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 0.5);
  ceres::Problem problem;
  ceres::LossFunction* loss = new ceres::HuberLoss(1.0);
  int corner = 0;
  for (View& view : views) {
    for (int row = 0; row < 6; ++row) {
      for (int column = 0; column < 9; ++column, ++corner) {
        const BoardPoint geometry{{0.03 * column, 0.03 * row, 0.0}};
        const double* blocks[] = {view.rotation.data(), view.translation.data()};
        double in_camera[3], pixel[2];
        geometry(blocks, in_camera);
        projectThroughModel<5>(truth.data(), 0.0, in_camera, pixel);
        const std::array<double, 2> observed{pixel[0] + noise(random) + (corner % 97 == 5 ? 8.0 : 0.0),
                                             pixel[1] + noise(random)};
        auto* chained = new ChainedCornerCost<BoardPoint, 5, 4, 3>(geometry, observed, 0.0);
        if (corner % 50 == 3) {
          ceres::AutoDiffCostFunction<WholeCorner, 2, 4, 3, 9> whole(new WholeCorner{geometry, observed});
          const double* parameters[] = {view.rotation.data(), view.translation.data(), lens.data()};
          std::array<double, 8> jacobian_rotation{}, whole_rotation{};
          std::array<double, 6> jacobian_translation{}, whole_translation{};
          std::array<double, 18> jacobian_lens{}, whole_lens{};
          double* jacobians[] = {jacobian_rotation.data(), jacobian_translation.data(), jacobian_lens.data()};
          double* whole_jacobians[] = {whole_rotation.data(), whole_translation.data(), whole_lens.data()};
          double residual[2], whole_residual[2];
          ASSERT_TRUE(chained->Evaluate(parameters, residual, jacobians));
          ASSERT_TRUE(whole.Evaluate(parameters, whole_residual, whole_jacobians));
          EXPECT_EQ(residual[0], whole_residual[0]);
          EXPECT_EQ(residual[1], whole_residual[1]);
          for (int k = 0; k < 8; ++k) EXPECT_NEAR(jacobian_rotation[k], whole_rotation[k], 1e-9 * std::abs(whole_rotation[k]) + 1e-9);
          for (int k = 0; k < 6; ++k) EXPECT_NEAR(jacobian_translation[k], whole_translation[k], 1e-9 * std::abs(whole_translation[k]));
          for (int k = 0; k < 18; ++k) EXPECT_EQ(jacobian_lens[k], whole_lens[k]);
        }
        problem.AddResidualBlock(chained, loss, view.rotation.data(), view.translation.data(), lens.data());
      }
    }
    problem.SetManifold(view.rotation.data(), new ceres::QuaternionManifold);
  }
  problem.SetParameterBlockConstant(views[0].rotation.data());  // as a rig holds its reference
  ceres::Solver::Options options;
  options.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  ASSERT_TRUE(summary.IsSolutionUsable());

  const std::vector<const double*> blocks{lens.data(), views[2].rotation.data(), views[3].translation.data()};
  std::vector<std::vector<double>> ours;
  ASSERT_TRUE(covarianceOf(problem, blocks, ours));
  ceres::Covariance reference{ceres::Covariance::Options()};
  std::vector<std::pair<const double*, const double*>> pairs;
  for (const double* block : blocks) pairs.emplace_back(block, block);
  ASSERT_TRUE(reference.Compute(pairs, &problem));
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const int size = problem.ParameterBlockTangentSize(blocks[b]);
    std::vector<double> expected(static_cast<std::size_t>(size * size));
    ASSERT_TRUE(reference.GetCovarianceBlockInTangentSpace(blocks[b], blocks[b], expected.data()));
    for (int k = 0; k < size * size; ++k) {
      const double diagonal = std::sqrt(expected[k / size * (size + 1)] * expected[k % size * (size + 1)]);
      EXPECT_NEAR(ours[b][k], expected[k], 1e-8 * diagonal) << "block " << b << " entry " << k;
    }
  }
  // A constant block has no covariance to give.
  EXPECT_FALSE(covarianceOf(problem, {views[0].rotation.data()}, ours));
  EXPECT_TRUE(ours.empty());
}

TEST(LeastSquaresSupport, RankDeficientProblemHasNoCovariance) {
  double a = 0.2, b = 0.3;
  ceres::Problem problem;
  problem.AddResidualBlock(new ceres::AutoDiffCostFunction<AddUp, 1, 1, 1>(new AddUp), nullptr, &a, &b);
  std::vector<std::vector<double>> covariances;
  EXPECT_FALSE(covarianceOf(problem, {&a}, covariances));
  EXPECT_TRUE(covariances.empty());
}
