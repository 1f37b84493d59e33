// The hand-eye refinement as text.

#include <cmath>
#include <iomanip>
#include <sstream>
#include <string>

#include "vemo/calibration/hand_eye/chain_refinement.hpp"
#include "vemo/calibration/hand_eye/hand_eye_refinement.hpp"
#include "vemo/core/report_heading.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

std::string formatHandEyeRefinement(const HandEyeRefinement& refinement, const ChainNaming& naming) {
  std::ostringstream text;
  text << ruledTitle(naming.title, 60);
  if (const char* line = unfinishedRefinementLine(refinement.corner_count != 0, refinement.ok)) {
    text << line;
    return text.str();
  }
  text << std::fixed << std::setprecision(4);
  const bool redescending = std::isfinite(refinement.redescending_scale_px);
  text << "\nJoint reprojection fit of " << naming.transform << " and " << naming.target << " (";
  if (redescending) text << "Tukey's biweight, scale " << refinement.redescending_scale_px << " px, from a ";
  text << "Huber " << (redescending ? "fit at" : "loss,") << " scale " << refinement.loss_scale_px
       << " px; intrinsics " << (refinement.refined_intrinsics ? "refined" : "held fixed") << ")\n";
  if (std::isfinite(refinement.loss_scale_corner_noise_px)) {
    text << "  Loss scale chosen from the data: "
         << refinement.loss_scale_px / refinement.loss_scale_corner_noise_px
         << " x the corners' robust noise (1.4826 MAD per axis after a first fit) of "
         << refinement.loss_scale_corner_noise_px << " px\n";
    if (redescending) {
      text << "  Then Tukey's biweight at " << refinement.redescending_scale_px / refinement.loss_scale_corner_noise_px
           << " x that noise: corners further off than its scale have no pull, nor any share in the noise\n";
    }
  }
  text << "  Reprojection RMS: " << refinement.rms_before_px << " px before, " << refinement.rms_after_px
       << " px after (" << refinement.per_capture_rms_px.size() << " captures, " << refinement.corner_count
       << " corners)\n";
  text << "  The RMS the fit minimised, with the robot pose errors it estimated applied: "
       << refinement.rms_with_pose_errors_px << " px (the two above are at the robot poses as given)\n";
  text << "  Iterations: " << refinement.iterations << (refinement.converged ? " (converged)" : " (not converged)")
       << "\n";
  text << "\n" << naming.transform_caption << ":\n" << refinement.tcp_T_camera << "\n";
  text << "  Change from the closed form: "
       << 1000.0 * cv::norm(tf::translationOf(refinement.tcp_T_camera), tf::translationOf(refinement.initial_tcp_T_camera))
       << " mm, " << tf::rotationAngleDeg(refinement.tcp_T_camera, refinement.initial_tcp_T_camera) << " deg\n";
  if (refinement.refined_intrinsics) {
    text << "\nRefined Intrinsic Matrix:\n" << refinement.intrinsic_matrix << "\n";
    text << "Refined Distortion Coefficients:\n" << refinement.distortion_coefficients << "\n";
  }
  const auto axes = [&text](const cv::Vec3d& values, const char* unit) {
    text << "x " << values[0] << " y " << values[1] << " z " << values[2] << " " << unit;
  };
  const auto sigma = [&](const char* transform, const char* frame, const cv::Vec3d& translation_mm,
                         const cv::Vec3d& rotation_deg) {
    text << "\nUncertainty of " << transform << " (1 sigma, " << frame << "):\n  sigma translation: ";
    axes(translation_mm, "mm");
    text << "\n  sigma rotation:    ";
    axes(rotation_deg, "deg");
    text << "\n";
  };
  sigma(naming.transform, naming.transform_frame, refinement.sigma_translation_mm, refinement.sigma_rotation_deg);
  if (!refinement.refined_intrinsics) {
    text << "  With the intrinsics' own error as well (they were held fixed):\n  sigma translation: ";
    axes(refinement.sigma_with_intrinsics_translation_mm, "mm");
    text << "\n  sigma rotation:    ";
    axes(refinement.sigma_with_intrinsics_rotation_deg, "deg");
    text << "\n";
  }
  if (naming.with_target_sigma) {
    sigma(naming.target, naming.target_frame, refinement.sigma_target_translation_mm,
          refinement.sigma_target_rotation_deg);
  }
  if (refinement.robot_noise_translation_mm > 0.0 || refinement.robot_noise_rotation_deg > 0.0) {
    text << "  Covers image noise (" << refinement.image_noise_px
         << " px per axis) and the robot's pose noise the captures show beyond it ("
         << refinement.robot_noise_translation_mm << " mm, " << refinement.robot_noise_rotation_deg
         << " deg per axis and capture).\n";
  } else {
    text << "  Covers image noise only (" << refinement.image_noise_px
         << " px per axis): the captures show no robot pose noise beyond it.\n";
  }
  text << "\nPer-capture RMS (px):\n";
  for (std::size_t i = 0; i < refinement.per_capture_rms_px.size(); ++i) {
    text << "  Capture " << i << ": " << refinement.per_capture_rms_px[i] << "\n";
  }
  return text.str();
}

}  // namespace vemo::calibration
