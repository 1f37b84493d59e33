// EyeInHandCalibrator: joint reprojection refinement of the last successful run.

#include <stdexcept>

#include "vemo/calibration/hand_eye/chain_refinement.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"

namespace vemo::calibration {

HandEyeRefinement EyeInHandCalibrator::refine(bool refine_intrinsics, double loss_scale_px) {
  return refineWith(givenScaleOptions(refine_intrinsics, loss_scale_px));
}

HandEyeRefinement EyeInHandCalibrator::refineAtNoiseScale(bool refine_intrinsics) {
  return refineWith(noiseScaledOptions(refine_intrinsics));
}

HandEyeRefinement EyeInHandCalibrator::refineWith(const HandEyeRefinementOptions& options) {
  if (!last_result_.ok) {
    throw std::runtime_error("EyeInHandCalibrator::refine: there is no successful calibration to refine");
  }
  if (refinement_state_.corners.empty()) {
    throw std::runtime_error(
        "EyeInHandCalibrator::refine: refinement needs images; the last run was given its target poses "
        "(camera_T_target_list) and has no corner detections to refine against");
  }
  refinement_state_.refinement =
      refineSolvedChain(last_result_, refinement_state_.corners, FlangeHolds::camera, options);
  return refinement_state_.refinement;
}

std::string EyeInHandCalibrator::formatRefinement() const {
  return formatHandEyeRefinement(refinement_state_.refinement, kEyeInHandNaming);
}

}  // namespace vemo::calibration
