#pragma once

#include <pybind11/pybind11.h>

// One registration routine per group of the module; module.cpp calls them in the
// module's published order.
namespace vemo::bindings {

void registerTf(pybind11::module_& tf);
void registerTargets(pybind11::module_& module);
void registerVerdict(pybind11::module_& module);
void registerIntrinsic(pybind11::module_& module);
void registerHandEye(pybind11::module_& module);
void registerEyeToHand(pybind11::module_& module);
void registerMultiCamera(pybind11::module_& module);
void registerDiagnostics(pybind11::module_& diagnostics);
void registerBenchmark(pybind11::module_& module);
void registerIo(pybind11::module_& io);
void registerSynthetic(pybind11::module_& synthetic);

}  // namespace vemo::bindings
