#pragma once

// Whether a calibration's own evidence supports its answer. The solvers return a transform
// for any input, so "ok" says only that a solve ran: a robot pose paired with the wrong
// image, a mistyped square size or a board layout given the wrong way round all come back
// "ok", centimetres to metres off. The verdict weighs what the run already measured against
// what its noise can explain.

#include <string>
#include <vector>

namespace vemo::quality {

// A capture without which the hand-eye chain agrees much better.
struct Suspect {
  int capture = -1;                 // position in the run's input lists
  double residual_without_m = 0.0;  // RMS target deviation with the capture left out, metres
};

struct Verdict {
  bool trusted = true;
  std::vector<std::string> reasons;  // one sentence per cause; empty when trusted
  std::vector<Suspect> suspects;     // only for an untrusted hand-eye result, most suspect first
};

// What the robot's reported poses may be off by (standard deviation per axis), which the
// hand-eye verdict counts as noise.
struct VerdictOptions {
  double robot_repeatability_m = 0.0001;
  double robot_repeatability_deg = 0.01;
};

// Adds a reason and marks the verdict untrusted.
inline void distrust(Verdict& verdict, std::string reason) {
  verdict.trusted = false;
  verdict.reasons.push_back(std::move(reason));
}

// The verdict as the commands print it after the report:
//   "Verdict: trusted" or "Verdict: NOT TRUSTED", then "  - <reason>" per reason, and for
//   suspects "  Suspects (robot pose and image may not belong together):" with
//   "    capture <i> (<name>): <x.xx> mm without it" per suspect. capture_names, when given,
//   names each input capture (image file names); otherwise the name is left out.
std::string formatVerdict(const Verdict& verdict, const std::vector<std::string>& capture_names = {});

}  // namespace vemo::quality
