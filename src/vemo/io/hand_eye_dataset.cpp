#include "vemo/io/hand_eye_dataset.hpp"

#include <stdexcept>

#include "vemo/core/logging.hpp"
#include "vemo/io/image_files.hpp"
#include "vemo/io/pose_lists.hpp"
#include "vemo/io/storage/files_together.hpp"

namespace vemo::io {

namespace fs = std::filesystem;

namespace {

const char* const kPoseArchive = "calibration_data.npz";

std::string imageName(std::size_t index, const std::string& suffix) {
  return "image_" + zeroPaddedIndex(static_cast<int>(index)) + suffix;
}

}  // namespace

void saveHandEyeDataset(const fs::path& data_dir, const std::vector<cv::Mat>& images,
                        const std::vector<cv::Mat>& robot_T_tcp_list,
                        const std::vector<cv::Mat>& annotated_images) {
  requireOneAnnotationPerImage("saveHandEyeDataset", annotated_images.size(), images.size(), "image");
  requireSavableImages("saveHandEyeDataset", "image_list", images);
  requireSavableImages("saveHandEyeDataset", "annotated_images", annotated_images);
  fs::create_directories(data_dir);
  std::vector<GroupFile> files{poseArchiveFile(data_dir, kPoseArchive, flattenPoseList(robot_T_tcp_list))};
  for (std::size_t i = 0; i < images.size(); ++i) {
    files.push_back(pngFile(data_dir, imageName(i, ".png"), images[i]));
    if (!annotated_images.empty()) files.push_back(pngFile(data_dir, imageName(i, "_annotated.png"), annotated_images[i]));
  }
  saveFilesTogether(data_dir, files);
  logging::log(logging::Level::Success,
               "Saved " + std::to_string(images.size()) + " images to " + data_dir.native());
}

std::pair<std::vector<cv::Mat>, std::vector<cv::Mat>> loadHandEyeDataset(const fs::path& data_dir,
                                                                          const std::string& image_format) {
  const logging::HeldLines logged_after_unlocking;
  const FolderLock lock = settledFolder(data_dir);
  std::vector<cv::Mat> poses = readPoseArchive(data_dir / kPoseArchive);
  std::vector<fs::path> paths;
  for (std::size_t i = 0; i < poses.size(); ++i) paths.push_back(data_dir / imageName(i, "." + image_format));
  // Images that exist pair with the first poses only when none is missing before another.
  std::size_t count = 0;
  while (count < paths.size() && fs::exists(paths[count])) ++count;
  for (std::size_t i = count + 1; i < paths.size(); ++i) {
    if (fs::exists(paths[i])) throw std::runtime_error("io: missing image file " + paths[count].string());
  }
  paths.resize(count);
  std::vector<cv::Mat> images = readImages(paths);
  logging::log(logging::Level::Success,
               "Loaded " + std::to_string(images.size()) + " images from " + data_dir.native());
  return {std::move(images), std::move(poses)};
}

}  // namespace vemo::io
