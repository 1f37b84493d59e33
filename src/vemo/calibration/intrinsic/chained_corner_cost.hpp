#pragma once

// A corner's reprojection residual for Ceres, differentiated in two short passes instead of
// one long one: the point in camera coordinates over the pose blocks alone, then the lens
// projection over the lens and that point, joined by the chain rule. A single pass would
// carry the derivatives of every pose parameter through the lens's polynomial; the refinements
// spend most of their time there.

#include <ceres/ceres.h>
#include <ceres/jet.h>

#include <array>
#include <utility>

#include "vemo/calibration/intrinsic/lens_projection.hpp"

namespace vemo::calibration {

// Geometry: a functor with `template <typename T> void operator()(const T* const* pose_blocks,
// T* in_camera) const`, the blocks in the order of pose_block_sizes. The lens block comes last,
// 4 + distortion_count parameters (projectThroughModel).
template <class Geometry, int distortion_count, int... pose_block_sizes>
class ChainedCornerCost final
    : public ceres::SizedCostFunction<2, pose_block_sizes..., 4 + distortion_count> {
 public:
  ChainedCornerCost(Geometry geometry, std::array<double, 2> observed, double skew)
      : geometry_(std::move(geometry)), observed_(observed), skew_(skew) {}

  bool Evaluate(double const* const* parameters, double* residuals, double** jacobians) const override {
    const double* lens = parameters[kPoseBlocks];
    double in_camera[3];
    PointJacobian point_jacobian{};
    if (jacobians != nullptr && posesWanted(jacobians)) {
      pointWithJacobian(parameters, in_camera, point_jacobian);
    } else {
      geometry_(parameters, in_camera);
    }
    if (jacobians == nullptr) {
      double pixel[2];
      projectThroughModel<distortion_count>(lens, skew_, in_camera, pixel);
      residuals[0] = pixel[0] - observed_[0];
      residuals[1] = pixel[1] - observed_[1];
    } else if (jacobians[kPoseBlocks] != nullptr) {
      projectWithDerivatives<kLensSize>(lens, in_camera, point_jacobian, residuals, jacobians);
    } else {
      projectWithDerivatives<0>(lens, in_camera, point_jacobian, residuals, jacobians);
    }
    return true;
  }

 private:
  static constexpr int kPoseBlocks = sizeof...(pose_block_sizes);
  static constexpr int kPoseSize = (pose_block_sizes + ...);
  static constexpr int kLensSize = 4 + distortion_count;
  static constexpr std::array<int, kPoseBlocks> kSizes{pose_block_sizes...};
  static constexpr std::array<int, kPoseBlocks> kOffsets = [] {
    std::array<int, kPoseBlocks> offsets{};
    for (int block = 1; block < kPoseBlocks; ++block) offsets[block] = offsets[block - 1] + kSizes[block - 1];
    return offsets;
  }();

  using PointJacobian = std::array<std::array<double, kPoseSize>, 3>;

  static bool posesWanted(double** jacobians) {
    for (int block = 0; block < kPoseBlocks; ++block) {
      if (jacobians[block] != nullptr) return true;
    }
    return false;
  }

  void pointWithJacobian(double const* const* parameters, double* in_camera, PointJacobian& point_jacobian) const {
    using PoseJet = ceres::Jet<double, kPoseSize>;
    std::array<PoseJet, kPoseSize> values;
    std::array<const PoseJet*, kPoseBlocks> blocks{};
    for (int block = 0; block < kPoseBlocks; ++block) {
      for (int k = 0; k < kSizes[block]; ++k) {
        const int index = kOffsets[block] + k;
        values[index] = PoseJet(parameters[block][k], index);
      }
      blocks[block] = values.data() + kOffsets[block];
    }
    PoseJet point[3];
    geometry_(blocks.data(), point);
    for (int k = 0; k < 3; ++k) {
      in_camera[k] = point[k].a;
      for (int c = 0; c < kPoseSize; ++c) point_jacobian[k][c] = point[k].v[c];
    }
  }

  // The projection differentiated over the point and, when lens_derivatives is the lens's
  // size, the lens (a lens held constant costs no derivatives); the pose blocks' Jacobians
  // by the chain rule.
  template <int lens_derivatives>
  void projectWithDerivatives(const double* lens, const double* in_camera, const PointJacobian& point_jacobian,
                              double* residuals, double** jacobians) const {
    using LensJet = ceres::Jet<double, lens_derivatives + 3>;
    LensJet lens_jets[kLensSize];
    LensJet point[3];
    for (int k = 0; k < kLensSize; ++k) lens_jets[k] = lens_derivatives > 0 ? LensJet(lens[k], k) : LensJet(lens[k]);
    for (int k = 0; k < 3; ++k) point[k] = LensJet(in_camera[k], lens_derivatives + k);
    LensJet pixel[2];
    projectThroughModel<distortion_count>(lens_jets, skew_, point, pixel);
    residuals[0] = pixel[0].a - observed_[0];
    residuals[1] = pixel[1].a - observed_[1];
    if constexpr (lens_derivatives > 0) {
      for (int r = 0; r < 2; ++r) {
        for (int k = 0; k < kLensSize; ++k) jacobians[kPoseBlocks][r * kLensSize + k] = pixel[r].v[k];
      }
    }
    for (int block = 0; block < kPoseBlocks; ++block) {
      double* jacobian = jacobians[block];
      if (jacobian == nullptr) continue;
      const int size = kSizes[block];
      for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < size; ++c) {
          const int column = kOffsets[block] + c;
          jacobian[r * size + c] = pixel[r].v[lens_derivatives] * point_jacobian[0][column] +
                                   pixel[r].v[lens_derivatives + 1] * point_jacobian[1][column] +
                                   pixel[r].v[lens_derivatives + 2] * point_jacobian[2][column];
        }
      }
    }
  }

  Geometry geometry_;
  std::array<double, 2> observed_;
  double skew_;
};

}  // namespace vemo::calibration
