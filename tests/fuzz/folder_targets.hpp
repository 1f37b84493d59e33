#pragma once

// The fuzz targets of the dataset folders, shared by the libFuzzer programs and the test
// that replays the seed corpus. An input describes a folder, which the target builds in
// a scratch directory and then loads:
//   entries separated by the line "%%" ("\n%%\n"); the first holds the loader's parameter (the camera
//   count in decimal, or the image format), each other one a file: "path" or
//   "path\ncontent". Without content the file is a valid 2x2 grey PNG whose value is the
//   entry's number (mod 256), so that the order frames load in can be checked.
// Paths are relative, at most two levels ("cam_00/image_04.png", ".vemo-save-pending").
// Whatever the folder holds, loading either fails with an exception or returns what the
// files say, and nothing outside the folder is touched.

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vemo/io/frame_names.hpp"
#include "vemo/io/hand_eye_dataset.hpp"
#include "vemo/io/multi_camera_dataset.hpp"

namespace vemo::fuzz {

namespace folder_fuzzing {

namespace fs = std::filesystem;

inline void check(bool holds) {
  if (!holds) std::abort();
}

struct Folder {
  std::string parameter;
  std::map<std::string, int> png_values;  // path -> grey value of the files written as valid PNGs
  bool committed_journal = false;          // finishing it may move files over others
};

inline const std::string& pngOfValue(int value) {
  static const std::vector<std::string> pngs = [] {
    std::vector<std::string> encoded;
    for (int v = 0; v < 256; ++v) {
      std::vector<uchar> bytes;
      cv::imencode(".png", cv::Mat(2, 2, CV_8UC1, cv::Scalar(v)), bytes);
      encoded.emplace_back(bytes.begin(), bytes.end());
    }
    return encoded;
  }();
  return pngs[static_cast<std::size_t>(value)];
}

inline bool usablePath(std::string_view path) {
  int components = 0;
  for (std::size_t start = 0; start <= path.size(); ++components) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == ".." || part.size() > 200) return false;
    start = slash + 1;
  }
  return components <= 2;
}

// The scratch directory of this process: "data" is rebuilt for every input, "sentinel"
// beside it must never change.
inline const fs::path& scratch() {
  static const fs::path root = [] {
    const fs::path path = fs::temp_directory_path() / ("vemo_folder_fuzz_" + std::to_string(::getpid()));
    fs::create_directories(path);
    std::ofstream(path / "sentinel") << "keep";
    return path;
  }();
  return root;
}

// Removes the scratch directory; the targets must not run after it.
inline void removeScratch() { fs::remove_all(scratch()); }

inline Folder buildFolder(const std::uint8_t* data, std::size_t size, const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  Folder built;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view separator = "\n%%\n";
  std::size_t start = 0;
  for (int entry = 0; start <= input.size(); ++entry) {
    const std::size_t end = std::min(input.find(separator, start), input.size());
    const std::string_view text = input.substr(start, end - start);
    start = end + separator.size();
    if (entry == 0) {
      built.parameter = std::string(text);
      continue;
    }
    const std::size_t newline = text.find('\n');
    const std::string path(text.substr(0, newline));
    if (!usablePath(path)) continue;
    std::error_code error;
    fs::create_directories((folder / path).parent_path(), error);
    std::ofstream file(folder / path, std::ios::binary);
    if (!file) continue;
    built.committed_journal = built.committed_journal || path == ".vemo-save-committed";
    if (newline == std::string_view::npos) {
      file << pngOfValue(entry % 256);
      built.png_values[path] = entry % 256;
    } else {
      file << text.substr(newline + 1);
      built.png_values.erase(path);
    }
  }
  return built;
}

inline void checkNothingOutsideChanged() {
  std::ifstream sentinel(scratch() / "sentinel");
  std::string content;
  sentinel >> content;
  check(content == "keep");
  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch())) {
    (void)entry;
    ++entries;
  }
  check(entries == 2);
}

// A load that succeeded finished any interrupted save it found.
inline void checkNoJournalLeft(const fs::path& folder) {
  check(!fs::exists(folder / ".vemo-save-committed") && !fs::exists(folder / ".vemo-save-pending"));
}

}  // namespace folder_fuzzing

inline void multiCameraFolderNames(const std::uint8_t* data, std::size_t size) {
  using namespace folder_fuzzing;
  const fs::path folder = scratch() / "data";
  const Folder built = buildFolder(data, size, folder);
  const long long requested = std::strtoll(built.parameter.c_str(), nullptr, 10);
  const int cameras = static_cast<int>(std::clamp<long long>(requested, INT_MIN, INT_MAX));

  // Every capture number the counter may see lies below what it returns.
  try {
    const int next = io::nextMultiCameraCaptureIndex(folder, cameras);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const fs::path relative = fs::relative(entry.path(), folder);
      const auto camera = io::cameraFolderNumber(relative.begin()->string());
      const std::string name = relative.filename().string();
      if (std::distance(relative.begin(), relative.end()) != 2 || !camera || *camera >= cameras ||
          !io::isFrameFile(name)) {
        continue;
      }
      const std::string stem = relative.stem().string();
      const std::string tail = stem.substr(stem.rfind('_') + 1);
      if (!tail.empty() && tail.size() <= 10 && tail.find_first_not_of("0123456789") == std::string::npos) {
        check(std::stoll(tail) < next);
      }
    }
  } catch (const std::exception&) {
  }

  std::vector<std::vector<cv::Mat>> frames;
  try {
    frames = io::loadMultiCameraDataset(folder, cameras);
  } catch (const std::exception&) {
    checkNothingOutsideChanged();
    return;
  }
  checkNothingOutsideChanged();
  if (cameras > 0) checkNoJournalLeft(folder);  // without cameras the folder is not even looked at
  check(frames.size() == static_cast<std::size_t>(std::max(cameras, 0)));
  for (std::size_t camera = 0; camera < frames.size(); ++camera) {
    check(frames[camera].size() == frames[0].size() && !frames[camera].empty());
    // Frames come in capture order: the generated PNGs show which file each one is.
    const fs::path directory = io::cameraDirectory({}, static_cast<int>(camera));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder / directory)) {
      if (io::isFrameFile(entry.path().filename().string())) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return io::capturesInOrder(a, b); });
    check(names.size() == frames[camera].size());
    for (std::size_t k = 0; k < names.size(); ++k) {
      const cv::Mat& frame = frames[camera][k];
      check(frame.type() == CV_8UC3 && !frame.empty());
      const auto value = built.png_values.find((directory / names[k]).generic_string());
      if (value != built.png_values.end() && !built.committed_journal) check(frame.at<cv::Vec3b>(0, 0)[0] == value->second);
    }
  }
}

inline void handEyeDatasetLoader(const std::uint8_t* data, std::size_t size) {
  using namespace folder_fuzzing;
  const fs::path folder = scratch() / "data";
  const Folder built = buildFolder(data, size, folder);
  std::pair<std::vector<cv::Mat>, std::vector<cv::Mat>> loaded;
  try {
    loaded = io::loadHandEyeDataset(folder, built.parameter);
  } catch (const std::exception&) {
    checkNothingOutsideChanged();
    return;
  }
  checkNothingOutsideChanged();
  checkNoJournalLeft(folder);
  const auto& [images, poses] = loaded;
  check(images.size() <= poses.size());
  for (const cv::Mat& pose : poses) check(pose.rows == 4 && pose.cols == 4 && pose.type() == CV_64F);
  // The images are the files image_00, image_01, ... up to the first missing one, and
  // none exists after it.
  for (std::size_t i = 0; i < poses.size(); ++i) {
    const std::string name = (i < 10 ? "image_0" : "image_") + std::to_string(i) + "." + built.parameter;
    const bool present = fs::exists(folder / name);
    check(present == (i < images.size()));
    if (!present) continue;
    check(images[i].type() == CV_8UC3 && !images[i].empty());
    const auto value = built.png_values.find(name);
    if (value != built.png_values.end() && !built.committed_journal) check(images[i].at<cv::Vec3b>(0, 0)[0] == value->second);
  }
}

}  // namespace vemo::fuzz
