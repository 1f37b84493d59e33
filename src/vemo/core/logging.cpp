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

}  // namespace

void log(Level level, const std::string& message) {
  // Standard error is unbuffered, so each piece reaches the terminal as it is written.
  std::cerr << "[vemo][" << tagOf(level) << "] " << message << "\n";
}

}  // namespace vemo::logging
