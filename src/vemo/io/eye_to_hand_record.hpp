#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

// The result of an eye-to-hand calibration (a camera fixed in the cell, the target on the
// flange) as "eye_to_hand.json": pretty-printed with a 2-space indent, keys in byte-wise
// sorted order ("base_T_camera", "method", "num_frames_total", "num_frames_used",
// "tcp_T_target"), matrices as arrays of float64 rows, null for what was not recorded.
// Loading throws the JSON library's errors for syntax errors, a missing "base_T_camera"
// and values of the wrong type.
namespace vemo::io {

struct EyeToHandResultRecord {
  std::string method;         // hand-eye method name; empty when not recorded (null)
  int num_frames_used = -1;   // captures in the solution; negative when not recorded (null)
  int num_frames_total = -1;  // captures supplied; negative when not recorded (null)
  cv::Mat base_T_camera;      // 4x4: camera frame into the robot base frame; empty (null) when unknown
  cv::Mat tcp_T_target;       // 4x4: target frame into the flange (TCP) frame; empty (null) when unknown
};

// Writes the record and returns the path written, with the path rules of the other result
// records: output_path / "eye_to_hand.json" when output_path is a directory or has no
// extension, else output_path itself. Replaced atomically; logs a Success line.
std::filesystem::path saveEyeToHandResult(const std::filesystem::path& output_path,
                                          const EyeToHandResultRecord& record);
// Reads input_path, or input_path / "eye_to_hand.json" when it is a directory.
EyeToHandResultRecord loadEyeToHandResult(const std::filesystem::path& input_path);

std::string eyeToHandResultToJson(const EyeToHandResultRecord& record);
EyeToHandResultRecord eyeToHandResultFromJson(const std::string& text);

}  // namespace vemo::io
