#pragma once

#include <opencv2/core.hpp>

#include <string>

// Image files of the dataset directories and the numbering in their names.
namespace vemo::io {

// Encodes `image` in the format its extension names (".png", ".jpg", ...) and replaces
// the file at `path` with it atomically. Throws std::invalid_argument
// "io: cannot write an empty image to <path>" and std::runtime_error
// "io: cv::imwrite failed for <path>" when OpenCV cannot encode it.
void writeImage(const std::string& path, const cv::Mat& image);

// The image at `path` as 3-channel 8-bit BGR, whatever was stored (grey images are
// expanded). Throws std::runtime_error "io: cv::imread returned an empty image for <path>"
// when the file is missing or cannot be decoded.
cv::Mat readImage(const std::string& path);

// Checks, before a dataset writer writes anything, that annotated copies are either
// absent or one per image. Throws std::invalid_argument
// "<operation>: annotated_images must be empty or hold one image per <item> (...)".
void requireOneAnnotationPerImage(const std::string& operation, std::size_t annotated_count, std::size_t image_count,
                                  const std::string& item);

// `index` in decimal, zero-filled to two digits: 0 -> "00", 7 -> "07", 100 -> "100".
std::string zeroPaddedIndex(int index);

}  // namespace vemo::io
