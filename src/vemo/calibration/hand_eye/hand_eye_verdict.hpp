#pragma once

// The verdict on a solved hand-eye chain (see vemo/quality/verdict.hpp).

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_refinement_input.hpp"
#include "vemo/calibration/hand_eye/hand_eye_result.hpp"
#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"
#include "vemo/quality/verdict.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

// The scatter of the target's pose over the captures counts as unexplained beyond this many
// times what the noise explains ...
inline constexpr double kUnexplainedFactor = 4.0;
// ... and beyond these, which leave room for what the noise model leaves out (a robot's
// absolute accuracy, lens model error) on real cells.
inline constexpr double kUnexplainedFloorM = 0.002;
inline constexpr double kUnexplainedFloorDeg = 0.3;
// Corners further than this (RMS) from where the solved target poses put them mean the
// target or the lens model is wrong, pixels.
inline constexpr double kMaximumCornerRmsPx = 2.0;
// Solvers agree when their results lie within these of each other.
inline constexpr double kSolverAgreementM = 0.005;
inline constexpr double kSolverAgreementDeg = 0.5;
// A capture is a suspect when leaving it out brings the scatter below this share of what
// leaving out a typical capture leaves.
inline constexpr double kSuspectShare = 0.7;
inline constexpr std::size_t kMaximumSuspects = 3;

struct HandEyeVerdictInput {
  const HandEyeResult& result;              // solved: the chain's aligned lists and transform
  const std::vector<CaptureCorners>& corners;  // per kept capture; empty when poses were given
  const std::vector<int>& input_positions;  // per kept capture, its position in the input lists
  int method = 0;                           // cv::HandEyeCalibrationMethod of the solve
  HandEyeSolutions& solutions;              // of the result's aligned lists: the other solvers' results
  const std::vector<std::string>& misreadings;  // findPoseMisreadings' warnings for the run
  const quality::Verdict& intrinsic_verdict;    // on the run's own intrinsics; trusted when given
  const Target& target;
  const quality::VerdictOptions& options;
  const std::string& class_name;  // how the warning of a wrong target scale names the calibrator
};

// Logs a warning, as the pose misreadings are, when the target's scale looks wrong.
quality::Verdict judgeHandEye(const HandEyeVerdictInput& input);

}  // namespace vemo::calibration
