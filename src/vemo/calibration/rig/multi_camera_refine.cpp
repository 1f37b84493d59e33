// MultiCameraCalibrator: bundle adjustment of the last calibrated rig.

#include <cmath>
#include <optional>
#include <stdexcept>

#include "vemo/calibration/rig/multi_camera_calibrator.hpp"

namespace vemo::calibration {

RigRefinement MultiCameraCalibrator::refine(std::optional<double> loss_scale_px) {
  if (loss_scale_px && (!(*loss_scale_px > 0.0) || !std::isfinite(*loss_scale_px))) {
    throw std::invalid_argument("MultiCameraCalibrator::refine: loss_scale_px must be positive");
  }
  if (!last_result_.ok) {
    throw std::runtime_error(
        "MultiCameraCalibrator::refine: there is no successful calibration to refine; run calibrate() first");
  }
  RigRefinementOptions options;
  options.loss_scale_px = loss_scale_px;
  options.calibrate_camera_flags = options_.calibrate_camera_flags;
  last_refinement_ = refineRig(last_views_, last_result_, options);
  return last_refinement_;
}

std::string MultiCameraCalibrator::formatRefinement() const {
  return formatRigRefinement(last_refinement_, last_result_);
}

}  // namespace vemo::calibration
