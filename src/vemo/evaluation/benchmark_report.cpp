// CalibrationBenchmark: the summary table and the JSON file.

#include <nlohmann/json.hpp>

#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/utc_timestamp.hpp"
#include "vemo/io/storage/whole_file.hpp"

namespace vemo::quality {

namespace {

// round-half-away-from-zero to 6 decimals; a non-finite value stays so (and is written as null).
double rounded6(double value) { return std::round(value * 1e6) / 1e6; }

nlohmann::json rowsOf(const cv::Mat& matrix) {
  nlohmann::json rows = nlohmann::json::array();
  cv::Mat values;
  matrix.convertTo(values, CV_64F);
  for (int r = 0; r < values.rows; ++r) {
    nlohmann::json row = nlohmann::json::array();
    for (int c = 0; c < values.cols; ++c) row.push_back(values.at<double>(r, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

nlohmann::json flatOf(const cv::Mat& matrix) {
  nlohmann::json flat = nlohmann::json::array();
  cv::Mat values;
  matrix.convertTo(values, CV_64F);
  for (int r = 0; r < values.rows; ++r) {
    for (int c = 0; c < values.cols * values.channels(); ++c) flat.push_back(values.ptr<double>(r)[c]);
  }
  return flat;
}

}  // namespace

std::string CalibrationBenchmark::formatResults(const std::vector<BenchmarkResult>& results) {
  const std::string equals(64, '='), dashes(64, '-');
  std::ostringstream out;
  out << equals << "\nBENCHMARK SUMMARY\n" << equals << "\n";
  out << std::left << std::setw(28) << "Backend" << std::right << std::setw(6) << "RPE" << std::setw(6) << "Held"
      << std::setw(6) << "RT" << "\n";
  out << dashes << "\n";
  out << std::fixed << std::setprecision(2);
  for (const BenchmarkResult& result : results) {
    out << std::left << std::setw(28) << result.backend_name << std::right << std::setw(6)
        << result.reprojection_error << std::setw(6) << result.held_out_reprojection_error << std::setw(6);
    if (result.hand_eye_roundtrip_error < 0) {
      out << "-";
    } else {
      out << result.hand_eye_roundtrip_error;
    }
    out << "\n";
  }
  out << dashes << "\n";
  return out.str();
}

void CalibrationBenchmark::saveJson(const std::vector<BenchmarkResult>& results, const std::string& path) {
  nlohmann::json document;
  document["run_timestamp"] = utcTimestamp();
  nlohmann::json entries = nlohmann::json::array();
  for (const BenchmarkResult& result : results) {
    nlohmann::json entry;
    entry["backend_name"] = result.backend_name;
    entry["camera_matrix"] = rowsOf(result.camera_matrix);
    entry["dist_coeffs"] = flatOf(result.dist_coeffs);
    entry["hand_eye_roundtrip_error"] =
        result.hand_eye_roundtrip_error < 0 ? nlohmann::json() : nlohmann::json(rounded6(result.hand_eye_roundtrip_error));
    entry["held_out_reprojection_error"] = rounded6(result.held_out_reprojection_error);
    entry["image_count"] = result.image_count;
    entry["reprojection_error"] = rounded6(result.reprojection_error);
    entry["timestamp"] = result.timestamp;
    entries.push_back(std::move(entry));
  }
  document["results"] = std::move(entries);

  try {
    io::writeWholeFileAtomically(path, document.dump(2), "io");
  } catch (const io::CannotCreateFile&) {
    throw std::runtime_error("[Benchmark] cannot open " + path + " for writing");
  }
  logging::log(logging::Level::Info, "[Benchmark] Results written to " + path);
}

}  // namespace vemo::quality
