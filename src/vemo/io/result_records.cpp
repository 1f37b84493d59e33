#include "vemo/io/result_records.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "vemo/core/logging.hpp"
#include "vemo/io/json_record_parts.hpp"

namespace vemo::io {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace json_parts;

namespace {

const char* const kMultiCameraFileName = "multi_camera_calibration.json";
const char* const kHandEyeFileName = "hand_eye.json";

// ---- writing ----

json flatToJson(const cv::Mat& matrix) {
  json flat = json::array();
  if (matrix.empty()) return flat;
  const cv::Mat values = singleChannelDoubles(matrix);
  for (int r = 0; r < values.rows; ++r) {
    for (int c = 0; c < values.cols; ++c) flat.push_back(values.at<double>(r, c));
  }
  return flat;
}

json matricesToJson(const std::vector<cv::Mat>& matrices, json (*one)(const cv::Mat&)) {
  json list = json::array();
  for (const cv::Mat& matrix : matrices) list.push_back(one(matrix));
  return list;
}

// nlohmann::json writes non-finite numbers as null by itself.
json numbersToJson(const std::vector<double>& values) { return json(values); }

// ---- reading ----

cv::Mat flatFromJson(const json& flat) {
  std::vector<double> values;
  for (const json& value : flat) values.push_back(numberFromJson(value));
  if (values.empty()) return {};
  if (values.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::runtime_error("io: distortion coefficient list too long");
  }
  return cv::Mat(values, true).reshape(1, 1);
}

std::vector<cv::Mat> matricesFromJson(const json& list, cv::Mat (*one)(const json&)) {
  std::vector<cv::Mat> matrices;
  for (const json& value : list) matrices.push_back(one(value));
  return matrices;
}

std::vector<double> optionalNumbersFromJson(const json& object, const char* key) {
  std::vector<double> values;
  if (!object.contains(key) || object[key].is_null()) return values;
  for (const json& value : object[key]) values.push_back(numberFromJson(value));
  return values;
}

}  // namespace

std::string multiCameraCalibrationToJson(const MultiCameraCalibrationRecord& record) {
  json root = json::object();
  root["reference_index"] = record.reference_index;
  root["num_cameras"] = record.num_cameras;
  root["intrinsic_matrices"] = matricesToJson(record.intrinsic_matrices, matToJson);
  root["distortion_coefficients"] = matricesToJson(record.distortion_coefficients, flatToJson);
  root["reference_T_camera_list"] = matricesToJson(record.reference_T_camera_list, matOrNullToJson);
  root["intrinsic_reprojection_errors"] = numbersToJson(record.intrinsic_reprojection_errors);
  root["pair_reprojection_errors"] = numbersToJson(record.pair_reprojection_errors);
  return root.dump(2);
}

MultiCameraCalibrationRecord multiCameraCalibrationFromJson(const std::string& text) {
  const json root = parseFirstValue(text);
  MultiCameraCalibrationRecord record;
  record.reference_index = requiredIntFromJson(root, "reference_index");
  record.num_cameras = requiredIntFromJson(root, "num_cameras");
  record.intrinsic_matrices = matricesFromJson(root.at("intrinsic_matrices"), matFromJson);
  record.distortion_coefficients = matricesFromJson(root.at("distortion_coefficients"), flatFromJson);
  record.reference_T_camera_list = matricesFromJson(root.at("reference_T_camera_list"), matFromJson);
  record.intrinsic_reprojection_errors = optionalNumbersFromJson(root, "intrinsic_reprojection_errors");
  record.pair_reprojection_errors = optionalNumbersFromJson(root, "pair_reprojection_errors");
  return record;
}

std::string handEyeResultToJson(const HandEyeResultRecord& record) {
  json root = json::object();
  root["reference_index"] = record.reference_index;
  root["num_cameras"] = record.num_cameras;
  root["method"] = record.method.empty() ? json(nullptr) : json(record.method);
  root["num_frames_used"] = intOrNull(record.num_frames_used);
  root["num_frames_total"] = intOrNull(record.num_frames_total);
  root["tcp_T_camera_list"] = matricesToJson(record.tcp_T_camera_list, matOrNullToJson);
  return root.dump(2);
}

HandEyeResultRecord handEyeResultFromJson(const std::string& text) {
  const json root = parseFirstValue(text);
  HandEyeResultRecord record;
  record.reference_index = requiredIntFromJson(root, "reference_index");
  record.num_cameras = requiredIntFromJson(root, "num_cameras");
  if (root.contains("method") && !root["method"].is_null()) record.method = root["method"].get<std::string>();
  record.num_frames_used = optionalIntFromJson(root, "num_frames_used");
  record.num_frames_total = optionalIntFromJson(root, "num_frames_total");
  record.tcp_T_camera_list = matricesFromJson(root.at("tcp_T_camera_list"), matFromJson);
  return record;
}

fs::path saveMultiCameraCalibration(const fs::path& output_path, const MultiCameraCalibrationRecord& record) {
  const fs::path target = saveRecordText(output_path, kMultiCameraFileName, multiCameraCalibrationToJson(record));
  logging::log(logging::Level::Success, "Saved multi-camera calibration to " + target.string());
  return target;
}

fs::path saveHandEyeResult(const fs::path& output_path, const HandEyeResultRecord& record) {
  const fs::path target = saveRecordText(output_path, kHandEyeFileName, handEyeResultToJson(record));
  logging::log(logging::Level::Success, "Saved hand-eye result to " + target.string());
  return target;
}

MultiCameraCalibrationRecord loadMultiCameraCalibration(const fs::path& input_path) {
  return multiCameraCalibrationFromJson(readRecordText(input_path, kMultiCameraFileName));
}

HandEyeResultRecord loadHandEyeResult(const fs::path& input_path) {
  return handEyeResultFromJson(readRecordText(input_path, kHandEyeFileName));
}

}  // namespace vemo::io
