#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "vemo/io/npz.hpp"
#include "vemo/io/storage/files_together.hpp"

// Robot pose lists (robot_T_tcp, 4x4 homogeneous transforms) as stored in the datasets:
// the NPZ archive "calibration_data.npz" with one float64 member "robot_T_tcp_list" of
// shape (N, 4, 4), pose k at index k, each matrix row-major.
namespace vemo::io {

// The 16 values of every pose, row by row, after conversion to float64 (any numeric
// depth is accepted). Throws std::invalid_argument "io: expected 4x4 pose matrices" for a
// matrix that is not 4x4 with one channel. An empty list gives an empty vector.
std::vector<double> flattenPoseList(const std::vector<cv::Mat>& poses);

// The poses of an (N, 4, 4) array as new 4x4 CV_64F matrices (none for N = 0). Throws
// std::runtime_error "io: robot_T_tcp_list npz entry is not shaped (N, 4, 4)" otherwise.
std::vector<cv::Mat> poseListFromNpy(const detail::NpyArray& array);

// The archive `name` (relative to `folder`) of flattened poses, for saveFilesTogether,
// failing with the messages of saveNpz.
GroupFile poseArchiveFile(const std::filesystem::path& folder, const std::string& name,
                          const std::vector<double>& flattened_poses);

// The pose list of the archive `file`; the NPZ reader's errors pass through.
std::vector<cv::Mat> readPoseArchive(const std::filesystem::path& file);

}  // namespace vemo::io
