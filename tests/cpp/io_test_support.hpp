#pragma once

// Helpers shared by the persistence tests: scratch directories and whole-file access
// written with the standard library only, independent of the code under test.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

namespace vemo::testing {

// Makes every write past `bytes` bytes fail (EFBIG) for as long as it lives, which even a
// root user cannot get around: a stand-in for a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }

 private:
  rlimit saved_{};
  void (*previous_handler_)(int) = nullptr;
};

// A fresh empty directory per test, removed afterwards.
class ScratchDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("vemo_") + info->test_suite_name() + "_" + info->name() + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
};

inline std::string fileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The message of the exception `statement` throws as type E; fails the test otherwise.
#define VEMO_THROWN_MESSAGE(E, statement)        \
  [&]() -> std::string {                         \
    try {                                        \
      statement;                                 \
    } catch (const E& error) {                   \
      return error.what();                       \
    }                                            \
    ADD_FAILURE() << "no " #E " from " #statement; \
    return "";                                   \
  }()

}  // namespace vemo::testing
