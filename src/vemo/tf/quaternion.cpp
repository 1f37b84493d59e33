#include "vemo/tf/quaternion.hpp"

#include <cmath>

namespace vemo::tf {

Quaternion quaternionOf(const cv::Matx33d& r) {
  const double trace = r(0, 0) + r(1, 1) + r(2, 2);
  if (trace >= r(0, 0) && trace >= r(1, 1) && trace >= r(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + trace);
    return {s / 4.0, (r(2, 1) - r(1, 2)) / s, (r(0, 2) - r(2, 0)) / s, (r(1, 0) - r(0, 1)) / s};
  }
  if (r(0, 0) >= r(1, 1) && r(0, 0) >= r(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + r(0, 0) - r(1, 1) - r(2, 2));
    return {(r(2, 1) - r(1, 2)) / s, s / 4.0, (r(0, 1) + r(1, 0)) / s, (r(0, 2) + r(2, 0)) / s};
  }
  if (r(1, 1) >= r(2, 2)) {
    const double s = 2.0 * std::sqrt(1.0 + r(1, 1) - r(0, 0) - r(2, 2));
    return {(r(0, 2) - r(2, 0)) / s, (r(0, 1) + r(1, 0)) / s, s / 4.0, (r(1, 2) + r(2, 1)) / s};
  }
  const double s = 2.0 * std::sqrt(1.0 + r(2, 2) - r(0, 0) - r(1, 1));
  return {(r(1, 0) - r(0, 1)) / s, (r(0, 2) + r(2, 0)) / s, (r(1, 2) + r(2, 1)) / s, s / 4.0};
}

Quaternion withNonNegativeRealPart(const Quaternion& q) {
  if (q[0] >= 0.0) return q;
  return {-q[0], -q[1], -q[2], -q[3]};
}

cv::Matx33d rotationOf(const Quaternion& q) {
  const auto [w, x, y, z] = q;
  return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
          2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
          2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
}

Quaternion quaternionProduct(const Quaternion& a, const Quaternion& b) {
  return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
          a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
          a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
          a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}

}  // namespace vemo::tf
