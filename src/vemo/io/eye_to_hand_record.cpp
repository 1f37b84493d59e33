#include "vemo/io/eye_to_hand_record.hpp"

#include "vemo/core/logging.hpp"
#include "vemo/io/json_record_parts.hpp"

namespace vemo::io {

namespace {

const char* const kEyeToHandFileName = "eye_to_hand.json";

}  // namespace

std::string eyeToHandResultToJson(const EyeToHandResultRecord& record) {
  using namespace json_parts;
  nlohmann::json root = nlohmann::json::object();
  root["method"] = record.method.empty() ? nlohmann::json(nullptr) : nlohmann::json(record.method);
  root["num_frames_used"] = intOrNull(record.num_frames_used);
  root["num_frames_total"] = intOrNull(record.num_frames_total);
  root["base_T_camera"] = matOrNullToJson(record.base_T_camera);
  root["tcp_T_target"] = matOrNullToJson(record.tcp_T_target);
  return root.dump(2);
}

EyeToHandResultRecord eyeToHandResultFromJson(const std::string& text) {
  using namespace json_parts;
  const nlohmann::json root = parseFirstValue(text);
  EyeToHandResultRecord record;
  if (root.contains("method") && !root["method"].is_null()) record.method = root["method"].get<std::string>();
  record.num_frames_used = optionalIntFromJson(root, "num_frames_used");
  record.num_frames_total = optionalIntFromJson(root, "num_frames_total");
  record.base_T_camera = matFromJson(root.at("base_T_camera"));
  if (root.contains("tcp_T_target")) record.tcp_T_target = matFromJson(root["tcp_T_target"]);
  return record;
}

std::filesystem::path saveEyeToHandResult(const std::filesystem::path& output_path,
                                          const EyeToHandResultRecord& record) {
  const std::filesystem::path target =
      json_parts::saveRecordText(output_path, kEyeToHandFileName, eyeToHandResultToJson(record));
  logging::log(logging::Level::Success, "Saved eye-to-hand result to " + target.string());
  return target;
}

EyeToHandResultRecord loadEyeToHandResult(const std::filesystem::path& input_path) {
  return eyeToHandResultFromJson(json_parts::readRecordText(input_path, kEyeToHandFileName));
}

}  // namespace vemo::io
