#include "vemo/io/storage/save_journal.hpp"

#include <stdexcept>

namespace vemo::io {

namespace {

const std::string_view kHeader = "vemo save journal 1\n";
const std::string_view kEnd = "end\n";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool allOf(std::string_view text, std::string_view allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
}

const std::string_view kDigits = "0123456789";

// `relative` split at its only "/" into the camera folder ("" when there is none) and the name.
std::pair<std::string_view, std::string_view> folderAndName(std::string_view relative) {
  const std::size_t slash = relative.find('/');
  if (slash == std::string_view::npos) return {{}, relative};
  return {relative.substr(0, slash + 1), relative.substr(slash + 1)};
}

bool isCameraFolder(std::string_view folder) {
  if (folder.empty()) return true;
  return startsWith(folder, "cam_") && endsWith(folder, "/") && allOf(folder.substr(4, folder.size() - 5), kDigits);
}

bool isIndexedImage(std::string_view name) {
  if (!startsWith(name, "image_") || !endsWith(name, ".png")) return false;
  std::string_view index = name.substr(6, name.size() - 10);
  if (endsWith(index, "_annotated")) index.remove_suffix(10);
  return allOf(index, kDigits);
}

bool isTemporaryFor(std::string_view temporary, std::string_view target) {
  const auto [folder, name] = folderAndName(target);
  const std::string prefix = std::string(folder) + "." + std::string(name) + ".tmp-";
  return startsWith(temporary, prefix) && allOf(temporary.substr(prefix.size()), "0123456789-");
}

}  // namespace

bool isDatasetFileName(std::string_view relative) {
  const auto [folder, name] = folderAndName(relative);
  return isCameraFolder(folder) && name.find('/') == std::string_view::npos &&
         (name == "calibration_data.npz" || isIndexedImage(name));
}

std::string journalText(const std::vector<PendingRename>& renames) {
  std::string text(kHeader);
  for (const PendingRename& rename : renames) text += rename.temporary + " " + rename.target + "\n";
  text += kEnd;
  return text;
}

std::optional<std::vector<PendingRename>> parseJournal(std::string_view text, const std::string& source) {
  if (!endsWith(text, kEnd)) return std::nullopt;
  const auto damaged = [&]() { return std::runtime_error("io: damaged save journal " + source); };
  if (!startsWith(text, kHeader) || text.size() < kHeader.size() + kEnd.size()) throw damaged();
  std::string_view lines = text.substr(kHeader.size(), text.size() - kHeader.size() - kEnd.size());
  std::vector<PendingRename> renames;
  while (!lines.empty()) {
    const std::size_t newline = lines.find('\n');
    if (newline == std::string_view::npos) throw damaged();
    const std::string_view line = lines.substr(0, newline);
    lines.remove_prefix(newline + 1);
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) throw damaged();
    PendingRename rename{std::string(line.substr(0, space)), std::string(line.substr(space + 1))};
    if (!isDatasetFileName(rename.target) || !isTemporaryFor(rename.temporary, rename.target)) throw damaged();
    renames.push_back(std::move(rename));
  }
  return renames;
}

}  // namespace vemo::io
