#include "vemo/io/image_files.hpp"

#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "vemo/io/whole_file.hpp"

namespace vemo::io {

void writeImage(const std::string& path, const cv::Mat& image) {
  if (image.empty()) throw std::invalid_argument("io: cannot write an empty image to " + path);
  std::vector<uchar> encoded;
  // Encoding in memory first lets the file be replaced atomically, like every other
  // file this library writes.
  bool ok = false;
  try {
    ok = cv::imencode(std::filesystem::path(path).extension().string(), image, encoded);
  } catch (const cv::Exception&) {
    ok = false;
  }
  if (!ok) throw std::runtime_error("io: cv::imwrite failed for " + path);
  writeWholeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(encoded.data()), encoded.size()),
                           "io");
}

cv::Mat readImage(const std::string& path) {
  cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  if (image.empty()) throw std::runtime_error("io: cv::imread returned an empty image for " + path);
  return image;
}

void requireOneAnnotationPerImage(const std::string& operation, std::size_t annotated_count, std::size_t image_count,
                                  const std::string& item) {
  if (annotated_count != 0 && annotated_count != image_count) {
    throw std::invalid_argument(operation + ": annotated_images must be empty or hold one image per " + item + " (" +
                                std::to_string(annotated_count) + " for " + std::to_string(image_count) + " " + item +
                                "s)");
  }
}

std::string zeroPaddedIndex(int index) {
  std::ostringstream text;
  text << std::setfill('0') << std::setw(2) << index;
  return text.str();
}

}  // namespace vemo::io
