#pragma once

// The eye-in-hand run's thresholds, in one place.

#include <cstddef>

#include "vemo/quality/rotation_variety.hpp"

namespace vemo::calibration::eye_in_hand {

// Captures a solve needs: AX = XB is determined by two motions about different axes; four
// captures give three motions, one of them to spare.
inline constexpr std::size_t kMinimumCaptures = 4;

// ChArUco corners (or ArUco markers) a re-detected view needs before its pose is solved.
inline constexpr int kMinimumTargetPoints = 4;

// Target rotation blocks closer than this (largest element difference) to the first
// capture's count as one orientation: the solve then has nothing to work with.
inline constexpr double kSameOrientationTolerance = 0.001;

// The flange motions' rotation vectors, stacked, must spread this far (second singular
// value, degrees) off a single axis; a robot's repeatability noise of 0.01 degrees stays
// far below it.
inline constexpr double kMinimumSecondAxisRotationDeg = 0.5;

// Inter-capture rotations the report's rotation-variety section ignores, degrees.
inline constexpr double kReportMinRotationDeg = quality::kDefaultMinRotationDeg;

}  // namespace vemo::calibration::eye_in_hand
