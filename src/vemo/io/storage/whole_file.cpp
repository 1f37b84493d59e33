#include "vemo/io/storage/whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "vemo/io/storage/folder_lock.hpp"

namespace vemo::io {

namespace {

std::string failure(std::string_view prefix, const char* what, const std::filesystem::path& path) {
  return std::string(prefix) + ": " + what + " " + path.string();
}

std::string withReason(std::string message, int error_number) {
  return message + ": " + std::strerror(error_number);
}

// Closes the descriptor on scope exit unless the owner closed it (and checked the result).
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// The file a write to `target` lands in: symbolic links are followed, as opening the
// target for writing would follow them. Renaming over the link itself would replace the
// link and leave the file it names with its old content.
std::filesystem::path followLinks(const std::filesystem::path& target) {
  constexpr int kMaxLinks = 40;  // the kernel's own limit on nested links
  std::filesystem::path file = target;
  std::error_code error;
  for (int hop = 0; hop < kMaxLinks && std::filesystem::is_symlink(std::filesystem::symlink_status(file, error));
       ++hop) {
    const std::filesystem::path link = std::filesystem::read_symlink(file, error);
    if (error) break;
    file = link.is_absolute() ? link : file.parent_path() / link;
  }
  return file;
}

}  // namespace

std::string readWholeFile(const std::filesystem::path& path, std::string_view prefix) {
  Descriptor file;
  // Without O_NONBLOCK, opening a named pipe waits for a writer, possibly forever.
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    throw std::runtime_error(failure(prefix, "cannot open", path) + " for reading");
  }
  if (!S_ISREG(info.st_mode)) throw std::runtime_error(notARegularFile(prefix, path));
  std::string content;
  content.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(withReason(failure(prefix, "cannot read", path), errno));
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

std::optional<WriteFailure> createFileDurably(const std::filesystem::path& path, std::string_view content,
                                              const std::filesystem::path& replaced) {
  Descriptor file;
  file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (file.fd < 0) return WriteFailure{true, errno};

  const auto fail = [&](int error_number) {
    ::close(file.fd);
    file.fd = -1;
    ::unlink(path.c_str());
    return WriteFailure{false, error_number};
  };
  // A replaced file keeps its permissions, as it would if it were overwritten in place.
  struct stat existing {};
  if (::stat(replaced.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
      ::fchmod(file.fd, existing.st_mode & 07777) != 0) {
    return fail(errno);
  }
  const char* next = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t written = ::write(file.fd, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (written == 0) return fail(EIO);
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  // Without the flush a crash soon after a rename can leave an empty file in place of
  // both the old and the new content.
  if (::fsync(file.fd) != 0) return fail(errno);
  const int closed = ::close(file.fd);
  file.fd = -1;
  if (closed != 0) {
    const int error_number = errno;
    ::unlink(path.c_str());
    return WriteFailure{false, error_number};
  }
  return std::nullopt;
}

int syncDirectory(const std::filesystem::path& directory) {
  Descriptor folder;
  folder.fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.fd < 0) return errno;
  return ::fsync(folder.fd) == 0 ? 0 : errno;
}

void writeWholeFileAtomically(const std::filesystem::path& target, std::string_view content,
                              std::string_view prefix) {
  const std::filesystem::path destination = followLinks(target);
  const std::filesystem::path folder = destination.parent_path();
  const FolderLock lock(folder);
  removeStaleTemporaryFiles(folder);
  std::filesystem::path temporary;
  std::optional<WriteFailure> failed;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temporary = temporarySibling(destination, attempt);
    failed = createFileDurably(temporary, content, destination);
    if (!failed || !failed->opening || failed->error_number != EEXIST) break;
  }
  if (!failed && std::rename(temporary.c_str(), destination.c_str()) != 0) {
    failed = WriteFailure{false, errno};
    ::unlink(temporary.c_str());
  }
  if (failed && failed->opening) throw CannotCreateFile(describeWriteFailure(prefix, target, *failed));
  if (failed) throw std::runtime_error(describeWriteFailure(prefix, target, *failed));
}

std::string notARegularFile(std::string_view prefix, const std::filesystem::path& path) {
  return failure(prefix, "cannot read", path) + ": not a regular file";
}

std::string fullDiskNote(const WriteFailure& cause) {
  return cause.error_number == ENOSPC ? ": no space left on device" : "";
}

std::string describeWriteFailure(std::string_view prefix, const std::filesystem::path& target,
                                 const WriteFailure& cause) {
  if (cause.opening) return failure(prefix, "cannot open", target) + " for writing" + fullDiskNote(cause);
  return withReason(failure(prefix, "cannot write", target), cause.error_number);
}

}  // namespace vemo::io
