#include "vemo/calibration/hand_eye/hand_eye_report.hpp"

#include <cmath>

#include "vemo/calibration/hand_eye/eye_in_hand_limits.hpp"
#include "vemo/quality/rotation_variety.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration::hand_eye_report {

void writeTitle(std::ostream& out, const std::string& title) {
  const std::string rule(60, '=');
  out << "\n" << rule << "\n" << title << "\n" << rule << "\n";
}

void writeTransformSection(std::ostream& out, const std::string& heading, const cv::Mat& a_T_b) {
  out << "\n" << heading << ":\n" << a_T_b << "\n";
  const std::vector<double> pose = tf::transformationMatrixToPose(a_T_b);
  out << "\nPose [x, y, z, rx, ry, rz] (deg):\n  [";
  for (std::size_t i = 0; i < pose.size(); ++i) out << (i ? ", " : "") << pose[i];
  out << "]\n";
}

void writeIntrinsicsSection(std::ostream& out, const cv::Mat& intrinsic_matrix,
                            const cv::Mat& distortion_coefficients, double reprojection_error) {
  out << "\nIntrinsic Matrix:\n" << intrinsic_matrix << "\n";
  out << "\nDistortion Coefficients:\n" << distortion_coefficients << "\n";
  out << "\nReprojection Error: ";
  if (std::isnan(reprojection_error)) {
    out << "n/a\n";
    return;
  }
  // Fixed notation from here on: every later number of the report prints with 4 decimals.
  out << std::fixed;
  out.precision(4);
  out << reprojection_error << " px\n";
}

void writeConsistencySection(std::ostream& out, const TargetConsistencyStats& c) {
  out << "\nTarget Consistency Residual:\n";
  out << "  Translation - mean: " << 1000.0 * c.mean_translation_m << " mm   max: " << 1000.0 * c.max_translation_m
      << " mm\n";
  out << "  Rotation    - mean: " << c.mean_rotation_deg << " deg   max: " << c.max_rotation_deg << " deg\n";
  for (std::size_t j = 0; j < c.translation_deviations_m.size(); ++j) {
    out << "  Frame " << j << ": trans=" << 1000.0 * c.translation_deviations_m[j]
        << "mm rot=" << c.rotation_deviations_deg[j] << "deg dist=" << 1000.0 * c.distances_m[j]
        << "mm center=(" << c.board_us[j] << ", " << c.board_vs[j] << ")\n";
  }
}

void writeRotationVarietySection(std::ostream& out, const std::vector<cv::Mat>& camera_T_target_list) {
  out << "\n"
      << quality::formatRotationVariety(
             quality::analyzeRotationVariety(camera_T_target_list, eye_in_hand::kReportMinRotationDeg));
}

}  // namespace vemo::calibration::hand_eye_report
