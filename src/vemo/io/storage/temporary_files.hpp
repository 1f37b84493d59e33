#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string_view>

// The temporary files that writers create beside their targets before renaming them into
// place, and the removal of those that a killed writer left behind.
namespace vemo::io {

// A hidden name beside `target` that no other writer in this or another process picks
// (".<name>.tmp-<pid>-<counter>-<attempt>"); only the first 200 bytes of the target's
// name are kept, so that a name as long as the file system allows leaves room for the suffix.
std::filesystem::path temporarySibling(const std::filesystem::path& target, unsigned attempt);

// The process that created the file named `name` when it is such a temporary name.
std::optional<pid_t> temporaryFileOwner(std::string_view name);

// Removes the temporary files in `folder` (not in its subfolders) whose process no longer
// runs: what a writer killed between creating and renaming its file leaves. Call with the
// folder locked (folder_lock.hpp), so that no writer of this library is midway. A file
// whose process id now belongs to another running process stays until that one ends;
// one of a process in another PID namespace (another container) may be taken for stale.
// Nothing is reported: a folder that refuses the removal (read-only) keeps its files.
void removeStaleTemporaryFiles(const std::filesystem::path& folder);

}  // namespace vemo::io
