#include "vemo/io/frame_names.hpp"

#include <climits>

#include "vemo/io/image_files.hpp"

namespace vemo::io {

namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool allDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The all-digit capture number of a frame file name without its leading zeros ("0" stays
// "0" as ""), or nothing.
std::optional<std::string_view> captureDigits(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (name.substr(0, 6) != "image_" || dot == std::string_view::npos || dot < 6) return std::nullopt;
  const std::string_view digits = name.substr(6, dot - 6);
  if (!allDigits(digits)) return std::nullopt;
  return digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
}

}  // namespace

bool isFrameFile(std::string_view file_name) {
  const std::size_t dot = file_name.rfind('.');
  // A name that is only an extension (".png") has that as its stem, as std::filesystem says.
  if (dot == std::string_view::npos || dot == 0) return false;
  const std::string_view stem = file_name.substr(0, dot);
  return file_name.substr(dot) == ".png" && stem.substr(0, 6) == "image_" && !endsWith(stem, "_annotated");
}

bool capturesInOrder(std::string_view first, std::string_view second) {
  const std::optional<std::string_view> a = captureDigits(first), b = captureDigits(second);
  if (a.has_value() != b.has_value()) return a.has_value();
  if (a && (a->size() != b->size() || *a != *b)) {
    return a->size() != b->size() ? a->size() < b->size() : *a < *b;
  }
  return first < second;
}

std::optional<int> cameraFolderNumber(std::string_view folder_name) {
  if (folder_name.substr(0, 4) != "cam_") return std::nullopt;
  const std::string_view digits = folder_name.substr(4);
  if (!allDigits(digits) || digits.size() > 10) return std::nullopt;
  const long long number = std::stoll(std::string(digits));
  if (number > INT_MAX || zeroPaddedIndex(static_cast<int>(number)) != digits) return std::nullopt;
  return static_cast<int>(number);
}

}  // namespace vemo::io
