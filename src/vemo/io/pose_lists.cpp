#include "vemo/io/pose_lists.hpp"

#include <cstring>
#include <stdexcept>

#include "vemo/tf/tf.hpp"

namespace vemo::io {

namespace {

const char* const kPoseKey = "robot_T_tcp_list";
const tf::PoseRequirements kShapeOnly{false, false, false, false};

}  // namespace

std::vector<double> flattenPoseList(const std::vector<cv::Mat>& poses) {
  std::vector<double> values;
  values.reserve(16 * poses.size());
  for (const cv::Mat& pose : poses) {
    // Any 4x4 matrix is stored as given; a multi-channel one would hold more than 16
    // values behind its 4x4 size.
    if (tf::findPoseDefect(pose, kShapeOnly) != tf::PoseDefect::None) {
      throw std::invalid_argument("io: expected 4x4 pose matrices");
    }
    cv::Mat converted;
    pose.convertTo(converted, CV_64F, 1.0, 0.0);
    for (int r = 0; r < 4; ++r) {
      const double* row = converted.ptr<double>(r);
      values.insert(values.end(), row, row + 4);
    }
  }
  return values;
}

std::vector<cv::Mat> poseListFromNpy(const detail::NpyArray& array) {
  if (array.shape.size() != 3 || array.shape[1] != 4 || array.shape[2] != 4 ||
      array.data.size() % 16 != 0 || array.data.size() / 16 != array.shape[0]) {
    throw std::runtime_error("io: robot_T_tcp_list npz entry is not shaped (N, 4, 4)");
  }
  const std::size_t count = array.shape[0];
  std::vector<cv::Mat> poses;
  poses.reserve(count);
  for (std::size_t k = 0; k < count; ++k) {
    cv::Mat pose(4, 4, CV_64F);
    std::memcpy(pose.ptr<double>(), array.data.data() + 16 * k, 16 * sizeof(double));
    poses.push_back(pose);
  }
  return poses;
}

GroupFile poseArchiveFile(const std::filesystem::path& folder, const std::string& name,
                          const std::vector<double>& flattened_poses) {
  const std::string path = (folder / name).string();
  return {name,
          [flattened_poses]() {
            return detail::npzArchive(kPoseKey, {flattened_poses.size() / 16, 4, 4}, flattened_poses);
          },
          [path](const WriteFailure& cause) { return describeWriteFailure("npz", path, cause); }};
}

std::vector<cv::Mat> readPoseArchive(const std::filesystem::path& file) {
  return poseListFromNpy(detail::loadNpz(file.string(), kPoseKey));
}

}  // namespace vemo::io
