#include <opencv2/core.hpp>

#include <stdexcept>

#include "vemo/calibration/hand_eye/chain_refinement.hpp"
#include "vemo/calibration/hand_eye/eye_to_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_input_checks.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/io/eye_to_hand_record.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

// The eye-in-hand run checks the rest of the inputs, in this class's name; the robot poses
// it sees are inverted copies, which must be checked before they are made.
void checkInputs(const Target& target, const std::vector<cv::Mat>& robot_T_tcp_list,
                 const std::vector<cv::Mat>& camera_T_target_list, const cv::Mat& intrinsic_matrix) {
  requireRigidPoses(robot_T_tcp_list, "robot_T_tcp_list", "EyeToHandCalibrator");
  if (camera_T_target_list.empty() && !intrinsic_matrix.empty() && !std::holds_alternative<CharucoTarget>(target)) {
    throw std::invalid_argument(
        "EyeToHandCalibrator: re-detecting target poses with a given intrinsic_matrix needs a CharucoTarget");
  }
}

std::vector<cv::Mat> inverted(const std::vector<cv::Mat>& poses) {
  std::vector<cv::Mat> inverses;
  inverses.reserve(poses.size());
  for (const cv::Mat& pose : poses) {
    cv::Mat as_double;
    pose.convertTo(as_double, CV_64F);
    inverses.push_back(as_double.inv(cv::DECOMP_LU));
  }
  return inverses;
}

}  // namespace

EyeToHandCalibrator::EyeToHandCalibrator(Target target, IntrinsicOptions options)
    : inverted_run_(std::move(target), std::move(options), {"EyeToHandCalibrator", "base_T_camera", FlangeHolds::target}) {}

EyeToHandResult EyeToHandCalibrator::calibrate(const std::vector<cv::Mat>& robot_T_tcp_list,
                                               const std::vector<cv::Mat>& image_list, const std::string& method,
                                               const std::vector<cv::Mat>& camera_T_target_list,
                                               const cv::Mat& intrinsic_matrix,
                                               const cv::Mat& distortion_coefficients,
                                               const std::filesystem::path& output_path) {
  handEyeMethodValue(method);  // an unknown method is refused before anything is logged
  checkInputs(target(), robot_T_tcp_list, camera_T_target_list, intrinsic_matrix);
  Solved solved =
      solve(robot_T_tcp_list, image_list, method, camera_T_target_list, intrinsic_matrix, distortion_coefficients);
  const EyeToHandResult& result = solved.result;
  if (!result.ok) return result;

  last_result_ = result;
  chain_ = std::move(solved.chain);
  logging::log(logging::Level::Info, "Eye-to-hand calibration complete.");
  printResults();
  if (!output_path.empty()) {
    io::EyeToHandResultRecord record;
    record.method = method;
    record.num_frames_used = static_cast<int>(result.valid_image_list.size());
    record.num_frames_total = static_cast<int>(image_list.size());
    record.base_T_camera = result.base_T_camera;
    record.tcp_T_target = result.tcp_T_target;
    io::saveEyeToHandResult(output_path, record);
  }
  return result;
}

EyeToHandCalibrator::Solved EyeToHandCalibrator::solve(const std::vector<cv::Mat>& robot_T_tcp_list,
                                           const std::vector<cv::Mat>& image_list, const std::string& method,
                                           const std::vector<cv::Mat>& camera_T_target_list,
                                           const cv::Mat& intrinsic_matrix,
                                           const cv::Mat& distortion_coefficients) {
  const EyeInHandCalibrator::PreparedCaptures prepared = inverted_run_.prepareCaptures(
      inverted(robot_T_tcp_list), image_list, camera_T_target_list, intrinsic_matrix, distortion_coefficients);
  HandEyeResult solved = inverted_run_.solveCaptures(prepared, method);

  Solved outcome;
  outcome.chain = {solved, keptCorners(prepared.captures), {}};
  EyeToHandResult& result = outcome.result;
  if (solved.ok) {
    // Each capture's tcp_T_target, from the inverted chain the run solved.
    std::vector<cv::Mat> tcp_T_target_list;
    for (std::size_t i = 0; i < solved.camera_T_target_list.size(); ++i) {
      tcp_T_target_list.push_back(solved.valid_robot_T_tcp_list[i] * solved.tcp_T_camera *
                                  solved.camera_T_target_list[i]);
    }
    result.tcp_T_target = tf::averagePose(tcp_T_target_list);
  }
  result.ok = solved.ok;
  result.base_T_camera = std::move(solved.tcp_T_camera);
  result.intrinsic_matrix = std::move(solved.intrinsic_matrix);
  result.distortion_coefficients = std::move(solved.distortion_coefficients);
  result.reprojection_error = solved.reprojection_error;
  // The caller's flange poses of the captures the run kept, not the inverted ones it solved.
  result.valid_robot_T_tcp_list = posesAsDouble(keptOf(robot_T_tcp_list, prepared.captures));
  result.valid_image_list = std::move(solved.valid_image_list);
  result.camera_T_target_list = std::move(solved.camera_T_target_list);
  result.has_consistency = solved.has_consistency;
  // The eye-in-hand statistics of the inverted chain measure each capture's tcp_T_target.
  result.consistency = std::move(solved.consistency);
  result.verdict = std::move(solved.verdict);
  return outcome;
}

EyeToHandRefinement EyeToHandCalibrator::refine(bool refine_intrinsics, double loss_scale_px) {
  return refineWith(givenScaleOptions(refine_intrinsics, loss_scale_px));
}

EyeToHandRefinement EyeToHandCalibrator::refineAtNoiseScale(bool refine_intrinsics) {
  return refineWith(noiseScaledOptions(refine_intrinsics));
}

EyeToHandRefinement EyeToHandCalibrator::refineWith(const HandEyeRefinementOptions& options) {
  if (!last_result_.ok) {
    throw std::runtime_error("EyeToHandCalibrator::refine: there is no successful calibration to refine");
  }
  if (chain_.corners.empty()) {
    throw std::runtime_error(
        "EyeToHandCalibrator::refine: refinement needs images; the last run was given its target poses "
        "(camera_T_target_list) and has no corner detections to refine against");
  }
  chain_.refinement = refineSolvedChain(chain_.solved, chain_.corners, FlangeHolds::target, options);
  return {chain_.refinement};
}

std::string EyeToHandCalibrator::formatRefinement() const {
  return formatHandEyeRefinement(chain_.refinement, kEyeToHandNaming);
}

}  // namespace vemo::calibration
