#pragma once

// The robust loss scale a refinement chooses from its data when the caller gives none.
// Detected corners have heavy tails: a core a fifth of a pixel wide, and a few corners
// pixels off (misdetections, or a lens model that misfits at the image border). A Huber
// scale near the core's noise keeps those few from bending the fit, where a fixed 1 px lets
// them pull with the weight of many good corners.

#include <vector>

namespace vemo::calibration::refinement {

// Huber's constant of 95 % efficiency under Gaussian noise: the scale is this multiple of
// the corners' robust noise per axis.
inline constexpr double kLossScaleNoiseMultiple = 1.345;

// The noise per axis that a minority of bad corners does not move: 1.4826 times the median
// of the residual components' magnitudes (the standard deviation under Gaussian noise).
// 0 for no components.
double robustNoiseOf(std::vector<double> component_magnitudes);

}  // namespace vemo::calibration::refinement
