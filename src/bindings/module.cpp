#include "bindings/log_sink.hpp"
#include "bindings/register.hpp"
#include "bindings/report_output.hpp"
#include "vemo/core/fork_safe_parallelism.hpp"

namespace py = pybind11;
using namespace vemo::bindings;

// PYBIND11_MODULE gives the multi-phase entry PyInit__vemo and the interpreter version
// check; the body below is the module-execution step.
PYBIND11_MODULE(_vemo, module) {
  module.doc() =
      "Compiled C++ core of quorvantine-vemo: targets, calibration, geometry, quality, io. "
      "Not meant to be imported directly  -  use the quorvantine.vemo Python package.";

  sendLogLinesToPythonStderr();
  routeReportsToSysStdout();
  vemo::runParallelLoopsSeriallyInForkedChildren();

  py::module_ tf = module.def_submodule("tf", "SE(3) pose <-> 4x4 transformation matrix conversions.");
  registerTf(tf);
  registerTargets(module);
  registerVerdict(module);
  registerIntrinsic(module);
  registerHandEye(module);
  registerEyeToHand(module);
  registerMultiCamera(module);
  py::module_ diagnostics = module.def_submodule("diagnostics", "Diagnostics for hand-eye calibration data and solvers.");
  registerDiagnostics(diagnostics);
  registerBenchmark(module);
  py::module_ io = module.def_submodule("io", "On-disk persistence for calibration datasets and results.");
  registerIo(io);
  py::module_ synthetic = module.def_submodule("synthetic", "Rendered views of calibration targets with known geometry.");
  registerSynthetic(synthetic);
  // Names added after the others go last, so that the others keep their order. Their
  // classes are registered where they belong all the same, for the signatures (and stubs)
  // that name them.
  for (const char* name : {"Suspect", "Verdict", "VerdictOptions", "format_verdict", "EyeToHandRefinement",
                           "RigRefinement", "StereoRectification", "stereo_rectify"}) {
    py::object item = module.attr(name);
    py::delattr(module, name);
    module.attr(name) = item;
  }
}
