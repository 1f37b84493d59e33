#include "bindings/conversions.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerHandEye(py::module_& module) {
  using namespace vemo::calibration;

  module.def("hand_eye_method_by_name_map", &handEyeMethodByNameMap,
             "Map of hand-eye method names (\"TSAI\", \"PARK\", \"HORAUD\", \"ANDREFF\", \"DANIILIDIS\") to "
             "cv::HandEyeCalibrationMethod values.");

  py::classh<TargetConsistencyStats>(module, "TargetConsistencyStats",
                                     "Per-frame consistency of the recovered world_T_target.")
      .def_readonly("mean_translation_m", &TargetConsistencyStats::mean_translation_m)
      .def_readonly("max_translation_m", &TargetConsistencyStats::max_translation_m)
      .def_readonly("mean_rotation_deg", &TargetConsistencyStats::mean_rotation_deg)
      .def_readonly("max_rotation_deg", &TargetConsistencyStats::max_rotation_deg)
      .def_readonly("translation_deviations_m", &TargetConsistencyStats::translation_deviations_m)
      .def_readonly("rotation_deviations_deg", &TargetConsistencyStats::rotation_deviations_deg)
      .def_readonly("distances_m", &TargetConsistencyStats::distances_m)
      .def_readonly("board_us", &TargetConsistencyStats::board_us)
      .def_readonly("board_vs", &TargetConsistencyStats::board_vs);

  py::classh<HandEyeResult>(module, "HandEyeResult", "Result of EyeInHandCalibrator.calibrate().")
      .def_readonly("ok", &HandEyeResult::ok)
      .def_readonly("tcp_T_camera", &HandEyeResult::tcp_T_camera)
      .def_readonly("intrinsic_matrix", &HandEyeResult::intrinsic_matrix)
      .def_readonly("distortion_coefficients", &HandEyeResult::distortion_coefficients)
      .def_readonly("reprojection_error", &HandEyeResult::reprojection_error)
      .def_readonly("valid_robot_T_tcp_list", &HandEyeResult::valid_robot_T_tcp_list)
      .def_readonly("valid_image_list", &HandEyeResult::valid_image_list)
      .def_readonly("camera_T_target_list", &HandEyeResult::camera_T_target_list)
      .def_readonly("has_consistency", &HandEyeResult::has_consistency)
      .def_readonly("consistency", &HandEyeResult::consistency);

  using AlignedTargetPoses = EyeInHandCalibrator::AlignedTargetPoses;
  py::classh<AlignedTargetPoses>(module, "AlignedTargetPoses")
      .def_readonly("camera_T_target_list", &AlignedTargetPoses::camera_T_target_list)
      .def_readonly("valid_image_list", &AlignedTargetPoses::valid_image_list)
      .def_readonly("valid_robot_T_tcp_list", &AlignedTargetPoses::valid_robot_T_tcp_list);

  py::classh<EyeInHandCalibrator> calibrator(module, "EyeInHandCalibrator",
                                             "Eye-in-hand (camera-on-flange) hand-eye calibrator.");
  calibrator
      .def(py::init<Target, IntrinsicOptions>(), py::arg("target"),
           py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"))
      // output_path defaults to the Python string "", which converts to the empty path (save
      // nothing); a default std::filesystem::path() would reach Python as Path(".") and come
      // back as the current directory.
      .def("calibrate", lockedWithoutGil(&EyeInHandCalibrator::calibrate), py::arg("robot_T_tcp_list"),
           py::arg("image_list"), py::arg("method") = "TSAI", py::arg("camera_T_target_list") = std::vector<cv::Mat>(),
           py::arg("intrinsic_matrix") = cv::Mat(), py::arg("distortion_coefficients") = cv::Mat(),
           py::arg("output_path") = py::str(""))
      .def("compute_camera_T_target_list", lockedWithoutGil(&EyeInHandCalibrator::computeCameraTTargetList),
           py::arg("image_list"), py::arg("robot_T_tcp_list"), py::arg("intrinsic_matrix"),
           py::arg("distortion_coefficients"))
      .def("corner_images", lockedWithoutGil(&EyeInHandCalibrator::cornerImages))
      .def("last_intrinsic_result", lockedWithoutGil(&EyeInHandCalibrator::lastIntrinsicResult),
           "IntrinsicResult of the last run that calibrated the intrinsics (ok False before one).")
      .def("intrinsic_reprojection_residuals", lockedWithoutGil(&EyeInHandCalibrator::intrinsicReprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           "Per view of that calibration, detected minus projected corners (N, 2) in pixels.")
      .def("target", &EyeInHandCalibrator::target)
      .def("format_results", lockedWithoutGil(&EyeInHandCalibrator::formatResults))
      .def("print_results", lockedWithoutGil(&EyeInHandCalibrator::printResults))
      .def("last_result", lockedWithoutGil(&EyeInHandCalibrator::lastResult));

  const auto axes = [](const cv::Vec3d& values) { return std::vector<double>{values[0], values[1], values[2]}; };
  py::classh<HandEyeRefinement>(module, "HandEyeRefinement", "Result of EyeInHandCalibrator.refine().")
      .def_readonly("ok", &HandEyeRefinement::ok)
      .def_readonly("converged", &HandEyeRefinement::converged)
      .def_readonly("iterations", &HandEyeRefinement::iterations)
      .def_readonly("tcp_T_camera", &HandEyeRefinement::tcp_T_camera)
      .def_readonly("base_T_target", &HandEyeRefinement::base_T_target)
      .def_readonly("intrinsic_matrix", &HandEyeRefinement::intrinsic_matrix)
      .def_readonly("distortion_coefficients", &HandEyeRefinement::distortion_coefficients)
      .def_readonly("rms_before_px", &HandEyeRefinement::rms_before_px)
      .def_readonly("rms_after_px", &HandEyeRefinement::rms_after_px)
      .def_readonly("per_capture_rms_px", &HandEyeRefinement::per_capture_rms_px)
      .def_property_readonly("sigma_translation_mm",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_translation_mm); })
      .def_property_readonly("sigma_rotation_deg",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_rotation_deg); })
      .def_readonly("image_noise_px", &HandEyeRefinement::image_noise_px)
      .def_readonly("robot_noise_translation_mm", &HandEyeRefinement::robot_noise_translation_mm)
      .def_readonly("robot_noise_rotation_deg", &HandEyeRefinement::robot_noise_rotation_deg);

  // Bound once its result class is: a signature naming an unregistered class shows as "...",
  // which the type stubs cannot carry.
  calibrator
      .def("refine", lockedWithoutGil(&EyeInHandCalibrator::refine), py::arg("refine_intrinsics") = false,
           py::arg("loss_scale_px") = 1.0,
           "Refines the last run's tcp_T_camera and target pose jointly against its corner pixels.")
      .def("format_refinement", lockedWithoutGil(&EyeInHandCalibrator::formatRefinement));
}

}  // namespace vemo::bindings
