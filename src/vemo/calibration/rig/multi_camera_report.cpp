// MultiCameraCalibrator: the text report of the last results.

#include <sstream>
#include <string>
#include <variant>

#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/core/report_output.hpp"

namespace vemo::calibration {

namespace {

void section(std::ostringstream& text, const std::string& title, std::size_t width) {
  const std::string rule(width, '=');
  text << "\n" << rule << "\n" << title << "\n" << rule << "\n";
}

}  // namespace

std::string MultiCameraCalibrator::formatResults() const {
  const MultiCameraResult& rig = last_result_;
  std::ostringstream text;
  section(text, "PER-CAMERA INTRINSICS", 70);
  for (int camera = 0; camera < num_cameras_; ++camera) {
    const auto c = static_cast<std::size_t>(camera);
    text << "\n[cam_" << camera << "]  intrinsic RPE: " << rig.intrinsic_reprojection_errors[c] << " px\n"
         << "K =\n" << rig.intrinsic_matrices[c] << "\n"
         << "d = " << rig.distortion_coefficients[c] << "\n";
  }

  section(text, "EXTRINSICS  -  reference_T_camera  (reference = cam_" + std::to_string(reference_index_) + ")", 70);
  for (int camera = 0; camera < num_cameras_; ++camera) {
    const auto c = static_cast<std::size_t>(camera);
    if (camera == reference_index_) {
      text << "\n[cam_" << camera << "]  identity (reference)\n";
    } else if (rig.reference_T_camera_list[c].empty()) {
      text << "\n[cam_" << camera << "]  FAILED  -  too few shared detections with cam_" << reference_index_ << "\n";
    } else {
      text << "\n[cam_" << camera << "]  stereo RMS vs reference: " << rig.pair_reprojection_errors[c] << " px\n"
           << "reference_T_cam_" << camera << " =\n" << rig.reference_T_camera_list[c] << "\n";
    }
  }

  if (has_triangulation_) {
    const TriangulationReport& check = last_triangulation_;
    section(text, "TRIANGULATION VALIDATION  (frame " + std::to_string(check.frame_index) + ")", 70);
    // Only a ChArUco rig ever holds a check.
    text << "  Expected square length: " << std::get<CharucoTarget>(target_).square_length * 1000 << " mm\n"
         << "  Co-planarity (3rd SV):  " << check.plane_thickness_m * 1000 << " mm\n";
    for (std::size_t camera = 0; camera < check.rms_per_camera.size(); ++camera) {
      text << "  Reprojection RMS (cam_" << camera << "): ";
      if (check.counts_per_camera[camera] != 0) {
        text << check.rms_per_camera[camera] << " px over " << check.counts_per_camera[camera] << " corners\n";
      } else {
        text << "no observations\n";
      }
    }
  }

  if (!last_subsets_.empty()) {
    section(text, "SUBSET SUMMARY", 90);
    for (const SubsetResult& subset : last_subsets_) {
      text << "(";
      for (std::size_t k = 0; k < subset.subset.size(); ++k) text << (k ? ", " : "") << "cam_" << subset.subset[k];
      text << "): ok=" << (subset.result.ok ? "yes" : "no");
      if (subset.has_triangulation) text << "  plane_thickness_mm=" << subset.triangulation.plane_thickness_m * 1000;
      text << "\n";
    }
  }
  return text.str();
}

void MultiCameraCalibrator::printResults() const { report::write(formatResults()); }

}  // namespace vemo::calibration
