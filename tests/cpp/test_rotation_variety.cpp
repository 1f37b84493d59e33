#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "vemo/quality/rotation_variety.hpp"

namespace {

// The verdict lines of a report whose ratio is exactly the given value (the other
// fields do not influence the verdict). Real pose sets cannot hit a ratio exactly,
// hence a hand-made record.
std::string verdictFor(double ratio) {
  vemo::quality::RotationVarietyStats stats;
  stats.num_motions = 3;
  stats.singular_values = {1.0, 0.5, ratio};
  stats.axis_span_ratio = ratio;
  const std::string text = vemo::quality::formatRotationVariety(stats);
  return text.substr(text.find("  >>> "));
}

const std::string kPoor =
    "  >>> POOR rotation variety  -  motions cluster in a plane.\n"
    "  >>> Hand-eye is poorly observable in one axis; expect bias.\n";
const std::string kMarginal = "  >>> Marginal rotation variety  -  possible bias in one axis.\n";
const std::string kHealthy = "  >>> Rotation variety is healthy.\n";

}  // namespace

TEST(RotationVariety, VerdictThresholdsAreInclusiveFromBelow) {
  EXPECT_EQ(verdictFor(std::nextafter(0.15, 0.0)), kPoor);
  EXPECT_EQ(verdictFor(0.15), kMarginal);
  EXPECT_EQ(verdictFor(std::nextafter(0.35, 0.0)), kMarginal);
  EXPECT_EQ(verdictFor(0.35), kHealthy);
}
