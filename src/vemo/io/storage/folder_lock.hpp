#pragma once

#include <filesystem>

namespace vemo::io {

// An exclusive lock on a folder (flock on the folder itself) held for the object's
// lifetime, so that saves, loads and the completion of an interrupted save of one folder
// never overlap, in any process. It waits while another holds it; a second lock of the
// same folder in the same thread therefore never returns. A folder that cannot be
// opened, or a file system without such locks, is simply not locked.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder);
  FolderLock(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  FolderLock& operator=(FolderLock&&) = delete;
  ~FolderLock();

 private:
  int fd_ = -1;
};

}  // namespace vemo::io
