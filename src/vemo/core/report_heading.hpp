#pragma once

// Pieces every text report shares.

#include <cstddef>
#include <string>

namespace vemo {

// "\n", a rule of width "=", "\n", the title, "\n", the rule, "\n".
inline std::string ruledTitle(const std::string& title, int width) {
  const std::string rule(static_cast<std::size_t>(width), '=');
  return "\n" + rule + "\n" + title + "\n" + rule + "\n";
}

// The one line a refinement's report holds when there is nothing to show: "Not refined.\n"
// before it ran, "Refinement failed.\n" when it found no usable solution; nullptr otherwise.
inline const char* unfinishedRefinementLine(bool ran, bool ok) {
  if (!ran) return "Not refined.\n";
  return ok ? nullptr : "Refinement failed.\n";
}

}  // namespace vemo
