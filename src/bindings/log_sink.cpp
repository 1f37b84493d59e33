#include "bindings/log_sink.hpp"

#include <pybind11/pybind11.h>

#include <iostream>

#include "vemo/core/logging.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

void writeToPythonStderr(const std::string& line) {
  if (!Py_IsInitialized()) {
    std::cerr << line;
    return;
  }
  py::gil_scoped_acquire gil;
  try {
    py::object stream = py::module_::import("sys").attr("stderr");
    if (!stream.is_none()) {
      stream.attr("write")(line);
      stream.attr("flush")();
      return;
    }
  } catch (const py::error_already_set&) {
    // A closed or broken stream must not turn a log line into a failed calibration.
  }
  std::cerr << line;
}

}  // namespace

void sendLogLinesToPythonStderr() { logging::setSink(writeToPythonStderr); }

}  // namespace vemo::bindings
