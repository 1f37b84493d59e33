#include "vemo/core/report_output.hpp"

#include <iostream>
#include <utility>

namespace vemo::report {

namespace {

Sink& currentSink() {
  static Sink sink;
  return sink;
}

}  // namespace

void write(const std::string& text) {
  const Sink& sink = currentSink();
  if (sink) {
    sink(text);
  } else {
    std::cout << text << std::flush;
  }
}

void setSink(Sink sink) { currentSink() = std::move(sink); }

}  // namespace vemo::report
