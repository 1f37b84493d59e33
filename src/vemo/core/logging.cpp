#include "vemo/core/logging.hpp"

#include <iostream>
#include <utility>

namespace vemo::logging {

namespace {

const char* tagOf(Level level) {
  switch (level) {
    case Level::Debug: return "DEBUG";
    case Level::Warning: return "WARNING";
    case Level::Error: return "ERROR";
    case Level::Success: return "SUCCESS";
    default: return "INFO";
  }
}

Sink& currentSink() {
  static Sink sink;
  return sink;
}

thread_local Transcript* innermost_transcript = nullptr;
thread_local HeldLines* innermost_held_lines = nullptr;

}  // namespace

void log(Level level, const std::string& message) {
  if (innermost_held_lines) {
    innermost_held_lines->lines_.push_back({level, message});
    return;
  }
  const std::string line = std::string("[vemo][") + tagOf(level) + "] " + message + "\n";
  if (const Sink& sink = currentSink()) {
    sink(line);
  } else {
    // Standard error is unbuffered: the line reaches the terminal in one write.
    std::cerr << line;
  }
  for (Transcript* transcript = innermost_transcript; transcript; transcript = transcript->enclosing_) {
    transcript->lines_.push_back({level, message});
  }
}

Transcript::Transcript() {
  enclosing_ = innermost_transcript;
  innermost_transcript = this;
}

Transcript::~Transcript() {
  innermost_transcript = enclosing_;
}

std::vector<LogLine> Transcript::lines() const {
  return lines_;
}

void replay(const std::vector<LogLine>& lines) {
  for (const LogLine& line : lines) log(line.level, line.message);
}

HeldLines::HeldLines() : enclosing_(innermost_held_lines) { innermost_held_lines = this; }

HeldLines::~HeldLines() {
  innermost_held_lines = enclosing_;
  try {
    replay(lines_);
  } catch (...) {
    // A sink that fails must not end the process from a destructor; the lines are lost.
  }
}

void setSink(Sink sink) { currentSink() = std::move(sink); }

}  // namespace vemo::logging
