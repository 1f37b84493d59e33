#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/quality/rotation_variety.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerDiagnostics(py::module_& diagnostics) {
  using vemo::quality::RotationVarietyStats;
  py::classh<RotationVarietyStats>(diagnostics, "RotationVarietyStats")
      .def_readonly("num_motions", &RotationVarietyStats::num_motions)
      .def_readonly("singular_values", &RotationVarietyStats::singular_values)
      .def_readonly("axis_span_ratio", &RotationVarietyStats::axis_span_ratio)
      .def_readonly("angle_mean_deg", &RotationVarietyStats::angle_mean_deg)
      .def_readonly("angle_max_deg", &RotationVarietyStats::angle_max_deg);
  diagnostics.def("analyze_rotation_variety", &vemo::quality::analyzeRotationVariety,
                  py::arg("camera_T_target_list"), py::arg("min_rotation_deg") = vemo::quality::kDefaultMinRotationDeg);
  diagnostics.def("format_rotation_variety", &vemo::quality::formatRotationVariety, py::arg("stats"));
}

}  // namespace vemo::bindings
