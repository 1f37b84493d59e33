#pragma once

#include <vector>

#include "vemo/calibration/rig/multi_camera_result.hpp"
#include "vemo/calibration/rig/multi_camera_triangulation_report.hpp"

namespace vemo::calibration {

// One combination of rig cameras calibrated as a rig of its own.
struct SubsetResult {
  std::vector<int> subset;    // rig camera indices, ascending
  // Indexed by position within subset; its reference is position 0 (the lowest camera
  // index), whatever the rig's reference.
  MultiCameraResult result;
  bool has_triangulation = false;   // whether the check below succeeded
  TriangulationReport triangulation;  // default-valued when it did not
};

}  // namespace vemo::calibration
