// EyeInHandCalibrator: how well the captures agree on one fixed target, and the report.

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_report.hpp"
#include "vemo/calibration/hand_eye/target_deviations.hpp"
#include "vemo/core/report_output.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

double mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

double maximum(const std::vector<double>& values) { return *std::max_element(values.begin(), values.end()); }

cv::Point3f centroidOf(const cv::Mat& object_points) {
  cv::Mat centre;
  cv::reduce(object_points, centre, 0, cv::REDUCE_AVG, CV_64F);
  return {static_cast<float>(centre.at<double>(0)), static_cast<float>(centre.at<double>(1)),
          static_cast<float>(centre.at<double>(2))};
}

}  // namespace

void EyeInHandCalibrator::computeConsistency(HandEyeResult& result) const {
  TargetConsistencyStats stats;
  TargetDeviations deviations =
      targetDeviations(result.valid_robot_T_tcp_list, result.tcp_T_camera, result.camera_T_target_list);
  stats.translation_deviations_m = std::move(deviations.translations_m);
  stats.rotation_deviations_deg = std::move(deviations.rotations_deg);
  stats.mean_translation_m = mean(stats.translation_deviations_m);
  stats.max_translation_m = maximum(stats.translation_deviations_m);
  stats.mean_rotation_deg = mean(stats.rotation_deviations_deg);
  stats.max_rotation_deg = maximum(stats.rotation_deviations_deg);

  // Where the board centre falls in each image: only meaningful with a camera matrix.
  const std::vector<cv::Point3f> centre{centroidOf(boardObjectPoints())};
  const cv::Mat distortion = result.distortion_coefficients.empty() ? cv::Mat::zeros(1, 5, CV_64F)
                                                                    : result.distortion_coefficients;
  const double no_projection = std::numeric_limits<double>::quiet_NaN();
  for (const cv::Mat& camera_T_target : result.camera_T_target_list) {
    cv::Mat rvec, tvec;
    tf::transformationMatrixToRvecTvec(camera_T_target, rvec, tvec);
    stats.distances_m.push_back(cv::norm(tvec, cv::NORM_L2));
    if (result.intrinsic_matrix.empty()) {
      stats.board_us.push_back(no_projection);
      stats.board_vs.push_back(no_projection);
      continue;
    }
    std::vector<cv::Point2f> projected;
    cv::projectPoints(centre, rvec, tvec, result.intrinsic_matrix, distortion, projected);
    stats.board_us.push_back(projected[0].x);
    stats.board_vs.push_back(projected[0].y);
  }
  result.consistency = std::move(stats);
  result.has_consistency = true;
}

std::string EyeInHandCalibrator::formatResults() const {
  return hand_eye_report::formatReport("HAND-EYE RESULTS",
                                       {{"Hand-Eye Transform (TCP -> Camera)", last_result_.tcp_T_camera}}, last_result_);
}

void EyeInHandCalibrator::printResults() const { report::write(formatResults()); }

}  // namespace vemo::calibration
