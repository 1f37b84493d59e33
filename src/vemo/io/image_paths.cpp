#include "vemo/io/image_paths.hpp"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include "vemo/io/image_files.hpp"

namespace vemo::io {

namespace fs = std::filesystem;

namespace {

bool isImageFileName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".png" || extension == ".jpg" || extension == ".jpeg";
}

bool isPattern(const std::string& entry) { return entry.find_first_of("*?") != std::string::npos; }

// The files one entry names, in the order they are read.
std::vector<fs::path> filesOf(const std::string& entry) {
  std::vector<fs::path> files;
  if (isPattern(entry)) {
    // cv::glob raises its own error for a folder that does not exist: that is no match.
    const fs::path folder = fs::path(entry).parent_path();
    std::vector<cv::String> matches;
    if (folder.empty() || fs::is_directory(folder)) cv::glob(entry, matches, false);
    for (const cv::String& match : matches) files.emplace_back(match);
  } else if (fs::is_directory(entry)) {
    for (const fs::directory_entry& item : fs::directory_iterator(entry)) {
      if (item.is_regular_file() && isImageFileName(item.path())) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
  } else {
    return {fs::path(entry)};
  }
  if (files.empty()) throw std::runtime_error("io: no image file matches " + entry);
  return files;
}

}  // namespace

std::pair<std::vector<cv::Mat>, std::vector<fs::path>> loadImages(const std::vector<std::string>& paths) {
  if (paths.empty()) throw std::invalid_argument("loadImages: no paths given");
  std::pair<std::vector<cv::Mat>, std::vector<fs::path>> loaded;
  std::set<fs::path> seen;
  for (const std::string& entry : paths) {
    for (const fs::path& file : filesOf(entry)) {
      if (!seen.insert(file.lexically_normal()).second) continue;
      loaded.first.push_back(readImage(file.string()));
      loaded.second.push_back(file);
    }
  }
  return loaded;
}

}  // namespace vemo::io
