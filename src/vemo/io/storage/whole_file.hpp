#pragma once

// Folder io/storage/: the durable-write layer under every format: whole-file reads and
// writes (here), many files saved together (files_together.hpp) and their journal.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vemo/io/storage/temporary_files.hpp"

// Whole-file reads and writes for every persistence format. Errors are std::runtime_error
// whose message starts with the caller's prefix ("npz" or "io") and names the path.
namespace vemo::io {

// The complete contents of the file at `path`, read until end of file. Throws
// "<prefix>: cannot open <path> for reading" when the file cannot be opened or is a
// directory, "<prefix>: cannot read <path>: not a regular file" for anything else that is
// not a regular file once symbolic links are followed (a named pipe would block, a device
// never end), and "<prefix>: cannot read <path>: <reason>" when a read fails.
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
// <reason>" after that. The directory must exist. The write holds the directory's
// FolderLock and first removes the temporary files of killed writers there. A replaced
// file keeps its permissions; a new one gets 0666 less the umask. A symbolic link is
// written through: the file it names is replaced and the link stays.
void writeWholeFileAtomically(const std::filesystem::path& target, std::string_view content,
                              std::string_view prefix);

// The pieces the atomic writers are made of.

// The message of a reader refusing `path`, which is not a regular file.
std::string notARegularFile(std::string_view prefix, const std::filesystem::path& path);

struct WriteFailure {
  bool opening;      // the file could not be created (EEXIST: it exists already)
  int error_number;  // errno of the failed step
};

// ": no space left on device" for a failure of a full disk, "" for any other: what a
// message that does not give the reason itself appends.
std::string fullDiskNote(const WriteFailure& cause);

// The message of writeWholeFileAtomically for a failure writing `target`.
std::string describeWriteFailure(std::string_view prefix, const std::filesystem::path& target,
                                 const WriteFailure& cause);

// Creates the file `path`, which must not exist yet, holding `content`, with the
// permissions of the regular file `replaced` if there is one; every write, the flush to
// disk and the close are checked. On failure nothing is left at `path`.
std::optional<WriteFailure> createFileDurably(const std::filesystem::path& path, std::string_view content,
                                              const std::filesystem::path& replaced);

// Flushes the entries of `directory` (created, renamed or removed names) to disk; 0 or errno.
int syncDirectory(const std::filesystem::path& directory);

}  // namespace vemo::io
