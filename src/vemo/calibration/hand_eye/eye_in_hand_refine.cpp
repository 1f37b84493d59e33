// EyeInHandCalibrator: joint reprojection refinement of the last successful run.

#include <stdexcept>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

HandEyeRefinement EyeInHandCalibrator::refine(bool refine_intrinsics, double loss_scale_px) {
  if (!last_result_.ok) {
    throw std::runtime_error("EyeInHandCalibrator::refine: there is no successful calibration to refine");
  }
  if (refinement_state_.corners.empty()) {
    throw std::runtime_error(
        "EyeInHandCalibrator::refine: refinement needs images; the last run was given its target poses "
        "(camera_T_target_list) and has no corner detections to refine against");
  }
  HandEyeRefinementInput input;
  input.robot_T_tcp_list = last_result_.valid_robot_T_tcp_list;
  input.corners = refinement_state_.corners;
  input.intrinsic_matrix = last_result_.intrinsic_matrix;
  input.distortion_coefficients = last_result_.distortion_coefficients;
  input.tcp_T_camera = last_result_.tcp_T_camera;
  // The start for the target: where the captures put it on average, as the consistency
  // statistics do.
  std::vector<cv::Mat> base_T_target;
  for (std::size_t i = 0; i < input.robot_T_tcp_list.size(); ++i) {
    base_T_target.push_back(input.robot_T_tcp_list[i] * input.tcp_T_camera * last_result_.camera_T_target_list[i]);
  }
  input.base_T_target = tf::averagePose(base_T_target);

  HandEyeRefinementOptions options;
  options.refine_intrinsics = refine_intrinsics;
  options.loss_scale_px = loss_scale_px;
  refinement_state_.refinement = refineHandEye(input, options);
  return refinement_state_.refinement;
}

std::string EyeInHandCalibrator::formatRefinement() const { return formatHandEyeRefinement(refinement_state_.refinement); }

}  // namespace vemo::calibration
