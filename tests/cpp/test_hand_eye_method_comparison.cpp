#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vemo/evaluation/hand_eye_method_comparison.hpp"
#include "vemo/evaluation/method_agreement.hpp"
#include "vemo/tf/tf.hpp"

using vemo::quality::HandEyeMethodResult;
using vemo::quality::HandEyeMethodResults;

namespace {

const char* const kMethods[] = {"ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"};

HandEyeMethodResult methodResult(const std::string& name, std::vector<double> pose) {
  return HandEyeMethodResult{name, vemo::tf::poseToTransformationMatrix(pose), pose, {}};
}

// All five methods at one pose but for the given rz values (x varied a little).
HandEyeMethodResults withRz(const std::vector<double>& rz) {
  HandEyeMethodResults results;
  for (std::size_t i = 0; i < 5; ++i) {
    results[kMethods[i]] = std::nullopt;
    if (i < rz.size()) results[kMethods[i]] = methodResult(kMethods[i], {0.032 + 0.0001 * i, -0.047, 0.105, 4.0, -3.0, rz[i]});
  }
  return results;
}

const std::string kHeader =
    "============================================================\n"
    "HAND-EYE CROSS-METHOD COMPARISON\n"
    "============================================================\n"
    "  Method         x (m)   y (m)   z (m)     rx     ry     rz\n"
    "  ----------------------------------------------------------\n";
const std::string kRule = "  ----------------------------------------------------------\n";

}  // namespace

TEST(MethodComparison, TableAndTheThreeVerdicts) {
  using vemo::quality::formatMethodComparison;
  // One outlier: median 10.20 of 10.0 .. 10.3 and 25.0.
  EXPECT_EQ(formatMethodComparison(withRz({10.0, 10.1, 10.2, 10.3, 25.0}), 1.5),
            kHeader +
                "  ANDREFF       0.0320 -0.0470  0.1050   4.00  -3.00  10.00\n"
                "  DANIILIDIS    0.0321 -0.0470  0.1050   4.00  -3.00  10.10\n"
                "  HORAUD        0.0322 -0.0470  0.1050   4.00  -3.00  10.20\n"
                "  PARK          0.0323 -0.0470  0.1050   4.00  -3.00  10.30\n"
                "  TSAI          0.0324 -0.0470  0.1050   4.00  -3.00  25.00\n" +
                kRule +
                "  rz total spread:      15.00 deg (median rz = 10.20 deg)\n"
                "  translation spread:   0.40 mm\n"
                "  >>> 4-of-5 methods cluster near 10.20 deg; outlier(s): TSAI.\n"
                "      Trust the consensus value (10.20 deg). The\n"
                "      outlier likely hit a local optimum specific to its formulation.\n");

  // Two results 3 degrees apart: both lie exactly 1.5 from the median, which agrees.
  const std::string agree = formatMethodComparison(withRz({10.0, 13.0}), 1.5);
  EXPECT_NE(agree.find("  HORAUD      (failed)\n  PARK        (failed)\n  TSAI        (failed)\n"), std::string::npos);
  EXPECT_NE(agree.find(kRule +
                       "  rz total spread:      3.00 deg (median rz = 11.50 deg)\n"
                       "  translation spread:   0.10 mm\n"
                       "  >>> All 2 methods agree to within ~1.50 deg of median (11.50 deg).\n"
                       "      The data uniquely determines rz. If this differs from\n"
                       "      visual ground truth, the bias is in the *data* (robot\n"
                       "      kinematics or detection), not the solver.\n"),
            std::string::npos);
  EXPECT_EQ(agree.rfind("not the solver.\n"), agree.size() - 16);  // the text ends with the verdict

  const std::string split = formatMethodComparison(withRz({10.0, 13.2}), 1.5);
  EXPECT_EQ(split.substr(split.find("  >>>")),
            "  >>> No consensus  -  methods split into clusters with >1.50 deg spread.\n"
            "      Solution is under-determined; capture more axis-diverse poses.\n");

  // One result: the text ends after the rows; none: five failed rows.
  EXPECT_EQ(formatMethodComparison(withRz({10.0}), 1.5),
            kHeader + "  ANDREFF       0.0320 -0.0470  0.1050   4.00  -3.00  10.00\n"
                      "  DANIILIDIS  (failed)\n  HORAUD      (failed)\n  PARK        (failed)\n  TSAI        (failed)\n");
  // A name longer than the column is not cut.
  HandEyeMethodResults long_name;
  long_name["A_VERY_LONG_NAME"] = methodResult("A_VERY_LONG_NAME", {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(formatMethodComparison(long_name, 1.5),
            kHeader + "  A_VERY_LONG_NAME  1.0000  2.0000  3.0000   4.00   5.00   6.00\n");
}

TEST(MethodAgreement, NamesTheMethodThatOnlyTheTranslationGivesAway) {
  // TSAI 30 mm away with the same rotation: the rz verdict sees agreement.
  HandEyeMethodResults results;
  for (const char* name : kMethods) results[name] = methodResult(name, {0.032, -0.047, 0.105, 4.0, -3.0, 88.0});
  results["TSAI"] = methodResult("TSAI", {0.062, -0.047, 0.105, 4.0, -3.0, 88.01});
  EXPECT_NE(vemo::quality::formatMethodComparison(results, 1.5).find("  >>> All 5 methods agree"), std::string::npos);

  const auto agreement = vemo::quality::assessMethodAgreement(results, 5.0, 0.5);
  ASSERT_TRUE(agreement);
  EXPECT_EQ(agreement->translation_outliers, std::vector<std::string>{"TSAI"});
  EXPECT_TRUE(agreement->rotation_outliers.empty());
  ASSERT_EQ(agreement->deviations.size(), 5u);
  EXPECT_NEAR(agreement->deviations[4].translation_mm, 30.0, 1e-9);
  EXPECT_NEAR(agreement->deviations[4].rotation_deg, 0.01, 1e-9);
  EXPECT_NEAR(agreement->deviations[0].translation_mm, 0.0, 1e-12);
  EXPECT_EQ(vemo::quality::formatMethodAgreement(agreement),
            "  Deviation from the median of the methods:\n"
            "  Method         dt (mm)  dR (deg)\n"
            "  ANDREFF           0.00      0.00\n"
            "  DANIILIDIS        0.00      0.00\n"
            "  HORAUD            0.00      0.00\n"
            "  PARK              0.00      0.00\n"
            "  TSAI             30.00      0.01\n"
            "  >>> Translation: outlier(s) beyond 5.00 mm: TSAI.\n"
            "  >>> Rotation: all 5 methods within 0.50 deg of the median.\n");
}

TEST(MethodAgreement, ThresholdsAreInclusiveAndTheMediansRobust) {
  // x offsets 0, 0, 0, +5 mm, -5.1 mm: the median stays at 0; exactly 5 mm agrees.
  // Rotations about y of 0, 0, 0, 0.49 and -0.51 degrees: the median stays at 0.
  const double x[] = {0.0, 0.0, 0.0, 0.005, -0.0051};
  const double ry[] = {0.0, 0.0, 0.0, 0.49, -0.51};
  HandEyeMethodResults results;
  for (std::size_t i = 0; i < 5; ++i) results[kMethods[i]] = methodResult(kMethods[i], {x[i], 0.0, 0.1, 0.0, ry[i], 0.0});
  results["EXTRA_FAILED"] = std::nullopt;

  const auto agreement = vemo::quality::assessMethodAgreement(results, 5.0, 0.5);
  ASSERT_TRUE(agreement);
  EXPECT_EQ(agreement->translation_outliers, std::vector<std::string>{"TSAI"});
  EXPECT_EQ(agreement->rotation_outliers, std::vector<std::string>{"TSAI"});
  EXPECT_EQ(agreement->deviations[3].translation_mm, 5.0);
  EXPECT_NEAR(agreement->deviations[3].rotation_deg, 0.49, 1e-9);
  EXPECT_NEAR(agreement->deviations[4].rotation_deg, 0.51, 1e-9);
  const cv::Mat identity_at_median = vemo::tf::poseToTransformationMatrix({0.0, 0.0, 0.1, 0.0, 0.0, 0.0});
  EXPECT_LT(cv::norm(agreement->median_tcp_T_camera, identity_at_median, cv::NORM_INF), 1e-12);

  // Two methods: both medians lie half-way, so the two deviate alike.
  HandEyeMethodResults two;
  two["PARK"] = methodResult("PARK", {0.0, 0.0, 0.0, 0.0, 0.0, 10.0});
  two["TSAI"] = methodResult("TSAI", {0.012, 0.0, 0.0, 0.0, 0.0, 11.0});
  const auto pair = vemo::quality::assessMethodAgreement(two, 5.0, 0.5);
  ASSERT_TRUE(pair);
  EXPECT_NEAR(pair->deviations[0].translation_mm, 6.0, 1e-9);
  EXPECT_NEAR(pair->deviations[1].rotation_deg, 0.5, 1e-9);
  EXPECT_EQ(pair->translation_outliers, (std::vector<std::string>{"PARK", "TSAI"}));

  HandEyeMethodResults one;
  one["TSAI"] = methodResult("TSAI", {0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(vemo::quality::assessMethodAgreement(one, 5.0, 0.5));
  EXPECT_EQ(vemo::quality::formatMethodAgreement(std::nullopt),
            "  Deviation from the median of the methods:\n  Fewer than 2 methods succeeded: nothing to compare.\n");
  EXPECT_THROW(vemo::quality::assessMethodAgreement(two, -1.0, 0.5), std::invalid_argument);
}
