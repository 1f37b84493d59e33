#pragma once

#include <opencv2/core.hpp>

#include <array>

// Unit quaternions of rotations, for the code that averages or compares rotations.
namespace vemo::tf {

// (w, x, y, z), real part first. A unit quaternion stands for a rotation; q and -q stand
// for the same one, which is the pitfall of every method that compares quaternions.
using Quaternion = std::array<double, 4>;

// Unit quaternion of a 3x3 rotation, of either sign: Shepperd's method (from the largest of
// the four diagonal sums), accurate at every angle, 180 degrees included.
Quaternion quaternionOf(const cv::Matx33d& rotation);

// The same rotation's quaternion with a real part of 0 or more: cos(angle / 2) for angles
// in [0, 180] degrees.
Quaternion withNonNegativeRealPart(const Quaternion& q);

// The 3x3 rotation of a unit quaternion.
cv::Matx33d rotationOf(const Quaternion& q);

// Hamilton product a * b: rotation b first, then a.
Quaternion quaternionProduct(const Quaternion& a, const Quaternion& b);

}  // namespace vemo::tf
