#pragma once

// The joint refinement (hand_eye_refinement.hpp) of a solved hand-eye chain: the eye-in-hand
// one, or the eye-to-hand one as its run solves it, with the robot poses inverted.

#include <vector>

#include "vemo/calibration/hand_eye/flange_holds.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"
#include "vemo/calibration/hand_eye/hand_eye_result.hpp"

namespace vemo::calibration {

// Starts from the chain's transform, with the target where its captures put it on average
// (as the consistency statistics do). corners: per capture of the chain's lists.
HandEyeRefinement refineSolvedChain(const HandEyeResult& chain, const std::vector<CaptureCorners>& corners,
                                    FlangeHolds holder, const HandEyeRefinementOptions& options);

// How the refinement's text names the chain's parts.
struct ChainNaming {
  const char* title;                // "HAND-EYE REFINEMENT"
  const char* transform;            // "tcp_T_camera"
  const char* transform_caption;    // "Refined Hand-Eye Transform (TCP -> Camera)"
  const char* transform_frame;      // "tcp frame": the axes of its sigma
  const char* target;               // "base_T_target"
  const char* target_frame;         // the axes of the target's sigma
  bool with_target_sigma;           // print the target's sigma too
};

inline constexpr ChainNaming kEyeInHandNaming{"HAND-EYE REFINEMENT", "tcp_T_camera",
                                              "Refined Hand-Eye Transform (TCP -> Camera)", "tcp frame",
                                              "base_T_target", "base frame", false};
inline constexpr ChainNaming kEyeToHandNaming{"EYE-TO-HAND REFINEMENT", "base_T_camera",
                                              "Refined Camera Pose (Base -> Camera)", "base frame",
                                              "tcp_T_target", "flange frame", true};

}  // namespace vemo::calibration
