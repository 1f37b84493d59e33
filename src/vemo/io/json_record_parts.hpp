#pragma once

// The pieces every JSON result record is made of: matrices, optional counts, and the
// file handling of the record writers and readers. See result_records.hpp for the
// encodings (matrices as arrays of float64 rows, null for what is missing).

#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace vemo::io::json_parts {

// The matrix converted to float64 with one channel.
cv::Mat singleChannelDoubles(const cv::Mat& matrix);

// An array of rows of numbers; [] for an empty matrix.
nlohmann::json matToJson(const cv::Mat& matrix);
// As matToJson, but null for an empty matrix.
nlohmann::json matOrNullToJson(const cv::Mat& matrix);
// The count, or null when it is negative (not recorded).
nlohmann::json intOrNull(int value);

// A number, NaN for null.
double numberFromJson(const nlohmann::json& value);
// An R x C CV_64F matrix from R rows of C numbers; empty for null, [] or [[]]. Throws
// std::runtime_error "io: matrix rows differ in length ..." for ragged rows.
cv::Mat matFromJson(const nlohmann::json& rows);
// The member `key` as an int; std::runtime_error "io: '<key>' is out of the int range"
// beyond it, the JSON library's errors when missing (required) or not a number.
int requiredIntFromJson(const nlohmann::json& object, const char* key);
// As above, but -1 when the member is missing or null.
int optionalIntFromJson(const nlohmann::json& object, const char* key);

// The first JSON value of the text, as the JSON library's stream extraction reads it:
// anything after it is not examined.
nlohmann::json parseFirstValue(const std::string& text);

// Writes a record's text: to output_path / default_name when output_path is an existing
// directory or has no extension (the directory is then created), else to output_path
// itself (its parent created). Replaces the file atomically; returns the path written.
std::filesystem::path saveRecordText(const std::filesystem::path& output_path, const char* default_name,
                                     const std::string& text);
// The text of input_path, or of input_path / default_name when it is a directory, read
// under the FolderLock of its folder after removing the temporary files of killed writers
// there (best effort: a read-only folder is read as it is).
std::string readRecordText(const std::filesystem::path& input_path, const char* default_name);

}  // namespace vemo::io::json_parts
