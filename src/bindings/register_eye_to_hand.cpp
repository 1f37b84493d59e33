#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/hand_eye/eye_to_hand_calibrator.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

using calibration::EyeToHandRefinement;
using calibration::HandEyeRefinement;

// A field of the chain's refinement, as a property of the eye-to-hand one.
template <class Field>
auto fromChain(Field HandEyeRefinement::*field) {
  return [field](const EyeToHandRefinement& refinement) { return refinement.chain.*field; };
}

template <>
auto fromChain(cv::Vec3d HandEyeRefinement::*field) {
  return [field](const EyeToHandRefinement& refinement) {
    const cv::Vec3d& values = refinement.chain.*field;
    return std::vector<double>{values[0], values[1], values[2]};
  };
}

void registerEyeToHandRefinement(py::module_& module) {
  py::classh<EyeToHandRefinement>(module, "EyeToHandRefinement", "Result of EyeToHandCalibrator.refine().")
      .def_property_readonly("ok", fromChain(&HandEyeRefinement::ok), "True when the solver returned a usable solution")
      .def_property_readonly("converged", fromChain(&HandEyeRefinement::converged),
                             "True when it stopped because it converged, not on the iteration limit")
      .def_property_readonly("iterations", fromChain(&HandEyeRefinement::iterations), "solver iterations")
      .def_property_readonly("loss_scale_px", fromChain(&HandEyeRefinement::loss_scale_px),
                             "the Huber scale the fit used, pixels")
      .def_property_readonly("loss_scale_corner_noise_px", fromChain(&HandEyeRefinement::loss_scale_corner_noise_px),
                             "the corners' robust noise per axis that refine_at_noise_scale() chose the\n"
                             "scale from, pixels; NaN when the scale was given")
      .def_property_readonly("redescending_scale_px", fromChain(&HandEyeRefinement::redescending_scale_px),
                             "the scale of Tukey's biweight that refine_at_noise_scale() goes on with from\n"
                             "the Huber one, pixels; NaN when the Huber fit is the solution")
      .def_property_readonly("base_T_camera", fromChain(&HandEyeRefinement::tcp_T_camera),
                             "(4, 4) float64 refined pose of the camera in the robot base frame, metres")
      .def_property_readonly("tcp_T_target", fromChain(&HandEyeRefinement::base_T_target),
                             "(4, 4) float64 refined pose of the target in the flange frame, metres")
      .def_property_readonly("intrinsic_matrix", fromChain(&HandEyeRefinement::intrinsic_matrix),
                             "(3, 3) camera matrix, refined or as given when held fixed")
      .def_property_readonly("distortion_coefficients", fromChain(&HandEyeRefinement::distortion_coefficients),
                             "distortion coefficients, refined or as given when held fixed")
      .def_property_readonly("rms_before_px", fromChain(&HandEyeRefinement::rms_before_px),
                             "RMS of the corners' reprojection distances at the start, pixels")
      .def_property_readonly("rms_after_px", fromChain(&HandEyeRefinement::rms_after_px),
                             "the same after the refinement, pixels")
      .def_property_readonly("rms_with_pose_errors_px", fromChain(&HandEyeRefinement::rms_with_pose_errors_px),
                             "RMS after the refinement with the robot pose errors it estimated applied, pixels")
      .def_property_readonly("sigma_with_intrinsics_translation_mm",
                             fromChain(&HandEyeRefinement::sigma_with_intrinsics_translation_mm),
                             "1-sigma of base_T_camera's translation including the intrinsics' own error, mm")
      .def_property_readonly("sigma_with_intrinsics_rotation_deg",
                             fromChain(&HandEyeRefinement::sigma_with_intrinsics_rotation_deg),
                             "1-sigma of base_T_camera's rotation including the intrinsics' own error, degrees")
      .def_property_readonly("per_capture_rms_px", fromChain(&HandEyeRefinement::per_capture_rms_px),
                             "RMS after the refinement per capture, pixels")
      .def_property_readonly("sigma_translation_mm", fromChain(&HandEyeRefinement::sigma_translation_mm),
                             "1-sigma of base_T_camera's translation along the base frame's x, y, z axes, mm")
      .def_property_readonly("sigma_rotation_deg", fromChain(&HandEyeRefinement::sigma_rotation_deg),
                             "1-sigma of base_T_camera's rotation about the base frame's x, y, z axes, degrees")
      .def_property_readonly("sigma_target_translation_mm", fromChain(&HandEyeRefinement::sigma_target_translation_mm),
                             "1-sigma of tcp_T_target's translation along the flange frame's axes, mm")
      .def_property_readonly("sigma_target_rotation_deg", fromChain(&HandEyeRefinement::sigma_target_rotation_deg),
                             "1-sigma of tcp_T_target's rotation about the flange frame's axes, degrees")
      .def_property_readonly("image_noise_px", fromChain(&HandEyeRefinement::image_noise_px),
                             "corner noise per axis, pixels")
      .def_property_readonly("robot_noise_translation_mm", fromChain(&HandEyeRefinement::robot_noise_translation_mm),
                             "robot pose noise per axis beyond the image noise, mm; 0 when the captures show none")
      .def_property_readonly("robot_noise_rotation_deg", fromChain(&HandEyeRefinement::robot_noise_rotation_deg),
                             "robot rotation noise per axis beyond the image noise, degrees; 0 when none shows");
}

}  // namespace

void registerEyeToHand(py::module_& module) {
  using namespace vemo::calibration;
  using docs::join;

  py::classh<EyeToHandResult>(module, "EyeToHandResult",
                              "Result of EyeToHandCalibrator.calibrate(): base_T_camera (4, 4) and tcp_T_target "
                              "(4, 4), metres.")
      .def_readonly("ok", &EyeToHandResult::ok, docs::kResultOk)
      .def_readonly("base_T_camera", &EyeToHandResult::base_T_camera,
                    "(4, 4) float64 pose of the camera in the robot base frame, metres; (0, 0) when not solved")
      .def_readonly("tcp_T_target", &EyeToHandResult::tcp_T_target,
                    "(4, 4) float64 pose of the target in the flange (TCP) frame, metres: the mean of the\n"
                    "captures' inverse(robot_T_tcp) @ base_T_camera @ camera_T_target")
      .def_readonly("intrinsic_matrix", &EyeToHandResult::intrinsic_matrix, docs::kResultIntrinsicMatrix)
      .def_readonly("distortion_coefficients", &EyeToHandResult::distortion_coefficients, docs::kResultDistortion)
      .def_readonly("reprojection_error", &EyeToHandResult::reprojection_error, docs::kResultReprojectionError)
      .def_readonly("valid_robot_T_tcp_list", &EyeToHandResult::valid_robot_T_tcp_list,
                    "(4, 4) robot poses (robot_T_tcp, not inverted) of the captures used")
      .def_readonly("valid_image_list", &EyeToHandResult::valid_image_list, docs::kResultImages)
      .def_readonly("camera_T_target_list", &EyeToHandResult::camera_T_target_list, docs::kResultCameraTTargetList)
      .def_readonly("has_consistency", &EyeToHandResult::has_consistency, docs::kResultHasConsistency)
      .def_readonly("consistency", &EyeToHandResult::consistency,
                    "TargetConsistencyStats: how far each capture's tcp_T_target lies from tcp_T_target")
      .def_readonly("verdict", &EyeToHandResult::verdict, docs::kResultVerdict);

  py::classh<EyeToHandCalibrator> calibrator(
      module, "EyeToHandCalibrator", "Eye-to-hand (camera fixed in the cell, target on the flange) hand-eye calibrator.");
  calibrator
      .def(py::init<Target, IntrinsicOptions>(), py::arg("target"),
           py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"),
           "target: ChessboardTarget, CharucoTarget or ArucoTarget, carried on the flange. options:\n"
           "the intrinsic calibration a run performs when it is given no camera matrix. Both copied.")
      // "" rather than a default path, for the reason given on EyeInHandCalibrator.calibrate.
      // Long calls run without the interpreter lock, under the object's lock (gil_release.hpp).
      .def("calibrate", lockedWithoutGil(&EyeToHandCalibrator::calibrate), py::arg("robot_T_tcp_list"),
           py::arg("image_list"), py::arg("method") = "TSAI", py::arg("camera_T_target_list") = std::vector<cv::Mat>(),
           py::arg("intrinsic_matrix") = cv::Mat(), py::arg("distortion_coefficients") = cv::Mat(),
           py::arg("output_path") = py::str(""),
           join("Solves base_T_camera, the pose of a camera fixed in the cell, and tcp_T_target, the\n"
                "pose of the target on the flange.\n\n"
                "Every capture closes robot_T_tcp @ tcp_T_target = base_T_camera @ camera_T_target;\n"
                "the run is the eye-in-hand run on inverted flange poses.\n\n",
                docs::kHandEyeTargetPoseSources,
                "\n\nWhen the solve runs, the result is kept for last_result() and format_results(),\n"
                "its report printed to sys.stdout and, given output_path, saved.",
                docs::kArguments, docs::kRobotTTcpList, docs::kHandEyeImageList,
                docs::kHandEyeMethod, docs::handEyePoseSourceArguments(),
                "- output_path: where to save the result as eye_to_hand.json", docs::kResultPathRule,
                docs::kOutputPathSuffix, docs::kReturns,
                "EyeToHandResult; robot translations and target lengths share one unit (metres).\n\n",
                docs::kHandEyeRunFailures, docs::kRaises, docs::kHandEyeRunRaises)
               .c_str())
      .def("corner_images", lockedWithoutGil(&EyeToHandCalibrator::cornerImages), docs::kCornerImages)
      .def("last_intrinsic_result", lockedWithoutGil(&EyeToHandCalibrator::lastIntrinsicResult),
           docs::kLastIntrinsicResult)
      .def("intrinsic_reprojection_residuals", lockedWithoutGil(&EyeToHandCalibrator::intrinsicReprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           docs::intrinsicReprojectionResiduals().c_str())
      .def("target", &EyeToHandCalibrator::target, docs::kTargetAccessor)
      .def_property("verdict_options", &EyeToHandCalibrator::verdictOptions, &EyeToHandCalibrator::setVerdictOptions,
                    docs::kVerdictOptions)
      .def("format_results", lockedWithoutGil(&EyeToHandCalibrator::formatResults),
           "The text report of the last result: base_T_camera and tcp_T_target as matrices and as\n"
           "[x, y, z, rx, ry, rz] (metres, degrees), the intrinsics, the reprojection error, the\n"
           "consistency of tcp_T_target per frame and the rotation variety of the captures. Before\n"
           "the first successful run, the header and \"Calibration failed.\".")
      .def("print_results", lockedWithoutGil(&EyeToHandCalibrator::printResults), docs::kPrintResults)
      .def("last_result", lockedWithoutGil(&EyeToHandCalibrator::lastResult),
           "A copy of the EyeToHandResult of the last run whose solve ran (ok False before one).");

  registerEyeToHandRefinement(module);
  calibrator
      .def("refine", lockedWithoutGil(&EyeToHandCalibrator::refine), py::arg("refine_intrinsics") = false,
           py::arg("loss_scale_px") = 1.0,
           join("Refines the last run's base_T_camera and tcp_T_target jointly against its corner\n"
                "pixels.\n\n"
                "Every corner of every capture is predicted through the chain base_T_camera^-1 @\n"
                "robot_T_tcp @ tcp_T_target and both transforms are moved to minimise the robustified\n"
                "squared pixel error, with the robot's pose errors (moving the flange-held target)\n"
                "estimated as EyeInHandCalibrator.refine() does. The outcome is kept for\n"
                "format_refinement(); the last result is not changed.",
                docs::kArguments,
                "- refine_intrinsics: also move fx, fy, cx, cy and the distortion coefficients\n"
                "- loss_scale_px: Huber scale, pixels: corners further off count linearly (> 0)",
                docs::kReturns, "EyeToHandRefinement with the sigmas of both transforms.", docs::kRaises,
                "RuntimeError before a successful run, or after one given its target poses (there are\n"
                "no corners to refine against); ValueError for a loss_scale_px that is not positive\n"
                "or a distortion model the refinement does not support.")
               .c_str())
      .def("refine_at_noise_scale", lockedWithoutGil(&EyeToHandCalibrator::refineAtNoiseScale),
           py::arg("refine_intrinsics") = false, docs::noiseScaledRefinementDoc("EyeToHandRefinement").c_str())
      .def("format_refinement", lockedWithoutGil(&EyeToHandCalibrator::formatRefinement),
           "The last refine() as text: RMS before and after, the refined base_T_camera and its\n"
           "change from the start, the sigmas of both transforms with their units, and the\n"
           "per-capture RMS; says so when there has been no refinement since the last run.");
}

}  // namespace vemo::bindings
