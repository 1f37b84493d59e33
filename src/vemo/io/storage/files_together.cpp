#include "vemo/io/storage/files_together.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>
#include <stdexcept>
#include <utility>

#include "vemo/core/parallel_map.hpp"
#include "vemo/io/storage/save_journal.hpp"
#include "vemo/io/storage/temporary_files.hpp"
#include "vemo/io/storage/whole_file.hpp"

namespace vemo::io {

namespace fs = std::filesystem;

namespace {

const char* const kPendingJournal = ".vemo-save-pending";
const char* const kCommittedJournal = ".vemo-save-committed";

bool isPresent(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool isDirectory(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// True when `folder`, or one of its camera folders, holds a file that a dataset save
// writes: a dataset or a capture that a failed save must leave loading as before.
bool holdsDatasetFiles(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && isDatasetFileName(name)) return true;
    if (!entry.is_directory() || name.rfind("cam_", 0) != 0) continue;
    for (const fs::directory_entry& inner : fs::directory_iterator(entry.path())) {
      if (inner.is_regular_file() && isDatasetFileName(name + "/" + inner.path().filename().string())) return true;
    }
  }
  return false;
}

// The folders that hold the targets, each once: they are flushed after their entries change.
std::set<fs::path> targetFolders(const fs::path& folder, const std::vector<PendingRename>& renames) {
  std::set<fs::path> folders;
  for (const PendingRename& rename : renames) folders.insert((folder / rename.target).parent_path());
  return folders;
}

void syncFolders(const std::set<fs::path>& folders, int& first_error) {
  for (const fs::path& directory : folders) {
    const int error = syncDirectory(directory);
    if (error != 0 && first_error == 0) first_error = error;
  }
}

// Renames every temporary file still present over its target. A rename that fails drops
// its temporary file, so that the journal can be removed in any case.
int renameAll(const fs::path& folder, const std::vector<PendingRename>& renames) {
  int first_error = 0;
  for (const PendingRename& rename : renames) {
    const fs::path temporary = folder / rename.temporary;
    if (!isPresent(temporary)) continue;  // renamed before the kill, or never written
    if (std::rename(temporary.c_str(), (folder / rename.target).c_str()) != 0) {
      if (first_error == 0) first_error = errno;
      ::unlink(temporary.c_str());
    }
  }
  syncFolders(targetFolders(folder, renames), first_error);
  return first_error;
}

int removeAll(const fs::path& folder, const std::vector<PendingRename>& renames) {
  int first_error = 0;
  for (const PendingRename& rename : renames) {
    if (::unlink((folder / rename.temporary).c_str()) != 0 && errno != ENOENT && first_error == 0) {
      first_error = errno;
    }
  }
  return first_error;
}

int removeJournal(const fs::path& folder, const char* name) {
  if (::unlink((folder / name).c_str()) != 0) return errno;
  return syncDirectory(folder);
}

std::runtime_error cannotComplete(const fs::path& folder, int error_number) {
  return std::runtime_error("io: cannot complete the interrupted save in " + folder.string() + ": " +
                            std::strerror(error_number));
}

// Undoes a pending save: its temporary files and its journal go.
void rollBack(const fs::path& folder, const std::vector<PendingRename>& renames) {
  removeAll(folder, renames);
  removeJournal(folder, kPendingJournal);
}

// Puts the files of a pending save whose temporary files are complete and flushed in
// place: the journal's rename to committed is the moment the save takes effect. Before
// that moment a failure rolls the save back.
int commit(const fs::path& folder, const std::vector<PendingRename>& renames) {
  int first_error = 0;
  syncFolders(targetFolders(folder, renames), first_error);
  if (first_error == 0 &&
      std::rename((folder / kPendingJournal).c_str(), (folder / kCommittedJournal).c_str()) != 0) {
    first_error = errno;
  }
  if (first_error != 0) {
    rollBack(folder, renames);
    return first_error;
  }
  first_error = syncDirectory(folder);
  const int rename_error = renameAll(folder, renames);
  if (first_error == 0) first_error = rename_error;
  const int removal_error = removeJournal(folder, kCommittedJournal);
  return first_error != 0 ? first_error : removal_error;
}

}  // namespace

void finishInterruptedSave(const fs::path& folder, FolderUse use) {
  const bool saving = use == FolderUse::saving;
  const fs::path committed = folder / kCommittedJournal;
  if (isPresent(committed)) {
    const std::optional<std::vector<PendingRename>> renames =
        parseJournal(readWholeFile(committed, "io"), committed.string());
    // A committed journal was complete before it was renamed.
    if (!renames) throw std::runtime_error("io: damaged save journal " + committed.string());
    const int rename_error = renameAll(folder, *renames);
    const int removal_error = removeJournal(folder, kCommittedJournal);
    // A temporary file that could not be renamed leaves old and new files side by side.
    if (rename_error != 0) throw cannotComplete(folder, rename_error);
    if (removal_error != 0 && saving) throw cannotComplete(folder, removal_error);
  }
  const fs::path pending = folder / kPendingJournal;
  if (isPresent(pending)) {
    // A journal cut short was being written, before any temporary file existed.
    const std::optional<std::vector<PendingRename>> renames =
        parseJournal(readWholeFile(pending, "io"), pending.string());
    const int removal_error = renames ? removeAll(folder, *renames) : 0;
    if (removal_error != 0 && saving) throw cannotComplete(folder, removal_error);
    const int journal_error = removeJournal(folder, kPendingJournal);
    if (journal_error != 0 && saving) throw cannotComplete(folder, journal_error);
  }
}

FolderLock settledFolder(const fs::path& folder) {
  FolderLock lock(folder);
  if (isDirectory(folder)) {
    finishInterruptedSave(folder, FolderUse::reading);
    removeStaleTemporaryFiles(folder);
  }
  return lock;
}

void saveFilesTogether(const fs::path& folder, const std::vector<GroupFile>& files) {
  const FolderLock lock(folder);
  finishInterruptedSave(folder, FolderUse::saving);
  removeStaleTemporaryFiles(folder);

  std::vector<PendingRename> renames;
  for (const GroupFile& file : files) {
    if (!isDatasetFileName(file.name)) throw std::logic_error("saveFilesTogether: not a dataset file: " + file.name);
    const fs::path target = folder / file.name;
    fs::path temporary = temporarySibling(target, 0);
    for (unsigned attempt = 1; isPresent(temporary); ++attempt) temporary = temporarySibling(target, attempt);
    renames.push_back({(fs::path(file.name).parent_path() / temporary.filename()).generic_string(), file.name});
  }
  if (files.empty()) return;
  const bool replaces_a_dataset = holdsDatasetFiles(folder);
  const fs::path pending = folder / kPendingJournal;
  if (auto failed = createFileDurably(pending, journalText(renames), {})) {
    failed->opening = true;
    throw std::runtime_error(files.front().failure(*failed));
  }
  if (const int error = syncDirectory(folder)) {
    rollBack(folder, {});
    throw std::runtime_error(files.front().failure(WriteFailure{true, error}));
  }

  // Making the bytes (PNG encoding) is most of a save: every file's are made on OpenCV's
  // threads first, all held at once. A file whose content throws still fails at its turn,
  // after the files before it are written.
  auto contents = parallelMap(files.size(), [&](std::size_t k) { return files[k].content(); });
  std::exception_ptr failure;
  std::size_t written = 0;
  for (; written < files.size(); ++written) {
    const GroupFile& file = files[written];
    const fs::path target = folder / file.name;
    try {
      const std::string content = std::move(contents[written].take());
      // Found now rather than at the rename, so that the save still commits as one.
      if (isDirectory(target)) throw std::runtime_error(file.failure(WriteFailure{false, EISDIR}));
      if (const auto failed = createFileDurably(folder / renames[written].temporary, content, target)) {
        throw std::runtime_error(file.failure(*failed));
      }
    } catch (...) {
      failure = std::current_exception();
      break;
    }
  }
  renames.resize(written);
  if (failure && replaces_a_dataset) {
    rollBack(folder, renames);
    std::rethrow_exception(failure);
  }
  const int error = commit(folder, renames);
  if (failure) std::rethrow_exception(failure);
  if (error != 0) {
    throw std::runtime_error("io: cannot save into " + folder.string() + ": " + std::strerror(error));
  }
}

}  // namespace vemo::io
