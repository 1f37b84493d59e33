// Replays the fuzz targets' seed corpus (and every input the fuzzers once crashed on,
// kept there) so that the normal test run guards the readers too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../fuzz/folder_targets.hpp"
#include "../fuzz/fuzz_targets.hpp"

namespace {

std::size_t replay(const char* folder, void (*target)(const std::uint8_t*, std::size_t)) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VEMO_FUZZ_CORPUS_DIR) / folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  return count;
}

}  // namespace

TEST(FuzzCorpus, EverySeedRunsThroughItsTargetWithoutBreakingAnInvariant) {
  EXPECT_GE(replay("npz", vemo::fuzz::npzReader), 5u);
  EXPECT_GE(replay("hand_eye_json", vemo::fuzz::handEyeJson), 3u);
  EXPECT_GE(replay("multi_camera_json", vemo::fuzz::multiCameraJson), 3u);
  EXPECT_GE(replay("multi_camera_folders", vemo::fuzz::multiCameraFolderNames), 3u);
  EXPECT_GE(replay("hand_eye_dataset", vemo::fuzz::handEyeDatasetLoader), 3u);
  vemo::fuzz::folder_fuzzing::removeScratch();
}
