#include <pybind11/iostream.h>

#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerBenchmark(py::module_& module) {
  using namespace vemo::quality;
  py::classh<BenchmarkResult>(module, "BenchmarkResult", "One backend's benchmark outcome.")
      .def_readonly("backend_name", &BenchmarkResult::backend_name)
      .def_readonly("reprojection_error", &BenchmarkResult::reprojection_error)
      .def_readonly("held_out_reprojection_error", &BenchmarkResult::held_out_reprojection_error)
      .def_readonly("hand_eye_roundtrip_error", &BenchmarkResult::hand_eye_roundtrip_error)
      .def_readonly("camera_matrix", &BenchmarkResult::camera_matrix)
      .def_readonly("dist_coeffs", &BenchmarkResult::dist_coeffs)
      .def_readonly("timestamp", &BenchmarkResult::timestamp)
      .def_readonly("image_count", &BenchmarkResult::image_count);

  // The eye-in-hand step prints its report: through Python's sys.stdout.
  py::classh<CalibrationBenchmark>(module, "CalibrationBenchmark",
                                   "Cross-validation + optional hand-eye round-trip benchmark.")
      .def(py::init<>())
      .def("run", &CalibrationBenchmark::run, py::arg("images"), py::arg("target"), py::arg("options"),
           py::arg("robot_poses") = std::vector<cv::Mat>(), py::arg("eye_in_hand_options") = py::none(),
           py::arg("backend_name") = "OpenCV", py::arg("n_splits") = 5, py::arg("seed") = 0u,
           py::call_guard<py::scoped_ostream_redirect>())
      .def("cross_validate", &CalibrationBenchmark::crossValidate, py::arg("images"), py::arg("target"),
           py::arg("options"), py::arg("n_splits") = 5, py::arg("seed") = 0u)
      .def("hand_eye_roundtrip", &CalibrationBenchmark::handEyeRoundtrip, py::arg("images"), py::arg("robot_poses"),
           py::arg("tcp_T_camera"), py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           py::arg("target"), py::arg("camera_T_target_list"))
      .def_static("format_results", &CalibrationBenchmark::formatResults, py::arg("results"))
      .def_static("save_json", &CalibrationBenchmark::saveJson, py::arg("results"), py::arg("path"));
}

}  // namespace vemo::bindings
