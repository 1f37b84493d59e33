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

}  // namespace

void log(Level level, const std::string& message) {
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

void setSink(Sink sink) { currentSink() = std::move(sink); }

}  // namespace vemo::logging
