#include "bindings/conversions.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/hand_eye/eye_to_hand_calibrator.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerEyeToHand(py::module_& module) {
  using namespace vemo::calibration;

  py::classh<EyeToHandResult>(module, "EyeToHandResult",
                              "Result of EyeToHandCalibrator.calibrate(): base_T_camera (4, 4) and tcp_T_target "
                              "(4, 4), metres.")
      .def_readonly("ok", &EyeToHandResult::ok)
      .def_readonly("base_T_camera", &EyeToHandResult::base_T_camera)
      .def_readonly("tcp_T_target", &EyeToHandResult::tcp_T_target)
      .def_readonly("intrinsic_matrix", &EyeToHandResult::intrinsic_matrix)
      .def_readonly("distortion_coefficients", &EyeToHandResult::distortion_coefficients)
      .def_readonly("reprojection_error", &EyeToHandResult::reprojection_error)
      .def_readonly("valid_robot_T_tcp_list", &EyeToHandResult::valid_robot_T_tcp_list)
      .def_readonly("valid_image_list", &EyeToHandResult::valid_image_list)
      .def_readonly("camera_T_target_list", &EyeToHandResult::camera_T_target_list)
      .def_readonly("has_consistency", &EyeToHandResult::has_consistency)
      .def_readonly("consistency", &EyeToHandResult::consistency);

  py::classh<EyeToHandCalibrator>(module, "EyeToHandCalibrator",
                                  "Eye-to-hand (camera fixed in the cell, target on the flange) hand-eye calibrator.")
      .def(py::init<Target, IntrinsicOptions>(), py::arg("target"),
           py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"))
      // "" rather than a default path, for the reason given on EyeInHandCalibrator.calibrate.
      // Long calls run without the interpreter lock, under the object's lock (gil_release.hpp).
      .def("calibrate", lockedWithoutGil(&EyeToHandCalibrator::calibrate), py::arg("robot_T_tcp_list"),
           py::arg("image_list"), py::arg("method") = "TSAI", py::arg("camera_T_target_list") = std::vector<cv::Mat>(),
           py::arg("intrinsic_matrix") = cv::Mat(), py::arg("distortion_coefficients") = cv::Mat(),
           py::arg("output_path") = py::str(""))
      .def("corner_images", lockedWithoutGil(&EyeToHandCalibrator::cornerImages))
      .def("last_intrinsic_result", lockedWithoutGil(&EyeToHandCalibrator::lastIntrinsicResult),
           "IntrinsicResult of the last run that calibrated the intrinsics (ok False before one).")
      .def("intrinsic_reprojection_residuals", lockedWithoutGil(&EyeToHandCalibrator::intrinsicReprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           "Per view of that calibration, detected minus projected corners (N, 2) in pixels.")
      .def("target", &EyeToHandCalibrator::target)
      .def("format_results", lockedWithoutGil(&EyeToHandCalibrator::formatResults))
      .def("print_results", lockedWithoutGil(&EyeToHandCalibrator::printResults))
      .def("last_result", lockedWithoutGil(&EyeToHandCalibrator::lastResult));
}

}  // namespace vemo::bindings
