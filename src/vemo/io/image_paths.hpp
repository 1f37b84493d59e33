#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Images named the way a user names them on a command line.
namespace vemo::io {

// The images of `paths`, each entry a file, a folder (its .png, .jpg and .jpeg files,
// any letter case, not descending into sub-folders) or a glob pattern (* and ? in the file
// name), as 3-channel 8-bit BGR, with the path each was read from. Folder and pattern
// matches come in sorted order; a file named twice is read once. Throws
// std::invalid_argument "loadImages: no paths given" for an empty list, and
// std::runtime_error "io: no image file matches <entry>" for a folder or pattern without
// images and "io: cv::imread returned an empty image for <path>" for a file that cannot
// be read.
std::pair<std::vector<cv::Mat>, std::vector<std::filesystem::path>> loadImages(const std::vector<std::string>& paths);

}  // namespace vemo::io
