#include "bindings/register.hpp"

namespace py = pybind11;
using namespace vemo::bindings;

// PYBIND11_MODULE gives the multi-phase entry PyInit__vemo and the interpreter version
// check; the body below is the module-execution step.
PYBIND11_MODULE(_vemo, module) {
  module.doc() =
      "Compiled C++ core of quorvantine-vemo: targets, calibration, geometry, quality, io. "
      "Not meant to be imported directly  -  use the quorvantine.vemo Python package.";

  py::module_ tf = module.def_submodule("tf", "SE(3) pose <-> 4x4 transformation matrix conversions.");
  registerTf(tf);
  registerIntrinsic(module);
  py::module_ io = module.def_submodule("io", "On-disk persistence for calibration datasets and results.");
  registerIo(io);
}
