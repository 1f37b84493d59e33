#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <thread>

#include "vemo/core/logging.hpp"

namespace {

// Captures what one call writes to std::cerr and std::cout.
struct CapturedStreams {
  std::string err, out;
};

CapturedStreams capture(vemo::logging::Level level, const std::string& message) {
  std::ostringstream err, out;
  std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
  std::streambuf* old_out = std::cout.rdbuf(out.rdbuf());
  vemo::logging::log(level, message);
  std::cerr.rdbuf(old_err);
  std::cout.rdbuf(old_out);
  return {err.str(), out.str()};
}

}  // namespace

TEST(Logging, WritesOneTaggedLinePerLevelToStandardErrorOnly) {
  using vemo::logging::Level;
  EXPECT_EQ(capture(Level::Debug, "a").err, "[vemo][DEBUG] a\n");
  EXPECT_EQ(capture(Level::Info, "b c").err, "[vemo][INFO] b c\n");
  EXPECT_EQ(capture(Level::Warning, "abc").err, "[vemo][WARNING] abc\n");
  EXPECT_EQ(capture(Level::Error, "x").err, "[vemo][ERROR] x\n");
  EXPECT_EQ(capture(Level::Success, "y").err, "[vemo][SUCCESS] y\n");
  EXPECT_EQ(capture(Level::Warning, "abc").out, "");
}

TEST(Logging, OutOfRangeLevelPrintsInfoAndMessagesAreNotAltered) {
  using vemo::logging::Level;
  EXPECT_EQ(capture(static_cast<Level>(7), "z").err, "[vemo][INFO] z\n");
  EXPECT_EQ(capture(static_cast<Level>(-1), "z").err, "[vemo][INFO] z\n");
  EXPECT_EQ(capture(Level::Info, "").err, "[vemo][INFO] \n");
  EXPECT_EQ(capture(Level::Error, "two\nlines").err, "[vemo][ERROR] two\nlines\n");
}

TEST(Logging, ATranscriptKeepsOnlyTheLinesOfItsOwnThread) {
  std::ostringstream err;
  std::streambuf* old_err = std::cerr.rdbuf(err.rdbuf());
  std::vector<vemo::logging::LogLine> lines;
  {
    const vemo::logging::Transcript transcript;
    vemo::logging::log(vemo::logging::Level::Info, "mine");
    // Another caller's run, logging while this one's transcript is alive.
    std::thread([] { vemo::logging::log(vemo::logging::Level::Warning, "theirs"); }).join();
    lines = transcript.lines();
  }
  std::cerr.rdbuf(old_err);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].message, "mine");
  EXPECT_EQ(err.str(), "[vemo][INFO] mine\n[vemo][WARNING] theirs\n");
}

TEST(Logging, AReplacedSinkGetsTheSameLineAndAnEmptyOneRestoresStandardError) {
  using vemo::logging::Level;
  std::string received;
  vemo::logging::setSink([&received](const std::string& line) { received += line; });
  const CapturedStreams redirected = capture(Level::Warning, "abc");
  vemo::logging::setSink({});
  EXPECT_EQ(received, "[vemo][WARNING] abc\n");
  EXPECT_EQ(redirected.err, "");
  EXPECT_EQ(capture(Level::Warning, "abc").err, "[vemo][WARNING] abc\n");
}
