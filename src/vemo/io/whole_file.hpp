#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

// Whole-file reads and writes for every persistence format. Errors are std::runtime_error
// whose message starts with the caller's prefix ("npz" or "io") and names the path.
namespace vemo::io {

// The complete contents of the file at `path`, read until end of file. Throws
// "<prefix>: cannot open <path> for reading" when the file cannot be opened or is a
// directory, and "<prefix>: cannot read <path>: <reason>" when a read fails.
std::string readWholeFile(const std::filesystem::path& path, std::string_view prefix);

// The temporary file could not be created: the writer never got to write (a missing or
// read-only directory). Callers with their own wording for that case catch it.
struct CannotCreateFile : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Replaces the file at `target` with `content` so that it is never seen half written:
// the bytes go to a new temporary file in the target's directory (the current
// directory for a bare file name), every write, the flush to disk and the close are
// checked, and the temporary file is then renamed over the target. On any failure the
// temporary file is removed, an existing target is left as it was, and a
// std::runtime_error is thrown: CannotCreateFile "<prefix>: cannot open <target> for
// writing" when the temporary file cannot be created, "<prefix>: cannot write <target>:
// <reason>" after that. The directory must exist. A replaced file keeps its permissions; a new one gets
// 0666 less the umask. A symbolic link is written through: the file it names is replaced
// and the link stays.
void writeWholeFileAtomically(const std::filesystem::path& target, std::string_view content,
                              std::string_view prefix);

}  // namespace vemo::io
