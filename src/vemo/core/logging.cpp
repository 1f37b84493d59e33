#include "vemo/core/logging.hpp"

#include <iostream>

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

thread_local Transcript* innermost_transcript = nullptr;

}  // namespace

void log(Level level, const std::string& message) {
  // Standard error is unbuffered, so each piece reaches the terminal as it is written.
  std::cerr << "[vemo][" << tagOf(level) << "] " << message << "\n";
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

}  // namespace vemo::logging
