#include "vemo/calibration/hand_eye/mended_hand_eye_solvers.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/calibration/hand_eye/folded_least_squares.hpp"
#include "vemo/calibration/hand_eye/hand_eye_motions.hpp"
#include "vemo/calibration/hand_eye/pairwise_hand_eye_solvers.hpp"
#include "vemo/tf/quaternion.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

using tf::Quaternion;

// Bounds on |2 sin(angle / 2)| of the motions Tsai-Lenz keeps (see the header).
constexpr double kTsaiLowestRodrigues = 0.3;
constexpr double kTsaiHighestRodrigues = 1.7;

Quaternion motionQuaternion(const cv::Matx44d& motion) {
  return tf::withNonNegativeRealPart(tf::quaternionOf(rotationBlock(motion)));
}

// Tsai-Lenz's modified Rodrigues vector 2 sin(angle / 2) axis.
cv::Vec3d modifiedRodrigues(const cv::Matx44d& motion) {
  const Quaternion q = motionQuaternion(motion);
  return {2.0 * q[1], 2.0 * q[2], 2.0 * q[3]};
}

bool informativeForTsaiLenz(const HandEyeMotion& motion) {
  for (const cv::Matx44d* pose : {&motion.robot, &motion.camera}) {
    const double length = cv::norm(modifiedRodrigues(*pose));
    if (length < kTsaiLowestRodrigues || length > kTsaiHighestRodrigues) return false;
  }
  return true;
}

cv::Matx33d skew(const cv::Vec3d& v) { return {0, -v[2], v[1], v[2], 0, -v[0], -v[1], v[0], 0}; }

cv::Vec3d vectorPart(const Quaternion& q) { return {q[1], q[2], q[3]}; }

// Tsai-Lenz: skew(P_robot + P_camera) P' = P_camera - P_robot over the informative motions,
// P = 2 P' / sqrt(1 + |P'|^2), the rotation from P; then the translation. Empty when fewer
// than 2 motions are informative: one rotation axis leaves X free to turn about it.
cv::Mat solveTsaiLenz(const std::vector<HandEyeMotion>& all_motions) {
  std::vector<HandEyeMotion> motions;
  std::copy_if(all_motions.begin(), all_motions.end(), std::back_inserter(motions), informativeForTsaiLenz);
  if (motions.size() < 2) return cv::Mat();
  FoldedLeastSquares system(3);
  for (const HandEyeMotion& motion : motions) {
    const cv::Vec3d p_robot = modifiedRodrigues(motion.robot), p_camera = modifiedRodrigues(motion.camera);
    const cv::Matx33d lhs = skew(p_robot + p_camera);
    const cv::Vec3d rhs = p_camera - p_robot;
    for (int r = 0; r < 3; ++r) system.addRow(lhs.val + 3 * r, rhs[r]);
  }
  const cv::Vec3d p_prime(system.solve());
  const cv::Vec3d p = 2.0 * p_prime / std::sqrt(1.0 + p_prime.dot(p_prime));
  const double p_squared = p.dot(p);
  const cv::Matx33d rotation = (1.0 - p_squared / 2.0) * cv::Matx33d::eye() +
                               0.5 * (p * p.t() + std::sqrt(4.0 - p_squared) * skew(p));
  return withTranslationFitted(motions, rotation);
}

// Matrices of the quaternion products r * x = left(r) x and x * r = right(r) x.
cv::Matx44d leftProductMatrix(const Quaternion& r) {
  return {r[0], -r[1], -r[2], -r[3], r[1], r[0], -r[3], r[2], r[2], r[3], r[0], -r[1], r[3], -r[2], r[1], r[0]};
}
cv::Matx44d rightProductMatrix(const Quaternion& r) {
  return {r[0], -r[1], -r[2], -r[3], r[1], r[0], r[3], -r[2], r[2], -r[3], r[0], r[1], r[3], r[2], -r[1], r[0]};
}

// Horaud-Dornaika's linear method: q_robot * q = q * q_camera for every motion; q the unit
// eigenvector of the least eigenvalue of the sum of (left(q_robot) - right(q_camera))^T times
// itself; the translation by least squares.
cv::Mat solveHoraudDornaika(const std::vector<HandEyeMotion>& motions) {
  cv::Matx44d normal = cv::Matx44d::zeros();
  for (const HandEyeMotion& motion : motions) {
    const cv::Matx44d difference =
        leftProductMatrix(motionQuaternion(motion.robot)) - rightProductMatrix(motionQuaternion(motion.camera));
    normal += difference.t() * difference;
  }
  cv::Mat eigenvalues, eigenvectors;
  cv::eigen(cv::Mat(normal), eigenvalues, eigenvectors);  // descending: the last row is the least
  const cv::Vec4d q(eigenvectors.row(3));
  const cv::Matx33d rotation = tf::rotationOf(Quaternion{q[0], q[1], q[2], q[3]});
  return withTranslationFitted(motions, rotation);
}

// Dual quaternion (q, q') of a motion: q its rotation, real part >= 0; q' = (0, t) q / 2.
std::pair<Quaternion, Quaternion> dualQuaternionOf(const cv::Matx44d& motion) {
  const Quaternion q = motionQuaternion(motion);
  const cv::Vec3d t = translationColumn(motion);
  Quaternion q_dual = tf::quaternionProduct({0.0, t[0], t[1], t[2]}, q);
  for (double& component : q_dual) component *= 0.5;
  return {q, q_dual};
}

// Daniilidis: the 6 x 8 block of every motion, the two right singular vectors of the least
// singular values, and the combination of them that is a unit dual quaternion.
cv::Mat solveDaniilidis(const std::vector<HandEyeMotion>& motions) {
  FoldedLeastSquares system(8);
  for (const HandEyeMotion& motion : motions) {
    const auto [robot_q, robot_q_dual] = dualQuaternionOf(motion.robot);
    const auto [camera_q, camera_q_dual] = dualQuaternionOf(motion.camera);
    const cv::Vec3d a = vectorPart(robot_q), b = vectorPart(camera_q);
    const cv::Vec3d a_dual = vectorPart(robot_q_dual), b_dual = vectorPart(camera_q_dual);
    const cv::Matx33d rotation_skew = skew(a + b), dual_skew = skew(a_dual + b_dual);
    // Rows (a - b, skew(a + b), 0, 0) and (a' - b', skew(a' + b'), a - b, skew(a + b)).
    for (int r = 0; r < 3; ++r) {
      const double rotation_row[8] = {a[r] - b[r], rotation_skew(r, 0), rotation_skew(r, 1), rotation_skew(r, 2),
                                      0.0, 0.0, 0.0, 0.0};
      system.addRow(rotation_row, 0.0);
    }
    for (int r = 0; r < 3; ++r) {
      const double dual_row[8] = {a_dual[r] - b_dual[r], dual_skew(r, 0), dual_skew(r, 1), dual_skew(r, 2),
                                  a[r] - b[r], rotation_skew(r, 0), rotation_skew(r, 1), rotation_skew(r, 2)};
      system.addRow(dual_row, 0.0);
    }
  }
  const cv::Mat vt = system.rightSingularVectors();
  const cv::Vec<double, 8> v7(vt.row(6)), v8(vt.row(7));
  const cv::Vec4d u1(v7[0], v7[1], v7[2], v7[3]), v1(v7[4], v7[5], v7[6], v7[7]);
  const cv::Vec4d u2(v8[0], v8[1], v8[2], v8[3]), v2(v8[4], v8[5], v8[6], v8[7]);

  // With q = s u1 + u2 (up to scale): q . q' = 0 is a quadratic in s; of its roots the one
  // with the larger |q|^2 gives the unit dual quaternion after scaling.
  const double qa = u1.dot(v1), qb = u1.dot(v2) + u2.dot(v1), qc = u2.dot(v2);
  const double root = std::sqrt(qb * qb - 4.0 * qa * qc);
  double best_s = 0.0, best_norm = -1.0;
  for (const double s : {(-qb + root) / (2.0 * qa), (-qb - root) / (2.0 * qa)}) {
    const double squared_norm = s * s * u1.dot(u1) + 2.0 * s * u1.dot(u2) + u2.dot(u2);
    if (squared_norm > best_norm) {
      best_s = s;
      best_norm = squared_norm;
    }
  }
  const double lambda2 = std::sqrt(1.0 / best_norm), lambda1 = best_s * lambda2;
  const cv::Vec4d q = lambda1 * u1 + lambda2 * u2, q_dual = lambda1 * v1 + lambda2 * v2;

  // t = 2 q' conj(q).
  const Quaternion t = tf::quaternionProduct({q_dual[0], q_dual[1], q_dual[2], q_dual[3]},
                                             {q[0], -q[1], -q[2], -q[3]});
  return tf::composeTransformationMatrix(cv::Mat(tf::rotationOf(Quaternion{q[0], q[1], q[2], q[3]})),
                                        cv::Mat(cv::Vec3d(2.0 * t[1], 2.0 * t[2], 2.0 * t[3])));
}

}  // namespace

cv::Mat solveCorrectedHandEye(const std::vector<HandEyeMotion>& motions, int method) {
  switch (method) {
    case cv::CALIB_HAND_EYE_TSAI:
      return solveTsaiLenz(motions);
    case cv::CALIB_HAND_EYE_HORAUD:
      return solveHoraudDornaika(motions);
    case cv::CALIB_HAND_EYE_DANIILIDIS:
      return solveDaniilidis(motions);
    default:
      throw std::invalid_argument("solveCorrectedHandEye: " + std::to_string(method) +
                                  " is not TSAI, HORAUD or DANIILIDIS");
  }
}

}  // namespace vemo::calibration
