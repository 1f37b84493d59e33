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

Sink& currentSink() {
  static Sink sink;
  return sink;
}

}  // namespace

void log(Level level, const std::string& message) {
  const std::string line = std::string("[vemo][") + tagOf(level) + "] " + message + "\n";
  if (const Sink& sink = currentSink()) {
    sink(line);
  } else {
    // Standard error is unbuffered: the line reaches the terminal in one write.
    std::cerr << line;
  }
}

void setSink(Sink sink) { currentSink() = std::move(sink); }

}  // namespace vemo::logging
