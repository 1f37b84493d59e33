#include "vemo/io/multi_camera_dataset.hpp"

#include <algorithm>
#include <climits>
#include <optional>
#include <stdexcept>
#include <string>

#include "vemo/core/logging.hpp"
#include "vemo/io/frame_names.hpp"
#include "vemo/io/image_files.hpp"
#include "vemo/io/pose_lists.hpp"
#include "vemo/io/storage/files_together.hpp"

namespace vemo::io {

namespace fs = std::filesystem;

namespace {

const char* const kPoseArchive = "calibration_data.npz";

bool isDirectory(const fs::path& path) { return fs::status(path).type() == fs::file_type::directory; }

// The first frame file, in capture order, that a camera lacks although another camera
// holds it: directories[c] / name. Nothing when all hold the same names. Each camera's
// names are in capture order, equally many for every camera.
std::optional<fs::path> firstMissingFrame(const std::vector<fs::path>& directories,
                                          const std::vector<std::vector<std::string>>& names) {
  for (std::size_t k = 0; k < names.front().size(); ++k) {
    std::string first = names.front()[k];
    for (const std::vector<std::string>& camera : names) {
      if (capturesInOrder(camera[k], first)) first = camera[k];
    }
    // Before k every camera holds the same names, so one whose k-th name is later lacks `first`.
    for (std::size_t camera = 0; camera < names.size(); ++camera) {
      if (names[camera][k] != first) return directories[camera] / first;
    }
  }
  return std::nullopt;
}

// std::stoi's own message is only its name; the file and the cause are added after it.
int captureNumber(const std::string& digits, const fs::path& file) {
  try {
    return std::stoi(digits);
  } catch (const std::out_of_range&) {
    throw std::out_of_range("stoi: io: nextMultiCameraCaptureIndex: capture number " + digits + " of " +
                            file.string() + " is beyond the int range");
  }
}

}  // namespace

fs::path cameraDirectory(const fs::path& data_dir, int camera) {
  return data_dir / ("cam_" + zeroPaddedIndex(camera));
}

void requireCameraCount(const std::string& operation, int count) {
  if (count < 0) throw std::length_error(operation + ": negative camera count");
}

int nextMultiCameraCaptureIndex(const fs::path& data_dir, int num_cameras) {
  requireCameraCount("nextMultiCameraCaptureIndex", num_cameras);
  if (num_cameras == 0 || !isDirectory(data_dir)) return 0;
  const FolderLock lock = settledFolder(data_dir);
  int largest = -1;
  // The folders present are few, the cameras asked for may be billions: walk the former.
  for (const fs::directory_entry& folder : fs::directory_iterator(data_dir)) {
    const std::optional<int> camera = cameraFolderNumber(folder.path().filename().string());
    if (!camera || *camera >= num_cameras || !isDirectory(folder.path())) continue;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) {
      if (!isFrameFile(entry.path().filename().string())) continue;
      const std::string stem = entry.path().stem().string();
      const std::string tail = stem.substr(stem.rfind('_') + 1);
      if (tail.empty() || tail.find_first_not_of("0123456789") != std::string::npos) continue;
      largest = std::max(largest, captureNumber(tail, entry.path()));
    }
  }
  if (largest == INT_MAX) throw std::out_of_range("nextMultiCameraCaptureIndex: no capture number after INT_MAX");
  return largest + 1;
}

void saveMultiCameraCapture(const fs::path& data_dir, const std::vector<cv::Mat>& frames, int capture_index,
                            const std::vector<cv::Mat>& annotated_images) {
  if (capture_index < 0) throw std::invalid_argument("saveMultiCameraCapture: capture_index must not be negative");
  requireOneAnnotationPerImage("saveMultiCameraCapture", annotated_images.size(), frames.size(), "frame");
  requireSavableImages("saveMultiCameraCapture", "frames", frames);
  requireSavableImages("saveMultiCameraCapture", "annotated_images", annotated_images);
  const int cameras = static_cast<int>(frames.size());
  for (int camera = 0; camera < cameras; ++camera) fs::create_directories(cameraDirectory(data_dir, camera));
  const std::string index = zeroPaddedIndex(capture_index);
  std::vector<GroupFile> files;
  for (int camera = 0; camera < cameras; ++camera) {
    const std::string folder = cameraDirectory({}, camera).string() + "/";
    files.push_back(pngFile(data_dir, folder + "image_" + index + ".png", frames[camera]));
    if (!annotated_images.empty()) {
      files.push_back(pngFile(data_dir, folder + "image_" + index + "_annotated.png", annotated_images[camera]));
    }
  }
  // Written as one change: every camera folder holds the capture, or none does.
  saveFilesTogether(data_dir, files);
  logging::log(logging::Level::Success, "Saved capture #" + std::to_string(capture_index) + " (" +
                                            std::to_string(frames.size()) + " cameras)");
}

void saveMultiCameraRobotPoses(const fs::path& data_dir, const std::vector<cv::Mat>& robot_T_tcp_list,
                               int num_cameras) {
  const std::vector<double> flattened = flattenPoseList(robot_T_tcp_list);
  requireCameraCount("saveMultiCameraRobotPoses", num_cameras);
  std::vector<GroupFile> files;
  for (int camera = 0; camera < num_cameras; ++camera) {
    fs::create_directories(cameraDirectory(data_dir, camera));
    files.push_back(poseArchiveFile(data_dir, cameraDirectory({}, camera).string() + "/" + kPoseArchive, flattened));
  }
  // As one change: a kill never leaves cameras holding different poses.
  saveFilesTogether(data_dir, files);
}

std::vector<cv::Mat> loadMultiCameraRobotPoses(const fs::path& data_dir) {
  if (!isDirectory(data_dir)) return {};
  const FolderLock lock = settledFolder(data_dir);
  std::vector<fs::path> camera_directories;
  for (const fs::directory_entry& entry : fs::directory_iterator(data_dir)) {
    if (entry.is_directory() && entry.path().filename().string().rfind("cam_", 0) == 0) {
      camera_directories.push_back(entry.path());
    }
  }
  std::sort(camera_directories.begin(), camera_directories.end());
  for (const fs::path& directory : camera_directories) {
    if (fs::exists(directory / kPoseArchive)) return readPoseArchive(directory / kPoseArchive);
  }
  return {};
}

std::vector<std::vector<cv::Mat>> loadMultiCameraDataset(const fs::path& data_dir, int num_cameras) {
  std::vector<std::vector<cv::Mat>> cameras;
  if (num_cameras <= 0) return cameras;
  std::vector<fs::path> directories;
  std::vector<std::vector<std::string>> names_per_camera;
  const logging::HeldLines logged_after_unlocking;
  const FolderLock lock = settledFolder(data_dir);
  for (int camera = 0; camera < num_cameras; ++camera) {
    const fs::path directory = cameraDirectory(data_dir, camera);
    if (!isDirectory(directory)) throw std::runtime_error("io: missing camera folder: " + directory.string());
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
      if (isFrameFile(entry.path().filename().string())) names.push_back(entry.path().filename().string());
    }
    if (names.empty()) throw std::runtime_error("io: no image_*.png files in " + directory.string());
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return capturesInOrder(a, b);
    });
    std::vector<fs::path> paths;
    for (const std::string& name : names) paths.push_back(directory / name);
    std::vector<cv::Mat> frames = readImages(paths);
    logging::log(logging::Level::Success,
                 "Loaded " + std::to_string(frames.size()) + " frames from " + directory.native());
    cameras.push_back(std::move(frames));
    if (cameras.size() > 1 && cameras.back().size() != cameras[cameras.size() - 2].size()) {
      throw std::runtime_error("io: all cameras must have the same frame count; captures must be synchronized");
    }
    directories.push_back(directory);
    names_per_camera.push_back(std::move(names));
  }
  // Equal counts pair frame k of every camera, which must then be of one capture.
  if (const std::optional<fs::path> missing = firstMissingFrame(directories, names_per_camera)) {
    throw std::runtime_error("io: missing frame file " + missing->string() + "; captures must be synchronized");
  }
  return cameras;
}

}  // namespace vemo::io
