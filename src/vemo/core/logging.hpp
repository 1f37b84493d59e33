#pragma once

// Folder core/: what every floor uses: console logging (here), the parallel map
// (parallel_map.hpp) and the sink of the printed reports (report_output.hpp).

#include <functional>
#include <string>
#include <vector>

namespace vemo::logging {

// Severity of a console line; the value selects the tag printed in brackets.
enum class Level : int { Debug = 0, Info = 1, Warning = 2, Error = 3, Success = 4 };

// Writes "[vemo][TAG] message\n" to the sink, by default standard error. Every call
// prints: there is no level filter. A value outside the enumeration prints as INFO. The
// message is written unchanged (embedded newlines are not indented).
void log(Level level, const std::string& message);

// Receives each complete line, newline included.
using Sink = std::function<void(const std::string& line)>;

// Sends later lines to `sink` instead; an empty function restores standard error. For a
// host that owns its own error stream (the Python module sends lines to sys.stderr).
// Not synchronised with log: set it before logging starts.
void setSink(Sink sink);

struct LogLine {
  Level level;
  std::string message;
};

// While alive, keeps a copy of every line its thread logs, which is still written as
// usual: work done once can then be reported as often as independent runs would have
// reported it. The library's work logs only from the calling thread (its parallel loops
// log afterwards, vemo/core/parallel_map.hpp), so a transcript holds its work's lines and
// none of another caller's running at the same time. Transcripts of one thread nest (each
// keeps every line); destroy them in reverse order of creation.
class Transcript {
 public:
  Transcript();
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  std::vector<LogLine> lines() const;

 private:
  friend void log(Level level, const std::string& message);
  Transcript* enclosing_;
  std::vector<LogLine> lines_;
};

// Logs the lines again, in order.
void replay(const std::vector<LogLine>& lines);

// While alive, holds back the lines its thread logs and logs them, in order, when it is
// destroyed. For work done under a lock that a sink may wait for: the Python sink takes
// the interpreter lock, whose holder may be waiting for the same lock, or may write
// through a stream that takes it. Create it before the lock, so that it outlives it.
class HeldLines {
 public:
  HeldLines();
  ~HeldLines();
  HeldLines(const HeldLines&) = delete;
  HeldLines& operator=(const HeldLines&) = delete;

 private:
  friend void log(Level level, const std::string& message);
  HeldLines* enclosing_;
  std::vector<LogLine> lines_;
};

}  // namespace vemo::logging
