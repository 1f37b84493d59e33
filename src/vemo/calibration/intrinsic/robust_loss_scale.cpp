#include "vemo/calibration/intrinsic/robust_loss_scale.hpp"

#include <algorithm>
#include <cstddef>

namespace vemo::calibration::refinement {

double robustNoiseOf(std::vector<double> component_magnitudes) {
  if (component_magnitudes.empty()) return 0.0;
  const auto middle = component_magnitudes.begin() + static_cast<std::ptrdiff_t>(component_magnitudes.size() / 2);
  std::nth_element(component_magnitudes.begin(), middle, component_magnitudes.end());
  double median = *middle;
  if (component_magnitudes.size() % 2 == 0) {
    median = 0.5 * (median + *std::max_element(component_magnitudes.begin(), middle));
  }
  return 1.4826 * median;
}

}  // namespace vemo::calibration::refinement
