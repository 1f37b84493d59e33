#include "vemo/calibration/hand_eye/pairwise_hand_eye_solvers.hpp"

#include <opencv2/calib3d.hpp>

#include <cfloat>
#include <cmath>

#include "vemo/calibration/hand_eye/folded_least_squares.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

cv::Vec3d rotationVector(const cv::Matx33d& rotation) {
  cv::Vec3d vector;
  cv::Rodrigues(rotation, vector);
  return vector;
}

// Scaled to determinant 1 (so that a near-zero determinant is refused as OpenCV refuses it),
// then the nearest rotation, reflections turned back.
cv::Matx33d nearestRotation(const cv::Matx33d& estimate) {
  const double det = cv::determinant(estimate);
  if (std::fabs(det) < FLT_EPSILON) CV_Error(cv::Error::StsNoConv, "Rotation normalization issue: determinant(R) is null");
  cv::Matx33d u, vt;
  cv::Matx31d singular_values;
  cv::SVD::compute(std::cbrt(std::copysign(1.0, det) / std::fabs(det)) * estimate, singular_values, u, vt);
  cv::Matx33d rotation = u * vt;
  if (cv::determinant(rotation) < 0.0) rotation = u * cv::Matx33d::diag({1.0, 1.0, -1.0}) * vt;
  return rotation;
}

}  // namespace

cv::Mat withTranslationFitted(const std::vector<HandEyeMotion>& motions, const cv::Matx33d& rotation) {
  FoldedLeastSquares system(3);
  for (const HandEyeMotion& motion : motions) {
    const cv::Matx33d lhs = rotationBlock(motion.robot) - cv::Matx33d::eye();
    const cv::Vec3d rhs = rotation * translationColumn(motion.camera) - translationColumn(motion.robot);
    for (int r = 0; r < 3; ++r) system.addRow(lhs.val + 3 * r, rhs[r]);
  }
  return tf::composeTransformationMatrix(cv::Mat(rotation), system.solve());
}

cv::Mat solveParkMartin(const std::vector<HandEyeMotion>& motions) {
  cv::Matx33d m = cv::Matx33d::zeros();
  for (const HandEyeMotion& motion : motions) {
    m += rotationVector(rotationBlock(motion.camera)) * rotationVector(rotationBlock(motion.robot)).t();
  }
  cv::Matx31d eigenvalues;
  cv::Matx33d eigenvectors;
  cv::eigen(m.t() * m, eigenvalues, eigenvectors);
  const cv::Matx33d inverse_root = cv::Matx33d::diag(
      {1.0 / std::sqrt(eigenvalues(0)), 1.0 / std::sqrt(eigenvalues(1)), 1.0 / std::sqrt(eigenvalues(2))});
  return withTranslationFitted(motions, eigenvectors.t() * inverse_root * eigenvectors * m.t());
}

cv::Mat solveAndreff(const std::vector<HandEyeMotion>& motions) {
  FoldedLeastSquares system(12);
  for (const HandEyeMotion& motion : motions) {
    const cv::Matx33d robot_rotation = rotationBlock(motion.robot), camera_rotation = rotationBlock(motion.camera);
    const cv::Vec3d robot_translation = translationColumn(motion.robot);
    const cv::Vec3d camera_translation = translationColumn(motion.camera);
    double row[12];
    // I9 - kron(R_robot, R_camera): row 3a + b, column 3c + d is delta - R_robot(a, c) R_camera(b, d).
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        for (int c = 0; c < 3; ++c) {
          for (int d = 0; d < 3; ++d) {
            row[3 * c + d] = (a == c && b == d ? 1.0 : 0.0) - robot_rotation(a, c) * camera_rotation(b, d);
          }
        }
        row[9] = row[10] = row[11] = 0.0;
        system.addRow(row, 0.0);
      }
    }
    // kron(I3, t_camera^T) and I3 - R_robot.
    for (int a = 0; a < 3; ++a) {
      for (int c = 0; c < 9; ++c) row[c] = c / 3 == a ? camera_translation[c % 3] : 0.0;
      for (int c = 0; c < 3; ++c) row[9 + c] = (a == c ? 1.0 : 0.0) - robot_rotation(a, c);
      system.addRow(row, robot_translation[a]);
    }
  }
  const cv::Mat solution = system.solve();
  const cv::Matx33d rotation(solution.ptr<double>(0));
  return tf::composeTransformationMatrix(cv::Mat(nearestRotation(rotation)), solution.rowRange(9, 12).clone());
}

}  // namespace vemo::calibration
