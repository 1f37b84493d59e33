#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <numeric>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "io_test_support.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/cross_validation_folds.hpp"
#include "vemo/evaluation/utc_timestamp.hpp"

using vemo::quality::BenchmarkResult;
using vemo::quality::CalibrationBenchmark;
using vemo::testing::FileSizeLimit;
using vemo::testing::fileBytes;
using vemo::testing::writeBytes;

namespace {

std::vector<int> sorted(std::vector<int> values) {
  std::sort(values.begin(), values.end());
  return values;
}

BenchmarkResult measured() {
  BenchmarkResult result;
  result.backend_name = "OpenCV";
  result.reprojection_error = 0.35123449;
  result.held_out_reprojection_error = std::numeric_limits<double>::infinity();
  result.hand_eye_roundtrip_error = -1.0;
  result.camera_matrix = (cv::Mat_<float>(3, 3) << 1000.5f, 0, 640, 0, 1001, 480, 0, 0, 1);
  result.dist_coeffs = (cv::Mat_<double>(1, 5) << -0.1, 0.01, 0.001, -0.002, 0.0003);
  result.timestamp = "2026-12-06T16:16:34.004512+00:00";
  result.image_count = 12;
  return result;
}

}  // namespace

TEST(CrossValidationFolds, FollowLibstdcxxShuffleOnMt19937) {
  // The shuffled orders of 0..11, worked out by a separate re-implementation of MT19937
  // (checked on its 10000th output) and of libstdc++'s shuffle (pairs of swap positions
  // from one draw, Lemire's bounded draw), and printed by std::shuffle in a separate program.
  const std::vector<int> shuffled_0 = {0, 2, 1, 5, 9, 11, 4, 7, 6, 10, 3, 8};
  const std::vector<int> shuffled_7 = {2, 7, 6, 8, 1, 5, 3, 0, 4, 11, 10, 9};
  for (const auto& [seed, shuffled] : {std::pair{0u, shuffled_0}, std::pair{7u, shuffled_7}}) {
    const auto folds = vemo::quality::crossValidationFolds(12, 5, seed);
    // 12 images, 5 splits: fold size 2, and the last two shuffled images are never held out.
    ASSERT_EQ(folds.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
      const std::vector<int> held_out(shuffled.begin() + 2 * k, shuffled.begin() + 2 * k + 2);
      EXPECT_EQ(folds[k].held_out, held_out) << "seed " << seed << " fold " << k;
      std::vector<int> training;
      std::copy_if(shuffled.begin(), shuffled.end(), std::back_inserter(training),
                   [&](int index) { return std::find(held_out.begin(), held_out.end(), index) == held_out.end(); });
      EXPECT_EQ(folds[k].training, training);
    }
  }
  // 6 images: fold size 1, five folds training on 5 each; 4 images: folds of 3 training images.
  const auto six = vemo::quality::crossValidationFolds(6, 5, 3);
  ASSERT_EQ(six.size(), 5u);
  for (const auto& fold : six) EXPECT_EQ(fold.training.size(), 5u);
  std::vector<int> all_six;
  for (const auto& fold : six) all_six.insert(all_six.end(), fold.held_out.begin(), fold.held_out.end());
  EXPECT_EQ(std::set<int>(all_six.begin(), all_six.end()).size(), 5u);
  EXPECT_EQ(vemo::quality::crossValidationFolds(4, 5, 0).size(), 4u);
  EXPECT_EQ(vemo::quality::crossValidationFolds(4, 5, 0)[0].training.size(), 3u);
  EXPECT_TRUE(vemo::quality::crossValidationFolds(12, 0, 0).empty());
  EXPECT_TRUE(vemo::quality::crossValidationFolds(0, 5, 0).empty());
  EXPECT_EQ(sorted(vemo::quality::crossValidationFolds(12, 1, 0)[0].held_out).size(), 12u);
}

TEST(BenchmarkReport, TableRowsAndColumns) {
  BenchmarkResult with_roundtrip = measured();
  with_roundtrip.backend_name = "A backend name longer than 28 chars";
  with_roundtrip.held_out_reprojection_error = 0.4127;
  with_roundtrip.hand_eye_roundtrip_error = 12.345;
  const std::string equals(64, '='), dashes(64, '-');
  EXPECT_EQ(CalibrationBenchmark::formatResults({measured(), with_roundtrip}),
            equals + "\nBENCHMARK SUMMARY\n" + equals + "\n" +
                "Backend                        RPE  Held    RT\n" + dashes + "\n" +
                "OpenCV                        0.35   inf     -\n" +
                "A backend name longer than 28 chars  0.35  0.41 12.35\n" + dashes + "\n");
  EXPECT_EQ(CalibrationBenchmark::formatResults({}),
            equals + "\nBENCHMARK SUMMARY\n" + equals + "\nBackend                        RPE  Held    RT\n" + dashes +
                "\n" + dashes + "\n");
}

class BenchmarkJson : public vemo::testing::ScratchDirectory {};

TEST_F(BenchmarkJson, LayoutKeyOrderRoundingAndNulls) {
  BenchmarkResult empty_matrices = measured();
  empty_matrices.backend_name = "bare";
  empty_matrices.camera_matrix = cv::Mat();
  empty_matrices.dist_coeffs = cv::Mat();
  empty_matrices.held_out_reprojection_error = 0.0000004999;
  empty_matrices.hand_eye_roundtrip_error = 2.0000005001;
  const std::string path = (dir_ / "benchmark.json").string();
  CalibrationBenchmark::saveJson({measured(), empty_matrices}, path);

  const std::string text = fileBytes(path);
  EXPECT_EQ(text.substr(0, 17), "{\n  \"results\": [\n");
  EXPECT_EQ(text.back(), '}');
  const auto document = nlohmann::ordered_json::parse(text);
  std::vector<std::string> keys;
  for (const auto& item : document.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"results", "run_timestamp"}));
  EXPECT_TRUE(std::regex_match(document["run_timestamp"].get<std::string>(),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}\+00:00)")));

  const auto& first = document["results"][0];
  keys.clear();
  for (const auto& item : first.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"backend_name", "camera_matrix", "dist_coeffs", "hand_eye_roundtrip_error",
                                            "held_out_reprojection_error", "image_count", "reprojection_error",
                                            "timestamp"}));
  EXPECT_EQ(first["camera_matrix"], nlohmann::ordered_json::parse("[[1000.5, 0, 640], [0, 1001, 480], [0, 0, 1]]"));
  EXPECT_EQ(first["dist_coeffs"], nlohmann::ordered_json::parse("[-0.1, 0.01, 0.001, -0.002, 0.0003]"));
  EXPECT_TRUE(first["hand_eye_roundtrip_error"].is_null());     // not measured
  EXPECT_TRUE(first["held_out_reprojection_error"].is_null());  // infinite
  EXPECT_EQ(first["reprojection_error"].get<double>(), 0.351234);
  EXPECT_EQ(first["image_count"].get<int>(), 12);
  EXPECT_EQ(first["timestamp"], "2026-12-06T16:16:34.004512+00:00");

  const auto& second = document["results"][1];
  EXPECT_EQ(second["camera_matrix"], nlohmann::ordered_json::array());
  EXPECT_EQ(second["dist_coeffs"], nlohmann::ordered_json::array());
  EXPECT_EQ(second["held_out_reprojection_error"].get<double>(), 0.0);
  EXPECT_EQ(second["hand_eye_roundtrip_error"].get<double>(), 2.000001);

  CalibrationBenchmark::saveJson({}, path);
  EXPECT_EQ(nlohmann::json::parse(fileBytes(path))["results"], nlohmann::json::array());
}

TEST_F(BenchmarkJson, UnwritablePathKeepsTheOldFileAndSaysSo) {
  const std::string missing = (dir_ / "no_such_dir" / "benchmark.json").string();
  try {
    CalibrationBenchmark::saveJson({measured()}, missing);
    FAIL() << "expected an exception";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "[Benchmark] cannot open " + missing + " for writing");
  }
  // The target is a directory: the rename fails after the write, and it stays a directory.
  std::filesystem::create_directory(dir_ / "taken");
  EXPECT_THROW(CalibrationBenchmark::saveJson({measured()}, (dir_ / "taken").string()), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "taken"));

  // A write that fails half-way (a full disk) leaves the existing file as it was.
  const std::filesystem::path existing = dir_ / "kept.json";
  writeBytes(existing, "old");
  {
    FileSizeLimit full_disk(16);
    EXPECT_THROW(CalibrationBenchmark::saveJson({measured()}, existing.string()), std::runtime_error);
  }
  EXPECT_EQ(fileBytes(existing), "old");
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
}

TEST(LogTranscript, KeepsTheLinesLoggedWhileAliveAndReplaysThem) {
  std::ostringstream err;
  std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
  std::vector<vemo::logging::LogLine> lines;
  vemo::logging::log(vemo::logging::Level::Info, "before");
  {
    vemo::logging::Transcript outer;
    vemo::logging::log(vemo::logging::Level::Warning, "one");
    {
      vemo::logging::Transcript inner;
      vemo::logging::log(vemo::logging::Level::Error, "two");
      EXPECT_EQ(inner.lines().size(), 1u);
    }
    lines = outer.lines();
  }
  vemo::logging::replay(lines);
  std::cerr.rdbuf(old_err);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(err.str(),
            "[vemo][INFO] before\n[vemo][WARNING] one\n[vemo][ERROR] two\n[vemo][WARNING] one\n[vemo][ERROR] two\n");
}
