#include <pybind11/iostream.h>

#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/evaluation/hand_eye_method_comparison.hpp"
#include "vemo/evaluation/method_agreement.hpp"
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

  using namespace vemo::quality;
  py::classh<HandEyeMethodResult>(diagnostics, "HandEyeMethodResult")
      .def_readonly("method_name", &HandEyeMethodResult::method_name)
      .def_readonly("tcp_T_camera", &HandEyeMethodResult::tcp_T_camera)
      .def_readonly("pose_deg", &HandEyeMethodResult::pose_deg)
      .def_readonly("consistency", &HandEyeMethodResult::consistency);
  // Every run prints its report; through Python's sys.stdout, like the calibrator's own.
  diagnostics.def("compare_hand_eye_methods", &compareHandEyeMethods, py::arg("target"), py::arg("robot_T_tcp_list"),
                  py::arg("image_list"), py::arg("camera_T_target_list"), py::arg("intrinsic_matrix"),
                  py::arg("distortion_coefficients"), py::arg("per_view_error_threshold") = 1.0,
                  py::call_guard<py::scoped_ostream_redirect>());
  diagnostics.def("format_method_comparison", &formatMethodComparison, py::arg("method_results"),
                  py::arg("consensus_threshold_deg") = 1.5);

  py::classh<MethodDeviation>(diagnostics, "MethodDeviation",
                              "One method's distance (mm) and rotation angle (deg) from the methods' median.")
      .def_readonly("method_name", &MethodDeviation::method_name)
      .def_readonly("translation_mm", &MethodDeviation::translation_mm)
      .def_readonly("rotation_deg", &MethodDeviation::rotation_deg);
  py::classh<MethodAgreement>(diagnostics, "MethodAgreement",
                              "Agreement of the hand-eye methods in translation and rotation.")
      .def_readonly("median_tcp_T_camera", &MethodAgreement::median_tcp_T_camera)
      .def_readonly("deviations", &MethodAgreement::deviations)
      .def_readonly("translation_outliers", &MethodAgreement::translation_outliers)
      .def_readonly("rotation_outliers", &MethodAgreement::rotation_outliers)
      .def_readonly("translation_threshold_mm", &MethodAgreement::translation_threshold_mm)
      .def_readonly("rotation_threshold_deg", &MethodAgreement::rotation_threshold_deg);
  diagnostics.def("assess_method_agreement", &assessMethodAgreement, py::arg("method_results"),
                  py::arg("translation_threshold_mm") = kDefaultTranslationAgreementMm,
                  py::arg("rotation_threshold_deg") = kDefaultRotationAgreementDeg,
                  "Each method's distance from the median translation and angle from the median rotation, with the "
                  "outliers beyond the thresholds (inclusive); None with fewer than 2 results.");
  diagnostics.def("format_method_agreement", &formatMethodAgreement, py::arg("agreement"));
}

}  // namespace vemo::bindings
