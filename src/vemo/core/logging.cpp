#include "vemo/core/logging.hpp"

#include <iostream>
#include <mutex>

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

std::mutex transcripts_mutex;
Transcript* innermost_transcript = nullptr;

}  // namespace

void log(Level level, const std::string& message) {
  // Standard error is unbuffered, so each piece reaches the terminal as it is written.
  std::cerr << "[vemo][" << tagOf(level) << "] " << message << "\n";
  const std::lock_guard<std::mutex> lock(transcripts_mutex);
  for (Transcript* transcript = innermost_transcript; transcript; transcript = transcript->enclosing_) {
    transcript->lines_.push_back({level, message});
  }
}

Transcript::Transcript() {
  const std::lock_guard<std::mutex> lock(transcripts_mutex);
  enclosing_ = innermost_transcript;
  innermost_transcript = this;
}

Transcript::~Transcript() {
  const std::lock_guard<std::mutex> lock(transcripts_mutex);
  innermost_transcript = enclosing_;
}

std::vector<LogLine> Transcript::lines() const {
  const std::lock_guard<std::mutex> lock(transcripts_mutex);
  return lines_;
}

void replay(const std::vector<LogLine>& lines) {
  for (const LogLine& line : lines) log(line.level, line.message);
}

}  // namespace vemo::logging
