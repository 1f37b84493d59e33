#pragma once

// Catches robot or camera poses handed in under the wrong reading, which every closed-form
// solver accepts without complaint and turns into a result hundreds of millimetres off:
// translations in millimetres instead of metres, and poses inverted (flange_T_base instead
// of base_T_flange, target_T_camera instead of camera_T_target).
//
// Units: the rotation angle and the translation along the screw axis of a robot motion
// equal those of the matching camera motion (AX = XB makes them conjugate), so a factor of
// 1000 between the two translations shows in every motion. Inversion leaves these
// invariants unchanged; it shows instead in how well the solution of AX = XB under each
// reading puts the target at one place in the robot base frame.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/flange_holds.hpp"
#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"

namespace vemo::calibration {

// A reading is taken for the right one only when its residual is this plausible in
// absolute terms. On rendered scenes the right reading leaves 0.1 to 0.9 mm (screw) and
// 0.2 to 0.9 mm (target spread) with robot noise up to 0.05 deg / 0.5 mm and 0.5 px corner
// noise, 3.1 and 3.7 mm with 0.2 deg / 2 mm and heavier image noise; a wrong reading leaves
// over 100 mm of spread and metres of screw mismatch ...
inline constexpr double kPlausibleReadingResidualM = 0.010;
// ... and this many times better than the reading as given (the rendered misreadings come
// out 25 to 900 times better under their right reading).
inline constexpr double kBetterReadingFactor = 10.0;

// Motions whose rotation is below this (or within it of a half turn) have no screw axis
// to speak of and stay out of the unit check, degrees.
inline constexpr double kScrewAxisMinRotationDeg = 10.0;

// What each reading leaves unexplained. Screw: root mean square difference between the
// robot and camera motions' translations along their screw axes (metres, in the reading's
// unit); NaN with fewer than two usable motions. Spread: mean distance of the target's
// position in the robot base frame from its mean over the captures, after solving AX = XB
// under the reading (metres).
struct PoseReadingResiduals {
  double screw_as_given_m = 0.0;
  double screw_robot_millimetres_m = 0.0;
  double screw_camera_millimetres_m = 0.0;
  double robot_scale = 1.0;  // applied to robot translations before the inversion readings
  double camera_scale = 1.0;  // applied to camera translations before them
  double spread_as_given_m = 0.0;
  double spread_robot_inverted_m = 0.0;
  double spread_camera_inverted_m = 0.0;
  // Inverted robot poses and inverted camera poses fit the same captures equally well (the
  // solution of one is the other's with the hand-eye transform and the target's pose
  // swapped); they differ in how far from the flange they put what the flange holds, metres.
  double flange_reach_robot_inverted_m = 0.0;
  double flange_reach_camera_inverted_m = 0.0;
};

// The residuals of every reading of the solutions' aligned pose lists (at least 3
// captures), solving with the cv::HandEyeCalibrationMethod value; the reading as given takes
// the solutions' own solve of it.
PoseReadingResiduals measurePoseReadings(HandEyeSolutions& solutions, int method, FlangeHolds holder);

// One warning per reading that explains the poses much better than the reading as given
// and plausibly in absolute terms; none when the poses fit as given or no reading fits. Of
// the two inversions, the one that puts what the flange holds nearer the flange is named.
// Each warning starts with "[<class_name>] ", the calibrator the caller called.
std::vector<std::string> findPoseMisreadings(HandEyeSolutions& solutions, int method, FlangeHolds holder,
                                             const std::string& class_name);

}  // namespace vemo::calibration
