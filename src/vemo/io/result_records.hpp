#pragma once

// Folder io/: the formats on top of io/storage/: NPZ, the dataset folders, pose files and
// the JSON result records (here).

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

// Calibration results as JSON files: "multi_camera_calibration.json" for a camera rig and
// "hand_eye.json" for a hand-eye calibration. The text is pretty-printed with a 2-space
// indent, keys in byte-wise sorted order, no newline after the closing brace. Matrices
// are arrays of rows of numbers (float64); distortion coefficients one flat array per
// camera. NaN and infinities are written as null and null elements read back as NaN, so
// every file written here loads again.
//
// Loading throws nlohmann::json's exceptions for syntax errors, a missing required key
// ("key '...' not found") and values of the wrong type, and std::runtime_error
// "io: ..." for matrix rows of different lengths and integers beyond the int range.
namespace vemo::io {

struct MultiCameraCalibrationRecord {
  int reference_index = 0;  // camera whose frame is the rig reference
  int num_cameras = 0;
  std::vector<cv::Mat> intrinsic_matrices;       // per camera, 3x3
  std::vector<cv::Mat> distortion_coefficients;  // per camera; read back as 1 x n CV_64F
  // Per camera, 4x4 transform from the camera frame into the reference camera frame;
  // an empty matrix (stored as null) when unknown.
  std::vector<cv::Mat> reference_T_camera_list;
  std::vector<double> intrinsic_reprojection_errors;  // pixels per camera; NaN when missing
  std::vector<double> pair_reprojection_errors;       // pixels per camera against the reference; NaN when missing
};

struct HandEyeResultRecord {
  int reference_index = 0;  // the eye-in-hand run stores 0
  int num_cameras = 0;      // the eye-in-hand run stores 1
  std::string method;       // hand-eye method name; empty when not recorded (stored as null)
  int num_frames_used = -1;   // frames in the solution; negative when not recorded (null)
  int num_frames_total = -1;  // frames supplied; negative when not recorded (null)
  // Per camera, 4x4 transform from the camera frame into the tool centre point frame;
  // an empty matrix (stored as null) when unknown.
  std::vector<cv::Mat> tcp_T_camera_list;
};

// Writes the record and returns the path written: output_path / the default file name
// when output_path is an existing directory or has no extension (the directory is then
// created), otherwise output_path itself (its parent is created; a bare file name is
// written in the current directory). The file is replaced atomically. Throws
// std::runtime_error "io: cannot open <target> for writing" or "io: cannot write ...",
// and std::filesystem::filesystem_error when a directory cannot be created.
std::filesystem::path saveMultiCameraCalibration(const std::filesystem::path& output_path,
                                                 const MultiCameraCalibrationRecord& record);
std::filesystem::path saveHandEyeResult(const std::filesystem::path& output_path, const HandEyeResultRecord& record);

// Reads input_path, or input_path / the default file name when it is a directory. Only
// the first JSON value of the file is read. Throws std::runtime_error
// "io: cannot open <path> for reading" and the errors listed above.
MultiCameraCalibrationRecord loadMultiCameraCalibration(const std::filesystem::path& input_path);
HandEyeResultRecord loadHandEyeResult(const std::filesystem::path& input_path);

// The file contents without the file: what the save functions write and the load
// functions parse.
std::string multiCameraCalibrationToJson(const MultiCameraCalibrationRecord& record);
MultiCameraCalibrationRecord multiCameraCalibrationFromJson(const std::string& text);
std::string handEyeResultToJson(const HandEyeResultRecord& record);
HandEyeResultRecord handEyeResultFromJson(const std::string& text);

}  // namespace vemo::io
