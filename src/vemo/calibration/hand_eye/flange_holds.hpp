#pragma once

namespace vemo::calibration {

// What the robot's flange holds: the camera (eye-in-hand) or the target (eye-to-hand, whose
// chain is solved as an eye-in-hand one with the robot poses inverted).
enum class FlangeHolds { camera, target };

}  // namespace vemo::calibration
