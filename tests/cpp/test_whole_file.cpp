#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <opencv2/core.hpp>

#include "io_test_support.hpp"
#include "vemo/io/hand_eye_dataset.hpp"
#include "vemo/io/npz.hpp"
#include "vemo/io/result_records.hpp"
#include "vemo/io/storage/whole_file.hpp"

using vemo::testing::FileSizeLimit;
using vemo::testing::fileBytes;
using vemo::testing::writeBytes;

namespace {

std::vector<std::string> directoryNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class WholeFile : public vemo::testing::ScratchDirectory {};

}  // namespace

TEST_F(WholeFile, ReadsEveryByteAndNamesThePathItCannotOpen) {
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  writeBytes(dir_ / "f", content);
  EXPECT_EQ(vemo::io::readWholeFile(dir_ / "f", "io"), content);
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, vemo::io::readWholeFile(dir_ / "g", "io")),
            "io: cannot open " + (dir_ / "g").string() + " for reading");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, vemo::io::readWholeFile(dir_, "npz")),
            "npz: cannot open " + dir_.string() + " for reading");
}

TEST_F(WholeFile, ReplacesTheTargetAndLeavesNoTemporaryFile) {
  namespace fs = std::filesystem;
  vemo::io::writeWholeFileAtomically(dir_ / "f", "old content", "io");
  EXPECT_EQ(fs::status(dir_ / "f").permissions() & fs::perms::owner_read, fs::perms::owner_read);
  const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(dir_ / "f", kept);
  vemo::io::writeWholeFileAtomically(dir_ / "f", "new", "io");
  EXPECT_EQ(fileBytes(dir_ / "f"), "new");
  EXPECT_EQ(directoryNames(dir_), std::vector<std::string>{"f"});
  EXPECT_EQ(fs::status(dir_ / "f").permissions(), kept);
  // Renaming onto a directory fails after the data were written.
  std::filesystem::create_directory(dir_ / "d");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, vemo::io::writeWholeFileAtomically(dir_ / "d", "x", "io"))
                .rfind("io: cannot write " + (dir_ / "d").string() + ": ", 0),
            0u);
  EXPECT_EQ(directoryNames(dir_), (std::vector<std::string>{"d", "f"}));
  // A symbolic link is written through, as opening it would: the file it names gets the
  // content and the link stays.
  std::filesystem::create_directory(dir_ / "real");
  writeBytes(dir_ / "real" / "r", "old");
  std::filesystem::create_symlink("real/r", dir_ / "link");
  vemo::io::writeWholeFileAtomically(dir_ / "link", "through", "io");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "link"));
  EXPECT_EQ(fileBytes(dir_ / "real" / "r"), "through");
  EXPECT_EQ(directoryNames(dir_ / "real"), std::vector<std::string>{"r"});
  std::filesystem::remove_all(dir_ / "real");
  std::filesystem::remove(dir_ / "link");
  // The longest name the file system allows is writable, whatever the temporary file is called.
  const std::string longest(255, 'n');
  vemo::io::writeWholeFileAtomically(dir_ / longest, "long", "io");
  EXPECT_EQ(fileBytes(dir_ / longest), "long");
  EXPECT_EQ(directoryNames(dir_), (std::vector<std::string>{"d", "f", longest}));
}

TEST_F(WholeFile, EveryWriterKeepsTheExistingFileWhenTheDiskFills) {
  const std::string previous(100, 'p');
  cv::Mat image(64, 64, CV_8UC3);
  cv::RNG(7).fill(image, cv::RNG::UNIFORM, 0, 256);  // noise: the PNG stays larger than the limit
  vemo::io::HandEyeResultRecord hand_eye;
  hand_eye.tcp_T_camera_list.assign(20, cv::Mat::eye(4, 4, CV_64F));
  vemo::io::MultiCameraCalibrationRecord rig;
  rig.intrinsic_matrices.assign(20, cv::Mat::eye(3, 3, CV_64F));

  struct Writer {
    std::string file, message;  // the message up to the reason the system gives
    std::function<void(const std::filesystem::path&)> write;
  };
  const auto path = [&](const std::string& file) { return (dir_ / file).string(); };
  const std::vector<Writer> writers{
      {"a.npz", "npz: cannot write " + path("a.npz") + ": ",
       [](const auto& p) { vemo::detail::saveNpz(p.string(), "k", {400}, std::vector<double>(400)); }},
      {"hand_eye.json", "io: cannot write " + path("hand_eye.json") + ": ",
       [&](const auto& p) { vemo::io::saveHandEyeResult(p, hand_eye); }},
      {"multi_camera_calibration.json", "io: cannot write " + path("multi_camera_calibration.json") + ": ",
       [&](const auto& p) { vemo::io::saveMultiCameraCalibration(p, rig); }},
      // Image files fail with one message, whatever the cause; the folder held a dataset
      // file, so the pose archive written before the image is not left in place either.
      {"image_00.png", "io: cv::imwrite failed for " + path("image_00.png"),
       [&](const auto& p) { vemo::io::saveHandEyeDataset(p.parent_path(), {image}, {}, {}); }},
  };
  for (const Writer& writer : writers) {
    const std::filesystem::path target = dir_ / writer.file;
    writeBytes(target, previous);
    std::string message;
    {
      FileSizeLimit limit(1000);
      message = VEMO_THROWN_MESSAGE(std::runtime_error, writer.write(target));
    }
    EXPECT_EQ(message.rfind(writer.message, 0), 0u) << message;
    EXPECT_EQ(fileBytes(target), previous) << writer.file;
    EXPECT_EQ(directoryNames(dir_), std::vector<std::string>{writer.file});
    std::filesystem::remove(target);
  }
}
