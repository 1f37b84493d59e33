#pragma once

// Where the text reports of the calibrators go when a caller asks for them to be printed
// (log lines go to standard error through vemo/core/logging.hpp instead). One sink for
// every report: a host embedding the library, such as the Python module, replaces it once
// so that all reports reach its own output stream.

#include <functional>
#include <string>

namespace vemo::report {

// Receives a whole report and must have written it out (flushed) when it returns.
using Sink = std::function<void(const std::string& text)>;

// Writes the text unchanged through the current sink; the default sink writes to
// std::cout and flushes it.
void write(const std::string& text);

// Replaces the sink; an empty function restores the default. Not synchronised: set it
// before reports can be written from other threads.
void setSink(Sink sink);

}  // namespace vemo::report
