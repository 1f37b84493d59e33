#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerHandEye(py::module_& module) {
  using namespace vemo::calibration;
  using docs::join;

  module.def("hand_eye_method_by_name_map", &handEyeMethodByNameMap,
             "Map of hand-eye method names (\"TSAI\", \"PARK\", \"HORAUD\", \"ANDREFF\", \"DANIILIDIS\") to "
             "cv::HandEyeCalibrationMethod values.\n\n"
             "A new dict {name: 0 ... 4}; names are matched exactly (upper case) wherever a method\n"
             "is taken.");

  py::classh<TargetConsistencyStats>(module, "TargetConsistencyStats",
                                     "Per-frame consistency of the recovered world_T_target.")
      .def_readonly("mean_translation_m", &TargetConsistencyStats::mean_translation_m,
                    "mean of translation_deviations_m, metres")
      .def_readonly("max_translation_m", &TargetConsistencyStats::max_translation_m,
                    "largest of translation_deviations_m, metres")
      .def_readonly("mean_rotation_deg", &TargetConsistencyStats::mean_rotation_deg,
                    "mean of rotation_deviations_deg, degrees")
      .def_readonly("max_rotation_deg", &TargetConsistencyStats::max_rotation_deg,
                    "largest of rotation_deviations_deg, degrees")
      .def_readonly("translation_deviations_m", &TargetConsistencyStats::translation_deviations_m,
                    "per capture, distance of its world_T_target translation from the mean pose's, metres")
      .def_readonly("rotation_deviations_deg", &TargetConsistencyStats::rotation_deviations_deg,
                    "per capture, angle between its world_T_target rotation and the mean pose's, degrees")
      .def_readonly("distances_m", &TargetConsistencyStats::distances_m,
                    "per capture, camera to target origin (length of camera_T_target's translation), metres")
      .def_readonly("board_us", &TargetConsistencyStats::board_us,
                    "per capture, x of the projected board centre, pixels; NaN without a camera matrix")
      .def_readonly("board_vs", &TargetConsistencyStats::board_vs,
                    "per capture, y of the projected board centre, pixels; NaN without a camera matrix");

  py::classh<HandEyeResult>(module, "HandEyeResult", "Result of EyeInHandCalibrator.calibrate().")
      .def_readonly("ok", &HandEyeResult::ok, docs::kResultOk)
      .def_readonly("tcp_T_camera", &HandEyeResult::tcp_T_camera,
                    "(4, 4) float64 pose of the camera in the flange (TCP) frame, metres; (0, 0) when not solved")
      .def_readonly("intrinsic_matrix", &HandEyeResult::intrinsic_matrix, docs::kResultIntrinsicMatrix)
      .def_readonly("distortion_coefficients", &HandEyeResult::distortion_coefficients, docs::kResultDistortion)
      .def_readonly("reprojection_error", &HandEyeResult::reprojection_error, docs::kResultReprojectionError)
      .def_readonly("intrinsic_rms_px", &HandEyeResult::intrinsic_rms_px,
                    "RMS over every corner of the run's intrinsic calibration, pixels (what OpenCV's\n"
                    "calibrateCamera returns); NaN when the run did not calibrate the intrinsics")
      .def_readonly("valid_robot_T_tcp_list", &HandEyeResult::valid_robot_T_tcp_list,
                    "(4, 4) robot poses of the captures used")
      .def_readonly("valid_image_list", &HandEyeResult::valid_image_list, docs::kResultImages)
      .def_readonly("camera_T_target_list", &HandEyeResult::camera_T_target_list, docs::kResultCameraTTargetList)
      .def_readonly("has_consistency", &HandEyeResult::has_consistency, docs::kResultHasConsistency)
      .def_readonly("consistency", &HandEyeResult::consistency, "TargetConsistencyStats of the captures used")
      .def_readonly("verdict", &HandEyeResult::verdict, docs::kResultVerdict);

  using AlignedTargetPoses = EyeInHandCalibrator::AlignedTargetPoses;
  py::classh<AlignedTargetPoses>(module, "AlignedTargetPoses")
      .def_readonly("camera_T_target_list", &AlignedTargetPoses::camera_T_target_list,
                    "(4, 4) float64 target poses of the frames that passed, metres")
      .def_readonly("valid_image_list", &AlignedTargetPoses::valid_image_list, "the image of each passed frame")
      .def_readonly("valid_robot_T_tcp_list", &AlignedTargetPoses::valid_robot_T_tcp_list,
                    "the robot pose of each passed frame");

  py::classh<EyeInHandCalibrator> calibrator(module, "EyeInHandCalibrator",
                                             "Eye-in-hand (camera-on-flange) hand-eye calibrator.");
  calibrator
      .def(py::init<Target, IntrinsicOptions>(), py::arg("target"),
           py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"),
           "target: ChessboardTarget, CharucoTarget or ArucoTarget, fixed in the cell. options: the\n"
           "intrinsic calibration a run performs when it is given no camera matrix. Both copied.")
      // output_path defaults to the Python string "", which converts to the empty path (save
      // nothing); a default std::filesystem::path() would reach Python as Path(".") and come
      // back as the current directory.
      .def("calibrate", lockedWithoutGil(&EyeInHandCalibrator::calibrate), py::arg("robot_T_tcp_list"),
           py::arg("image_list"), py::arg("method") = "TSAI", py::arg("camera_T_target_list") = std::vector<cv::Mat>(),
           py::arg("intrinsic_matrix") = cv::Mat(), py::arg("distortion_coefficients") = cv::Mat(),
           py::arg("output_path") = py::str(""),
           join("Solves tcp_T_camera, the pose of a camera on the robot flange, from AX = XB.\n\n",
                docs::kHandEyeTargetPoseSources,
                "\n\nWhen the solve runs, the result is kept for last_result(), format_results() and\n"
                "refine(), its report printed to sys.stdout and, given output_path, saved.",
                docs::kArguments, docs::kRobotTTcpList, docs::kHandEyeImageList,
                docs::kHandEyeMethod, docs::handEyePoseSourceArguments(),
                "- output_path: where to save the result as hand_eye.json", docs::kResultPathRule,
                docs::kOutputPathSuffix, docs::kReturns,
                "HandEyeResult; robot translations and target lengths share one unit (metres), which\n"
                "is the unit of tcp_T_camera's translation.\n\n",
                docs::kHandEyeRunFailures, docs::kRaises, docs::kHandEyeRunRaises)
               .c_str())
      .def("compute_camera_T_target_list", lockedWithoutGil(&EyeInHandCalibrator::computeCameraTTargetList),
           py::arg("image_list"), py::arg("robot_T_tcp_list"), py::arg("intrinsic_matrix"),
           py::arg("distortion_coefficients"),
           join("Detects a ChArUco board in each image and solves its pose with the given camera.\n\n"
                "Frames are examined while both lists last; a frame with fewer than 4 corners, or\n"
                "whose solvePnP fails, is skipped with a warning. Does not change the calibrator.",
                docs::kArguments, docs::kImageList, docs::kRobotTTcpList, docs::kIntrinsicMatrix,
                docs::kDistortionCoefficients, docs::kReturns,
                "AlignedTargetPoses: the target pose, image and robot pose of every frame that\n"
                "passed, entry i of each list belonging to one frame; empty lists when none passed.",
                docs::kRaises,
                "ValueError \"EyeInHandCalibrator::computeCameraTTargetList only supports CharucoTarget\"\n"
                "for another target; RuntimeError for OpenCV's errors (a 1-channel image, a malformed\n"
                "camera matrix).")
               .c_str())
      .def("corner_images", lockedWithoutGil(&EyeInHandCalibrator::cornerImages), docs::kCornerImages)
      .def("last_intrinsic_result", lockedWithoutGil(&EyeInHandCalibrator::lastIntrinsicResult),
           docs::kLastIntrinsicResult)
      .def("intrinsic_reprojection_residuals", lockedWithoutGil(&EyeInHandCalibrator::intrinsicReprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           docs::intrinsicReprojectionResiduals().c_str())
      .def("target", &EyeInHandCalibrator::target, docs::kTargetAccessor)
      .def_property("verdict_options", &EyeInHandCalibrator::verdictOptions, &EyeInHandCalibrator::setVerdictOptions,
                    docs::kVerdictOptions)
      .def("format_results", lockedWithoutGil(&EyeInHandCalibrator::formatResults),
           "The text report of the last result: tcp_T_camera as a matrix and as [x, y, z, rx, ry,\n"
           "rz] (metres, degrees), the intrinsics, the reprojection error, the target consistency\n"
           "per frame (mm, degrees, pixels) and the rotation variety of the captures. Before the\n"
           "first successful run, the header and \"Calibration failed.\".")
      .def("print_results", lockedWithoutGil(&EyeInHandCalibrator::printResults), docs::kPrintResults)
      .def("last_result", lockedWithoutGil(&EyeInHandCalibrator::lastResult),
           "A copy of the HandEyeResult of the last run whose solve ran (ok False, NaN\n"
           "reprojection_error and empty lists before one).");

  const auto axes = [](const cv::Vec3d& values) { return std::vector<double>{values[0], values[1], values[2]}; };
  py::classh<HandEyeRefinement>(module, "HandEyeRefinement", "Result of EyeInHandCalibrator.refine().")
      .def_readonly("ok", &HandEyeRefinement::ok, "True when the solver returned a usable solution")
      .def_readonly("converged", &HandEyeRefinement::converged,
                    "True when it stopped because it converged, not on the iteration limit")
      .def_readonly("iterations", &HandEyeRefinement::iterations, "solver iterations")
      .def_readonly("loss_scale_px", &HandEyeRefinement::loss_scale_px, "the Huber scale the fit used, pixels")
      .def_readonly("loss_scale_corner_noise_px", &HandEyeRefinement::loss_scale_corner_noise_px,
                    "the corners' robust noise per axis (1.4826 MAD after a first fit) that\n"
                    "refine_at_noise_scale() chose the scale from, pixels; NaN when the scale was given")
      .def_readonly("redescending_scale_px", &HandEyeRefinement::redescending_scale_px,
                    "the scale of Tukey's biweight that refine_at_noise_scale() goes on with from the\n"
                    "Huber one, pixels; NaN when the Huber fit is the solution")
      .def_readonly("tcp_T_camera", &HandEyeRefinement::tcp_T_camera, "(4, 4) float64 refined tcp_T_camera, metres")
      .def_readonly("base_T_target", &HandEyeRefinement::base_T_target,
                    "(4, 4) float64 refined target pose in the robot base frame, metres")
      .def_readonly("intrinsic_matrix", &HandEyeRefinement::intrinsic_matrix,
                    "(3, 3) camera matrix, refined or as given when held fixed")
      .def_readonly("distortion_coefficients", &HandEyeRefinement::distortion_coefficients,
                    "distortion coefficients, refined or as given when held fixed")
      .def_readonly("rms_before_px", &HandEyeRefinement::rms_before_px,
                    "RMS of the corners' reprojection distances at the start, pixels")
      .def_readonly("rms_after_px", &HandEyeRefinement::rms_after_px,
                    "the same after the refinement, at the robot poses as given, pixels")
      .def_readonly("rms_with_pose_errors_px", &HandEyeRefinement::rms_with_pose_errors_px,
                    "RMS after the refinement with the robot pose errors it estimated applied: what the fit\n"
                    "minimised, pixels")
      .def_readonly("per_capture_rms_px", &HandEyeRefinement::per_capture_rms_px,
                    "RMS after the refinement per capture, pixels")
      .def_property_readonly("sigma_translation_mm",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_translation_mm); },
                             "1-sigma of tcp_T_camera's translation along the tcp frame's x, y, z axes, mm")
      .def_property_readonly("sigma_rotation_deg",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_rotation_deg); },
                             "1-sigma of tcp_T_camera's rotation about the tcp frame's x, y, z axes, degrees")
      .def_property_readonly("sigma_with_intrinsics_translation_mm",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_with_intrinsics_translation_mm); },
                             "1-sigma of tcp_T_camera's translation including the intrinsics' own error, mm")
      .def_property_readonly("sigma_with_intrinsics_rotation_deg",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_with_intrinsics_rotation_deg); },
                             "1-sigma of tcp_T_camera's rotation including the intrinsics' own error, degrees")
      .def_property_readonly("sigma_target_translation_mm",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_target_translation_mm); },
                             "1-sigma of base_T_target's translation along the base frame's axes, mm")
      .def_property_readonly("sigma_target_rotation_deg",
                             [axes](const HandEyeRefinement& r) { return axes(r.sigma_target_rotation_deg); },
                             "1-sigma of base_T_target's rotation about the base frame's axes, degrees")
      .def_readonly("image_noise_px", &HandEyeRefinement::image_noise_px, "corner noise per axis, pixels")
      .def_readonly("robot_noise_translation_mm", &HandEyeRefinement::robot_noise_translation_mm,
                    "robot pose noise per axis beyond the image noise, mm; 0 when the captures show none")
      .def_readonly("robot_noise_rotation_deg", &HandEyeRefinement::robot_noise_rotation_deg,
                    "robot rotation noise per axis beyond the image noise, degrees; 0 when none shows");

  // Bound once its result class is: a signature naming an unregistered class shows as "...",
  // which the type stubs cannot carry.
  calibrator
      .def("refine", lockedWithoutGil(&EyeInHandCalibrator::refine), py::arg("refine_intrinsics") = false,
           py::arg("loss_scale_px") = 1.0,
           join("Refines the last run's tcp_T_camera and target pose jointly against its corner pixels.\n\n"
                "Every corner of every capture is predicted through the chain robot_T_tcp @\n"
                "tcp_T_camera @ camera_T_target and tcp_T_camera and base_T_target are moved to\n"
                "minimise the robustified squared pixel error. The outcome is kept for\n"
                "format_refinement(); the last result is not changed.",
                docs::kArguments,
                "- refine_intrinsics: also move fx, fy, cx, cy and the distortion coefficients\n"
                "- loss_scale_px: Huber scale, pixels: corners further off count linearly (> 0)",
                docs::kReturns, "HandEyeRefinement with the sigmas of tcp_T_camera.", docs::kRaises,
                "RuntimeError before a successful run, or after one given its target poses (there are\n"
                "no corners to refine against); ValueError for a loss_scale_px that is not positive\n"
                "or a distortion model the refinement does not support.")
               .c_str())
      .def("refine_at_noise_scale", lockedWithoutGil(&EyeInHandCalibrator::refineAtNoiseScale),
           py::arg("refine_intrinsics") = false, docs::noiseScaledRefinementDoc("HandEyeRefinement").c_str())
      .def("format_refinement", lockedWithoutGil(&EyeInHandCalibrator::formatRefinement),
           "The last refine() as text: RMS before and after, the refined transform and its change\n"
           "from the start, the sigmas with their units, and the per-capture RMS; says so when there\n"
           "has been no refinement since the last run.");
}

}  // namespace vemo::bindings
