#include "vemo/io/storage/temporary_files.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>

namespace vemo::io {

namespace {

constexpr std::string_view kMarker = ".tmp-";

// The decimal number at the front of `text`, removed from it; nothing when there is none.
std::optional<unsigned long long> takeNumber(std::string_view& text) {
  unsigned long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return value;
}

bool isRunning(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

}  // namespace

std::filesystem::path temporarySibling(const std::filesystem::path& target, unsigned attempt) {
  static std::atomic<unsigned long> counter{0};
  constexpr std::size_t kKeptNameBytes = 200;
  const std::string name = "." + target.filename().string().substr(0, kKeptNameBytes) + std::string(kMarker) +
                           std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                           std::to_string(attempt);
  return target.parent_path() / name;
}

std::optional<pid_t> temporaryFileOwner(std::string_view name) {
  const std::size_t marker = name.rfind(kMarker);
  // A hidden name with at least one byte of the target's name before the suffix.
  if (name.size() < 2 || name[0] != '.' || marker == std::string_view::npos || marker < 2) return std::nullopt;
  std::string_view suffix = name.substr(marker + kMarker.size());
  const auto pid = takeNumber(suffix);
  for (int part = 0; part < 2; ++part) {
    if (suffix.empty() || suffix[0] != '-') return std::nullopt;
    suffix.remove_prefix(1);
    if (!takeNumber(suffix)) return std::nullopt;
  }
  if (!pid || !suffix.empty() || *pid == 0 || *pid > static_cast<unsigned long long>(INT32_MAX)) return std::nullopt;
  return static_cast<pid_t>(*pid);
}

void removeStaleTemporaryFiles(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::directory_iterator entries(folder.empty() ? "." : folder, error);
  for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
    const std::filesystem::path& path = entries->path();
    const std::optional<pid_t> owner = temporaryFileOwner(path.filename().native());
    struct stat info {};
    if (owner && !isRunning(*owner) && ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      ::unlink(path.c_str());
    }
  }
}

}  // namespace vemo::io
