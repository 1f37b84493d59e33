#include "vemo/io/image_files.hpp"

#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>

#include <iomanip>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "vemo/core/parallel_map.hpp"
#include "vemo/io/storage/whole_file.hpp"

namespace vemo::io {

void requireSavableImages(const std::string& operation, const std::string& list, const std::vector<cv::Mat>& images) {
  for (std::size_t i = 0; i < images.size(); ++i) {
    const cv::Mat& image = images[i];
    const std::string which = operation + ": " + list + "[" + std::to_string(i) + "]";
    if (image.empty()) throw std::invalid_argument(which + " is empty");
    const int channels = image.channels();
    if (image.dims != 2 || image.depth() != CV_8U || (channels != 1 && channels != 3 && channels != 4)) {
      throw std::invalid_argument(which + " is " + cv::typeToString(image.type()) +
                                  "; only 8-bit images with 1, 3 or 4 channels are saved (all load as 3-channel BGR)");
    }
  }
}

GroupFile pngFile(const std::filesystem::path& folder, const std::string& name, const cv::Mat& image) {
  const std::string path = (folder / name).string();
  const auto failed = [path](const WriteFailure& cause) {
    return "io: cv::imwrite failed for " + path + fullDiskNote(cause);
  };
  return {name,
          [image, failed]() {
            std::vector<uchar> encoded;
            bool ok = false;
            try {
              ok = cv::imencode(".png", image, encoded);
            } catch (const cv::Exception&) {
              ok = false;
            }
            if (!ok) throw std::runtime_error(failed(WriteFailure{false, 0}));
            return std::string(encoded.begin(), encoded.end());
          },
          failed};
}

cv::Mat readImage(const std::string& path) {
  // cv::imread would wait for a writer on a named pipe, and read a device until memory ends.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw std::runtime_error(notARegularFile("io", path));
  }
  cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  if (image.empty()) throw std::runtime_error("io: cv::imread returned an empty image for " + path);
  return image;
}

std::vector<cv::Mat> readImages(const std::vector<std::filesystem::path>& paths) {
  auto decoded = parallelMap(paths.size(), [&](std::size_t i) { return readImage(paths[i].string()); });
  std::vector<cv::Mat> images;
  images.reserve(decoded.size());
  for (auto& image : decoded) images.push_back(std::move(image.take()));
  return images;
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
