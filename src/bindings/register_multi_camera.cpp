#include "bindings/conversions.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/rig/multi_camera_calibrator.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerMultiCamera(py::module_& module) {
  using namespace vemo::calibration;

  module.attr("CALIB_FIX_INTRINSIC") = kCalibFixIntrinsic;
  module.attr("CALIB_USE_INTRINSIC_GUESS") = kCalibUseIntrinsicGuess;

  py::classh<TriangulationReport>(module, "TriangulationReport",
                                  "Triangulation validation report for one synchronized frame.")
      .def_readonly("frame_index", &TriangulationReport::frame_index)
      .def_readonly("points_3d", &TriangulationReport::points_3d, "(N, 3) float64, reference camera frame, metres")
      .def_readonly("ids", &TriangulationReport::ids, "(N, 1) int32 ChArUco corner ids")
      .def_readonly("neighbor_distances_m", &TriangulationReport::neighbor_distances_m)
      .def_readonly("plane_thickness_m", &TriangulationReport::plane_thickness_m)
      .def_readonly("rms_per_camera", &TriangulationReport::rms_per_camera)
      .def_readonly("counts_per_camera", &TriangulationReport::counts_per_camera);

  py::classh<MultiCameraResult>(module, "MultiCameraResult", "Result of MultiCameraCalibrator.calibrate().")
      .def_readonly("ok", &MultiCameraResult::ok)
      .def_readonly("reference_index", &MultiCameraResult::reference_index)
      .def_readonly("reference_T_camera_list", &MultiCameraResult::reference_T_camera_list,
                    "(4, 4) per camera; (0, 0) for a camera whose pair was skipped")
      .def_readonly("intrinsic_matrices", &MultiCameraResult::intrinsic_matrices)
      .def_readonly("distortion_coefficients", &MultiCameraResult::distortion_coefficients)
      .def_readonly("intrinsic_reprojection_errors", &MultiCameraResult::intrinsic_reprojection_errors)
      .def_readonly("pair_reprojection_errors", &MultiCameraResult::pair_reprojection_errors);

  py::classh<SubsetResult>(module, "SubsetResult", "Result of one entry of MultiCameraCalibrator.calibrate_subsets().")
      .def_readonly("subset", &SubsetResult::subset)
      .def_readonly("result", &SubsetResult::result)
      .def_readonly("has_triangulation", &SubsetResult::has_triangulation)
      .def_readonly("triangulation", &SubsetResult::triangulation);

  py::classh<MultiCameraCalibrator>(module, "MultiCameraCalibrator",
                                    "Multi-camera extrinsic calibrator built on cv::stereoCalibrate.")
      .def(py::init<Target, int, int, IntrinsicOptions, int>(), py::arg("target"), py::arg("num_cameras"),
           py::arg("reference_index") = 0,
           py::arg_v("options", MultiCameraCalibrator::defaultOptions(), "MultiCameraCalibrator.default_options()"),
           py::arg("stereo_calibrate_flags") = kCalibFixIntrinsic)
      .def_static("default_options", &MultiCameraCalibrator::defaultOptions)
      .def("target", &MultiCameraCalibrator::target)
      .def("num_cameras", &MultiCameraCalibrator::numCameras)
      .def("reference_index", &MultiCameraCalibrator::referenceIndex)
      // output_path defaults to the string "", the empty path (save nothing), not Path(".").
      .def("calibrate", lockedWithoutGil(&MultiCameraCalibrator::calibrate), py::arg("image_lists"),
           py::arg("intrinsic_matrices") = std::vector<cv::Mat>(),
           py::arg("distortion_coefficients") = std::vector<cv::Mat>(), py::arg("output_path") = py::str(""),
           "image_lists[c][f]: frame f of camera c, BGR (H, W, 3) uint8. Intrinsics are calibrated unless both "
           "lists are given. Prints the report; saves multi_camera_calibration.json when output_path is given.")
      .def("last_result", lockedWithoutGil(&MultiCameraCalibrator::lastResult))
      .def("triangulate", lockedWithoutGil(&MultiCameraCalibrator::triangulate), py::arg("image_lists"),
           py::arg("frame_index") = 0)
      .def("format_results", lockedWithoutGil(&MultiCameraCalibrator::formatResults))
      .def("print_results", lockedWithoutGil(&MultiCameraCalibrator::printResults))
      .def("calibrate_subsets", lockedWithoutGil(&MultiCameraCalibrator::calibrateSubsets),
           py::arg("image_lists"), py::arg("subset_sizes") = std::vector<int>{2, 3}, py::arg("frame_index") = 0);
}

}  // namespace vemo::bindings
