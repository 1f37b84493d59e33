// Saving files together: every state a kill can leave is finished or undone by the next
// save or load, and a journal never touches files a save does not write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "io_test_support.hpp"
#include "vemo/io/storage/files_together.hpp"

using vemo::testing::fileBytes;
using vemo::testing::writeBytes;

namespace {

namespace fs = std::filesystem;

class FilesTogether : public vemo::testing::ScratchDirectory {
 protected:
  std::vector<std::string> names(const fs::path& directory) const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
      if (entry.is_regular_file()) found.push_back(fs::relative(entry.path(), directory).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  void journal(const char* name, const std::string& lines) {
    writeBytes(dir_ / name, "vemo save journal 1\n" + lines + "end\n");
  }
};

vemo::io::GroupFile file(const std::string& name, const std::string& content) {
  return {name, [content] { return content; },
          [name](const vemo::io::WriteFailure& cause) { return name + ": " + std::strerror(cause.error_number); }};
}

TEST_F(FilesTogether, AKilledSaveIsCompletedOnceCommittedAndUndoneBefore) {
  // Killed while renaming: image_00 already renamed, image_01 and the archive not yet.
  fs::create_directories(dir_ / "cam_01");
  writeBytes(dir_ / "image_00.png", "new 0");
  writeBytes(dir_ / "image_01.png", "old 1");
  writeBytes(dir_ / ".image_01.png.tmp-1-2-0", "new 1");
  writeBytes(dir_ / "cam_01" / ".calibration_data.npz.tmp-1-3-0", "new poses");
  writeBytes(dir_ / "notes.txt", "mine");
  journal(".vemo-save-committed",
          ".image_00.png.tmp-1-1-0 image_00.png\n.image_01.png.tmp-1-2-0 image_01.png\n"
          "cam_01/.calibration_data.npz.tmp-1-3-0 cam_01/calibration_data.npz\n");
  vemo::io::finishInterruptedSave(dir_, vemo::io::FolderUse::saving);
  EXPECT_EQ(names(dir_), (std::vector<std::string>{"cam_01/calibration_data.npz", "image_00.png", "image_01.png",
                                                   "notes.txt"}));
  EXPECT_EQ(fileBytes(dir_ / "image_01.png"), "new 1");
  EXPECT_EQ(fileBytes(dir_ / "cam_01" / "calibration_data.npz"), "new poses");

  // Killed while writing the temporary files: they go, the targets stay as they were.
  writeBytes(dir_ / ".image_00.png.tmp-2-1-0", "half");
  writeBytes(dir_ / ".image_05.png.tmp-9-9-9", "not listed");
  journal(".vemo-save-pending", ".image_00.png.tmp-2-1-0 image_00.png\n.image_01.png.tmp-2-2-0 image_01.png\n");
  vemo::io::finishInterruptedSave(dir_, vemo::io::FolderUse::saving);
  EXPECT_EQ(names(dir_), (std::vector<std::string>{".image_05.png.tmp-9-9-9", "cam_01/calibration_data.npz",
                                                   "image_00.png", "image_01.png", "notes.txt"}));
  EXPECT_EQ(fileBytes(dir_ / "image_00.png"), "new 0");

  // Killed while writing the journal: no temporary file exists yet, the journal goes.
  writeBytes(dir_ / ".vemo-save-pending", "vemo save journal 1\n.image_00.png.tmp-3-");
  vemo::io::finishInterruptedSave(dir_, vemo::io::FolderUse::saving);
  EXPECT_FALSE(fs::exists(dir_ / ".vemo-save-pending"));
  EXPECT_EQ(fileBytes(dir_ / ".image_05.png.tmp-9-9-9"), "not listed");
}

TEST_F(FilesTogether, AJournalNamingAnythingButDatasetFilesInTheFolderIsRefused) {
  fs::create_directories(dir_ / "inside");
  writeBytes(dir_ / ".passwd.tmp-1", "x");
  writeBytes(dir_ / "inside" / ".image_00.png.tmp-1", "x");
  for (const std::string line : {".passwd.tmp-1 passwd\n", "inside/.image_00.png.tmp-1 ../image_00.png\n",
                                 "inside/.image_00.png.tmp-1 inside/image_00.png\n",
                                 ".image_00.png.tmp-1 image_01.png\n", "/tmp/.image_00.png.tmp-1 /tmp/image_00.png\n",
                                 ".image_00.png.tmp-1  image_00.png\n", "image_00.png\n"}) {
    for (const char* name : {".vemo-save-committed", ".vemo-save-pending"}) {
      journal(name, line);
      EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error,
                                    vemo::io::finishInterruptedSave(dir_, vemo::io::FolderUse::saving)),
                "io: damaged save journal " + (dir_ / name).string())
          << line;
      fs::remove(dir_ / name);
    }
  }
  EXPECT_EQ(names(dir_), (std::vector<std::string>{".passwd.tmp-1", "inside/.image_00.png.tmp-1"}));
}

TEST_F(FilesTogether, AFailingFilePutsTheFilesBeforeItInPlaceOnlyWhereNoDatasetWas) {
  std::vector<vemo::io::GroupFile> files{file("calibration_data.npz", "poses"), file("image_00.png", "new 0"),
                                         file("image_01.png", "new 1"), file("image_02.png", "new 2")};
  files[2].content = []() -> std::string { throw std::invalid_argument("cannot encode"); };
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::invalid_argument, vemo::io::saveFilesTogether(dir_, files)), "cannot encode");
  EXPECT_EQ(names(dir_), (std::vector<std::string>{"calibration_data.npz", "image_00.png"}));
  EXPECT_EQ(fileBytes(dir_ / "image_00.png"), "new 0");

  // Now that the folder holds a dataset, a failure leaves it as it was; a file that
  // cannot be created reports its own message with the reason.
  fs::create_directory(dir_ / "image_01.png");
  files[1] = file("image_00.png", "newer 0");
  files[2] = file("image_01.png", "new 1");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, vemo::io::saveFilesTogether(dir_, files)),
            "image_01.png: Is a directory");
  EXPECT_EQ(names(dir_), (std::vector<std::string>{"calibration_data.npz", "image_00.png"}));
  EXPECT_EQ(fileBytes(dir_ / "image_00.png"), "new 0");
  fs::remove(dir_ / "image_01.png");
  vemo::io::saveFilesTogether(dir_, files);
  EXPECT_EQ(names(dir_), (std::vector<std::string>{"calibration_data.npz", "image_00.png", "image_01.png",
                                                   "image_02.png"}));
  EXPECT_EQ(fileBytes(dir_ / "image_00.png"), "newer 0");
}

}  // namespace
