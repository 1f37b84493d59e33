// MultiCameraCalibrator::calibrateSubsets: every combination of cameras as a rig of its own.

#include <stdexcept>
#include <utility>
#include <string>

#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/calibration/rig/multi_camera_per_camera_work.hpp"
#include "vemo/core/logging.hpp"

namespace vemo::calibration {

namespace {

// The k-element combinations of 0 .. n-1 in lexicographic order.
std::vector<std::vector<int>> combinations(int n, int k) {
  std::vector<std::vector<int>> all;
  std::vector<int> chosen(static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) chosen[static_cast<std::size_t>(i)] = i;
  while (true) {
    all.push_back(chosen);
    int i = k - 1;
    while (i >= 0 && chosen[static_cast<std::size_t>(i)] >= n - k + i) --i;
    if (i < 0) return all;
    ++chosen[static_cast<std::size_t>(i)];
    for (int j = i + 1; j < k; ++j) chosen[static_cast<std::size_t>(j)] = chosen[static_cast<std::size_t>(j - 1)] + 1;
  }
}

}  // namespace

std::vector<SubsetResult> MultiCameraCalibrator::calibrateSubsets(const std::vector<std::vector<cv::Mat>>& image_lists,
                                                                  const std::vector<int>& subset_sizes,
                                                                  int frame_index) {
  for (int size : subset_sizes) {
    if (size < 1) {
      throw std::invalid_argument("MultiCameraCalibrator::calibrateSubsets: subset sizes must be >= 1, got " +
                                  std::to_string(size));
    }
  }
  if (static_cast<int>(image_lists.size()) != num_cameras_) {
    throw std::invalid_argument("MultiCameraCalibrator: expected " + std::to_string(num_cameras_) +
                                " image lists, got " + std::to_string(image_lists.size()));
  }
  PerCameraWork work(image_lists, target_, options_);
  std::vector<SubsetResult> results;
  for (int size : subset_sizes) {
    if (size > num_cameras_) {
      logging::log(logging::Level::Warning, "Skipping subsets of size " + std::to_string(size) + ": only " +
                                                std::to_string(num_cameras_) + " cameras.");
      continue;
    }
    for (const std::vector<int>& subset : combinations(num_cameras_, size)) {
      logging::log(logging::Level::Info, "Calibrating subset of size " + std::to_string(size));
      PerCameraWork subset_work = work.subset(subset);
      MultiCameraCalibrator calibrator(target_, size, 0, options_, stereo_calibrate_flags_);
      SubsetResult entry;
      entry.subset = subset;
      entry.result = calibrator.calibrateWith(subset_work);
      try {
        entry.triangulation = calibrator.triangulateWith(entry.result, subset_work, frame_index);
        entry.has_triangulation = true;
      } catch (const std::exception& error) {
        logging::log(logging::Level::Warning, std::string("Triangulation failed for subset: ") + error.what());
      }
      results.push_back(std::move(entry));
    }
  }
  last_subsets_ = results;
  return results;
}

}  // namespace vemo::calibration
