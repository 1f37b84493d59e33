#include "vemo/io/json_record_parts.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "vemo/io/storage/folder_lock.hpp"
#include "vemo/io/storage/whole_file.hpp"

namespace vemo::io::json_parts {

namespace {

// The offset of the first byte in `text` that does not belong to a well-formed UTF-8
// sequence (overlong forms, surrogates and values past U+10FFFF included); a sequence cut
// off by the end of the text counts as ill-formed. npos when there is none.
std::size_t firstInvalidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 1;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

}  // namespace

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The JSON library's own conversion, except that values outside the int range (which it
// would convert with undefined behaviour) are rejected.
int intFromJson(const json& value, const char* key) {
  if (value.is_number()) {
    const double number = value.get<double>();
    if (!(number > std::numeric_limits<int>::min() - 1.0 && number < std::numeric_limits<int>::max() + 1.0)) {
      throw std::runtime_error(std::string("io: '") + key + "' is out of the int range");
    }
  }
  return value.get<int>();
}

fs::path resolveResultPath(const fs::path& path, const char* default_name) {
  if (fs::status(path).type() == fs::file_type::directory) return path / default_name;
  if (!path.extension().empty()) return path;
  return path / default_name;
}

}  // namespace

cv::Mat singleChannelDoubles(const cv::Mat& matrix) {
  cv::Mat converted;
  matrix.convertTo(converted, CV_64F, 1.0, 0.0);
  return converted.reshape(1);
}

json matToJson(const cv::Mat& matrix) {
  json rows = json::array();
  if (matrix.empty()) return rows;
  const cv::Mat values = singleChannelDoubles(matrix);
  for (int r = 0; r < values.rows; ++r) {
    const double* row = values.ptr<double>(r);
    rows.push_back(json(std::vector<double>(row, row + values.cols)));
  }
  return rows;
}

json matOrNullToJson(const cv::Mat& matrix) { return matrix.empty() ? json(nullptr) : matToJson(matrix); }

json intOrNull(int value) { return value < 0 ? json(nullptr) : json(value); }

double numberFromJson(const json& value) {
  return value.is_null() ? std::numeric_limits<double>::quiet_NaN() : value.get<double>();
}

cv::Mat matFromJson(const json& rows) {
  if (rows.is_null() || rows.empty()) return {};
  const std::size_t cols = rows[0].size();
  if (cols == 0) return {};
  const std::size_t row_count = rows.size();
  if (row_count > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      cols > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::runtime_error("io: matrix too large");
  }
  cv::Mat matrix(static_cast<int>(row_count), static_cast<int>(cols), CV_64F);
  for (std::size_t r = 0; r < row_count; ++r) {
    const json& row = rows[r];
    if (row.size() != cols) {
      throw std::runtime_error("io: matrix rows differ in length (row " + std::to_string(r) + " has " +
                               std::to_string(row.size()) + " values, row 0 has " + std::to_string(cols) + ")");
    }
    double* out = matrix.ptr<double>(static_cast<int>(r));
    for (std::size_t c = 0; c < cols; ++c) out[c] = numberFromJson(row[c]);
  }
  return matrix;
}

int requiredIntFromJson(const json& object, const char* key) { return intFromJson(object.at(key), key); }

int optionalIntFromJson(const json& object, const char* key) {
  return object.contains(key) && !object[key].is_null() ? intFromJson(object[key], key) : -1;
}

// The first JSON value of the text, as the stream extraction of the JSON library reads
// it: anything after it is not examined. The library's parse error quotes the bytes it
// last read; when they are not UTF-8 (and Python could not show the message), the error
// says where the text stops being UTF-8 instead, or quotes them with escapes.
json parseFirstValue(const std::string& text) {
  std::istringstream stream(text);
  json root;
  try {
    stream >> root;
  } catch (const json::parse_error& error) {
    const std::string message = error.what();
    if (firstInvalidUtf8(message) == std::string::npos) throw;
    // A sequence that the error cut in two is still well-formed in the text.
    const std::size_t read = std::min(text.size(), static_cast<std::size_t>(error.byte));
    const std::size_t invalid = firstInvalidUtf8(text.substr(0, std::min(text.size(), read + 3)));
    if (invalid < read) {
      throw std::runtime_error("io: JSON record is not valid UTF-8 (byte offset " + std::to_string(invalid) + ")");
    }
    std::string escaped;
    for (const char c : message) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      escaped += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : std::string(hex);
    }
    throw std::runtime_error(escaped);
  }
  return root;
}


std::string readRecordText(const fs::path& input_path, const char* default_name) {
  const fs::path path =
      fs::status(input_path).type() == fs::file_type::directory ? input_path / default_name : input_path;
  const fs::path folder = path.parent_path();
  const FolderLock lock(folder);
  removeStaleTemporaryFiles(folder);
  return readWholeFile(path, "io");
}

fs::path saveRecordText(const fs::path& output_path, const char* default_name, const std::string& text) {
  const fs::path target = resolveResultPath(output_path, default_name);
  // A bare file name has no parent: it goes to the current directory.
  if (!target.parent_path().empty()) fs::create_directories(target.parent_path());
  writeWholeFileAtomically(target, text, "io");
  return target;
}

}  // namespace vemo::io::json_parts
