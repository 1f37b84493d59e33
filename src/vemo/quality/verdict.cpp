#include "vemo/quality/verdict.hpp"

#include <iomanip>
#include <sstream>

namespace vemo::quality {

std::string formatVerdict(const Verdict& verdict, const std::vector<std::string>& capture_names) {
  std::ostringstream text;
  text << "Verdict: " << (verdict.trusted ? "trusted" : "NOT TRUSTED") << "\n";
  for (const std::string& reason : verdict.reasons) text << "  - " << reason << "\n";
  if (!verdict.suspects.empty()) text << "  Suspects (robot pose and image may not belong together):\n";
  for (const Suspect& suspect : verdict.suspects) {
    text << "    capture " << suspect.capture;
    const auto index = static_cast<std::size_t>(suspect.capture);
    if (index < capture_names.size()) text << " (" << capture_names[index] << ")";
    text << ": " << std::fixed << std::setprecision(2) << suspect.residual_without_m * 1000.0 << " mm without it\n";
  }
  return text.str();
}

}  // namespace vemo::quality
