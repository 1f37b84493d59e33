#include "vemo/io/hand_eye_dataset.hpp"

#include <stdexcept>

#include "vemo/core/logging.hpp"
#include "vemo/io/image_files.hpp"
#include "vemo/io/pose_lists.hpp"

namespace vemo::io {

namespace fs = std::filesystem;

void saveHandEyeDataset(const fs::path& data_dir, const std::vector<cv::Mat>& images,
                        const std::vector<cv::Mat>& robot_T_tcp_list,
                        const std::vector<cv::Mat>& annotated_images) {
  requireOneAnnotationPerImage("saveHandEyeDataset", annotated_images.size(), images.size(), "image");
  fs::create_directories(data_dir);
  writePoseArchive(data_dir / "calibration_data.npz", flattenPoseList(robot_T_tcp_list));
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::string index = zeroPaddedIndex(static_cast<int>(i));
    writeImage((data_dir / ("image_" + index + ".png")).string(), images[i]);
    if (!annotated_images.empty()) {
      writeImage((data_dir / ("image_" + index + "_annotated.png")).string(), annotated_images[i]);
    }
  }
  logging::log(logging::Level::Success,
               "Saved " + std::to_string(images.size()) + " images to " + data_dir.native());
}

std::pair<std::vector<cv::Mat>, std::vector<cv::Mat>> loadHandEyeDataset(const fs::path& data_dir,
                                                                          const std::string& image_format) {
  std::vector<cv::Mat> poses = readPoseArchive(data_dir / "calibration_data.npz");
  std::vector<cv::Mat> images;
  for (std::size_t i = 0; i < poses.size(); ++i) {
    const fs::path path = data_dir / ("image_" + zeroPaddedIndex(static_cast<int>(i)) + "." + image_format);
    if (fs::exists(path)) images.push_back(readImage(path.string()));
  }
  logging::log(logging::Level::Success,
               "Loaded " + std::to_string(images.size()) + " images from " + data_dir.native());
  return {std::move(images), std::move(poses)};
}

}  // namespace vemo::io
