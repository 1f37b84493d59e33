// The rig's bundle adjustment as text.

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>

#include "vemo/calibration/intrinsic/robust_loss_scale.hpp"
#include "vemo/calibration/rig/rig_refinement.hpp"
#include "vemo/core/report_heading.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

long framesWithBoard(const RigRefinement& refinement) {
  return std::count_if(refinement.reference_T_board_list.begin(), refinement.reference_T_board_list.end(),
                       [](const cv::Mat& pose) { return !pose.empty(); });
}

}  // namespace

std::string formatRigRefinement(const RigRefinement& refinement, const MultiCameraResult& start) {
  std::ostringstream text;
  text << ruledTitle("RIG BUNDLE ADJUSTMENT  (reference = cam_" + std::to_string(start.reference_index) + ")", 70);
  if (const char* line = unfinishedRefinementLine(refinement.corner_count != 0, refinement.ok)) {
    text << line;
    return text.str();
  }
  text << std::fixed << std::setprecision(4);
  text << "\nCost: Huber loss (scale " << refinement.loss_scale_px << " px) of every corner's reprojection distance,\n"
       << "  over every camera's intrinsics and pose and every frame's board pose\n";
  if (refinement.loss_scale_from_data) {
    text << std::defaultfloat << "  Scale chosen from the data: " << refinement::kLossScaleNoiseMultiple
         << " x the corners' robust noise after a first fit at " << kPilotLossScalePx << " px (" << std::fixed
         << refinement.robust_noise_px << " px per axis)\n";
  }
  text << "  Reprojection RMS: " << refinement.rms_before_px << " px with the pairwise rig as given (board poses "
       << "fitted), " << refinement.rms_after_px << " px refined (" << framesWithBoard(refinement) << " frames, "
       << refinement.corner_count << " corners)\n";
  text << "  Corner noise estimated: " << refinement.image_noise_px << " px per axis\n";
  text << "  Iterations: " << refinement.iterations << (refinement.converged ? " (converged)" : " (not converged)")
       << "\n";
  const auto axes = [&text](const cv::Vec3d& values, const char* unit) {
    text << "x " << values[0] << " y " << values[1] << " z " << values[2] << " " << unit << "\n";
  };
  for (std::size_t k = 0; k < refinement.reference_T_camera_list.size(); ++k) {
    text << "\n[cam_" << k << "]  RMS " << refinement.per_camera_rms_px[k] << " px over "
         << refinement.per_camera_corner_count[k] << " corners";
    if (static_cast<int>(k) == refinement.reference_index) {
      text << "  identity (reference)\n";
    } else {
      const cv::Mat& refined = refinement.reference_T_camera_list[k];
      const cv::Mat& pairwise = start.reference_T_camera_list[k];
      text << "\nreference_T_cam_" << k << " =\n" << refined << "\n";
      text << "  Change from the pairwise result: "
           << 1000.0 * cv::norm(tf::translationOf(refined), tf::translationOf(pairwise)) << " mm, "
           << tf::rotationAngleDeg(refined, pairwise) << " deg\n";
      text << "  sigma translation (1 sigma, reference axes): ";
      axes(refinement.sigma_translation_mm[k], "mm");
      text << "  sigma rotation (1 sigma, reference axes):    ";
      axes(refinement.sigma_rotation_deg[k], "deg");
    }
    text << "K =\n" << refinement.intrinsic_matrices[k] << "\nd = " << refinement.distortion_coefficients[k] << "\n";
  }
  return text.str();
}

}  // namespace vemo::calibration
