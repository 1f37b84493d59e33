#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "vemo/io/storage/files_together.hpp"

// Image files of the dataset directories and the numbering in their names.
namespace vemo::io {

// Throws std::invalid_argument "<operation>: <list>[<i>] ..." for the first image that
// would not read back as it was saved: empty, or not 8-bit with 1, 3 or 4 channels (a
// grey image comes back as BGR, an alpha channel is dropped; these are the conversions
// the loaders promise). Run before anything is written.
void requireSavableImages(const std::string& operation, const std::string& list, const std::vector<cv::Mat>& images);

// The PNG file `name` (relative to `folder`) holding `image`, for saveFilesTogether. Any
// failure to write it is std::runtime_error "io: cv::imwrite failed for <folder/name>",
// ending in ": no space left on device" for a full disk.
GroupFile pngFile(const std::filesystem::path& folder, const std::string& name, const cv::Mat& image);

// The image at `path` as 3-channel 8-bit BGR, whatever was stored (grey images are
// expanded). Throws std::runtime_error "io: cv::imread returned an empty image for <path>"
// when the file is missing or cannot be decoded, "io: cannot read <path>: not a regular
// file" for what is not one after following symbolic links (a named pipe, a device).
cv::Mat readImage(const std::string& path);

// readImage of every path, decoded on OpenCV's threads, in path order. When several fail,
// the exception is the lowest index's, as a loop of readImage would raise.
std::vector<cv::Mat> readImages(const std::vector<std::filesystem::path>& paths);

// Checks, before a dataset writer writes anything, that annotated copies are either
// absent or one per image. Throws std::invalid_argument
// "<operation>: annotated_images must be empty or hold one image per <item> (...)".
void requireOneAnnotationPerImage(const std::string& operation, std::size_t annotated_count, std::size_t image_count,
                                  const std::string& item);

// `index` in decimal, zero-filled to two digits: 0 -> "00", 7 -> "07", 100 -> "100".
std::string zeroPaddedIndex(int index);

}  // namespace vemo::io
