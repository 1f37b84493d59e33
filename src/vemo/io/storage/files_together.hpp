#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "vemo/io/storage/folder_lock.hpp"
#include "vemo/io/storage/whole_file.hpp"

// Saving several files of a dataset folder as one change that a kill (SIGKILL, a crash,
// a power cut) never leaves half done: a later save or load of the folder sees either
// every file as it was or every file new.
//
// How: each new file is written and flushed under a temporary name listed in a journal
// (save_journal.hpp) that was flushed before the first of them, as
// ".vemo-save-pending"; once all are complete the journal is renamed to
// ".vemo-save-committed" (the moment the save takes effect), the temporary files are
// renamed over their targets and the journal is removed. Whoever finds a committed
// journal renames the temporary files still there; whoever finds a pending one removes
// the temporary files it lists. Both steps can be repeated after another kill.
// Readers that do not go through this library may see a committed save half renamed.
namespace vemo::io {

// What the caller of finishInterruptedSave goes on to do with the folder.
enum class FolderUse {
  saving,
  // Only reading: a folder that refuses changes (read-only) may keep the journal of an
  // interrupted save as long as the files it protects are intact.
  reading,
};

// Completes or undoes a save into `folder` that was interrupted (see above); nothing
// when there is none. Call with the folder locked. Throws std::runtime_error
// "io: damaged save journal <path>" for a journal this library did not write, and
// "io: cannot complete the interrupted save in <folder>: <reason>" when a file system
// call fails (the files it could handle are handled, so a repeated call ends). For
// reading, only a committed save whose new files cannot all be put in place fails so: a
// save that never took effect left the old files, and one whose every file is in place
// the new ones, whatever remains of its journal and temporary files.
void finishInterruptedSave(const std::filesystem::path& folder, FolderUse use);

// Locks `folder` when it exists, finishes an interrupted save in it for reading and
// removes temporary files of killed writers: what a load holds while it reads, so that it
// sees one complete save.
FolderLock settledFolder(const std::filesystem::path& folder);

// One file of a group saved together.
struct GroupFile {
  std::string name;                      // relative to the folder: a dataset file name
  std::function<std::string()> content;  // its bytes; may throw
  // The message when the file cannot be written: it could not be created (opening), or a
  // later step failed.
  std::function<std::string(const WriteFailure&)> failure;
};

// Saves `files` into the existing `folder` (targets in subfolders need those to exist)
// as one change: after a kill the folder holds all of them or none. Existing files are
// replaced (a symbolic link by the file), every other file in the folder stays. A failure
// at file k that is not a kill (its content throws, or it cannot be written: then
// std::runtime_error with files[k].failure(...)) leaves a folder that held dataset files
// (in itself or a camera folder) as it was, so that it loads as before; in any other
// folder it puts files 0 .. k-1 in place, as separate writes would. Then it throws.
// When not even the journal can be created, that is reported as the first file's failure
// to be created.
void saveFilesTogether(const std::filesystem::path& folder, const std::vector<GroupFile>& files);

}  // namespace vemo::io
