#include "bindings/report_output.hpp"

#include <pybind11/pybind11.h>

#include <iostream>
#include <string>

#include "vemo/core/report_output.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void routeReportsToSysStdout() {
  vemo::report::setSink([](const std::string& text) {
    // The library may run without the interpreter lock; writing to a Python object needs it.
    py::gil_scoped_acquire gil;
    const py::object out = py::module_::import("sys").attr("stdout");
    if (out.is_none()) {  // an interpreter without a console (pythonw)
      std::cout << text << std::flush;
      return;
    }
    out.attr("write")(py::str(text));
    out.attr("flush")();
  });
}

}  // namespace vemo::bindings
