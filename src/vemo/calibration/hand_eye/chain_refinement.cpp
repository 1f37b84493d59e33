#include "vemo/calibration/hand_eye/chain_refinement.hpp"

#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

HandEyeRefinement refineSolvedChain(const HandEyeResult& chain, const std::vector<CaptureCorners>& corners,
                                    FlangeHolds holder, const HandEyeRefinementOptions& options) {
  HandEyeRefinementInput input;
  input.robot_T_tcp_list = chain.valid_robot_T_tcp_list;
  input.corners = corners;
  input.intrinsic_matrix = chain.intrinsic_matrix;
  input.distortion_coefficients = chain.distortion_coefficients;
  input.tcp_T_camera = chain.tcp_T_camera;
  std::vector<cv::Mat> base_T_target;
  for (std::size_t i = 0; i < input.robot_T_tcp_list.size(); ++i) {
    base_T_target.push_back(input.robot_T_tcp_list[i] * input.tcp_T_camera * chain.camera_T_target_list[i]);
  }
  input.base_T_target = tf::averagePose(base_T_target);
  input.flange_holds = holder;
  return refineHandEye(input, options);
}

}  // namespace vemo::calibration
