#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

constexpr char kImagePointsDoc[] = "per view, (N, 1, 2) float32 detected points, pixels";

}  // namespace

void registerIntrinsic(py::module_& module) {
  module.attr("TERM_CRITERIA_COUNT") = static_cast<int>(cv::TermCriteria::COUNT);
  module.attr("TERM_CRITERIA_MAX_ITER") = static_cast<int>(cv::TermCriteria::MAX_ITER);
  module.attr("TERM_CRITERIA_EPS") = static_cast<int>(cv::TermCriteria::EPS);

  py::classh<cv::TermCriteria>(module, "TermCriteria", "OpenCV solver termination criteria.")
      .def(py::init<int, int, double>(), py::arg("type"), py::arg("max_count"), py::arg("epsilon"),
           "Stores type (TERM_CRITERIA_* bits), max_count (iterations) and epsilon unchanged.")
      .def_readwrite("type", &cv::TermCriteria::type,
                     "bit set of TERM_CRITERIA_COUNT (= TERM_CRITERIA_MAX_ITER, 1) and TERM_CRITERIA_EPS (2)")
      .def_readwrite("max_count", &cv::TermCriteria::maxCount, "iteration limit")
      .def_readwrite("epsilon", &cv::TermCriteria::epsilon, "accuracy limit");

  using vemo::calibration::IntrinsicCalibrator;
  using vemo::calibration::IntrinsicOptions;
  using vemo::calibration::IntrinsicResult;
  using vemo::calibration::TargetDetections;

  py::classh<IntrinsicOptions>(module, "IntrinsicOptions", "Tunables for intrinsic calibration.")
      .def(py::init<>(), "Every field at its default (see each property).")
      // Reading criteria gives the options' own record, so that
      // `options.criteria.max_count = 5` changes the options.
      .def_property(
          "criteria", [](IntrinsicOptions& options) -> cv::TermCriteria& { return options.criteria; },
          [](IntrinsicOptions& options, const cv::TermCriteria& criteria) { options.criteria = criteria; },
          py::return_value_policy::reference_internal,
          "TermCriteria of the sub-pixel corner refinement and of the solver; default type 3\n"
          "(count + eps), 30 iterations, epsilon 0.001. Reading it gives the options' own record.")
      .def_readwrite("chessboard_corner_detector", &IntrinsicOptions::chessboard_corner_detector,
                     "chessboard targets only: \"Default\" (findChessboardCorners, then cornerSubPix) or\n"
                     "\"Sector Based\" (findChessboardCornersSB, corners unrefined); default \"Default\"")
      .def_readwrite("chessboard_flags", &IntrinsicOptions::chessboard_flags,
                     "flags handed unchanged to the chessboard detector; default 0 (not OpenCV's default set)")
      .def_readwrite("sub_pixel_detection_window_size", &IntrinsicOptions::sub_pixel_detection_window_size,
                     "half-size w of the cornerSubPix search window (w, w), pixels; default 11")
      .def_readwrite("sub_pixel_detection_zero_zone_size", &IntrinsicOptions::sub_pixel_detection_zero_zone_size,
                     "zero zone z of cornerSubPix, (z, z) pixels; -1 (default) for none")
      .def_readwrite("calibrate_camera_method", &IntrinsicOptions::calibrate_camera_method,
                     "\"Default\" (calibrateCamera) or \"Release Object\" (calibrateCameraRO); not examined\n"
                     "for ChArUco targets; default \"Default\"")
      .def_readwrite("camera_solver", &IntrinsicOptions::camera_solver,
                     "\"opencv\" (calibrateCamera, a dense solve cubic in the views), \"sparse\" (the same\n"
                     "solve, step for step, in time linear in the views; no released object points) or\n"
                     "\"auto\" (default): OpenCV's below 50 views, the sparse one from there on")
      .def_readwrite("calibrate_camera_flags", &IntrinsicOptions::calibrate_camera_flags,
                     "OpenCV CALIB_* flags of the solver; default 0")
      .def_readwrite("index_of_fixed_3d_point", &IntrinsicOptions::index_of_fixed_3d_point,
                     "object point the release-object solver holds fixed; OpenCV releases the points only\n"
                     "for an index within 1 to N-2, so the default 0 releases nothing")
      .def_readwrite("intrinsic_matrix_guess", &IntrinsicOptions::intrinsic_matrix_guess,
                     "(3, 3) float64 initial camera matrix or None (default); read by OpenCV only under\n"
                     "CALIB_USE_INTRINSIC_GUESS or the CALIB_FIX_* flags")
      .def_readwrite("distortion_coefficients_guess", &IntrinsicOptions::distortion_coefficients_guess,
                     "initial distortion coefficients (float64 row) or None (default), read like\n"
                     "intrinsic_matrix_guess")
      .def_readwrite("per_view_error_threshold", &IntrinsicOptions::per_view_error_threshold,
                     "a view is good when its RMS reprojection error is at most this, pixels; selects views\n"
                     "for the caller, never removes them from the solve; default 1.0");

  py::classh<TargetDetections>(module, "TargetDetections", "Per-frame target detections for a batch of images.")
      .def_readonly("successful_indices", &TargetDetections::successful_indices,
                    "position in the input batch of each image where the target was found")
      .def_readonly("image_points", &TargetDetections::image_points, kImagePointsDoc)
      .def_readonly("object_points", &TargetDetections::object_points,
                    "per found image, (N, 3) float32 matching board-frame points, metres")
      .def_readonly("point_ids", &TargetDetections::point_ids,
                    "per found image, (N, 1) int32 ChArUco corner ids; [] for the other target kinds")
      .def_property_readonly(
          "annotated_images",
          [](const TargetDetections& detections) { return std::vector<cv::Mat>(detections.annotated_images); },
          "per found image, a (H, W, 3) uint8 BGR copy with the detection drawn");

  py::classh<IntrinsicResult>(module, "IntrinsicResult", "Result of IntrinsicCalibrator.calibrate().")
      .def_readonly("ok", &IntrinsicResult::ok, "True when the solve ran and returned a positive RMS")
      .def_readonly("intrinsic_matrix", &IntrinsicResult::intrinsic_matrix, "(3, 3) float64 camera matrix, pixels")
      .def_readonly("distortion_coefficients", &IntrinsicResult::distortion_coefficients,
                    "(1, k) float64, k as OpenCV returns for the flags")
      .def_readonly("reprojection_error", &IntrinsicResult::reprojection_error,
                    "mean over views of ||detected - projected||_2 / N, pixels (not an RMS); 0 when not ok")
      .def_readonly("successful_indices", &IntrinsicResult::successful_indices,
                    "positions in the input batch of the views used")
      .def_readonly("image_points", &IntrinsicResult::image_points, kImagePointsDoc)
      .def_readonly("low_view_error_indices", &IntrinsicResult::low_view_error_indices,
                    "positions within the views used (not image indices) whose per-view error is at most\n"
                    "per_view_error_threshold, ascending; may be empty on success")
      .def_readonly("per_view_errors", &IntrinsicResult::per_view_errors, "OpenCV's per-view RMS errors, pixels")
      .def_readonly("std_deviations_intrinsics", &IntrinsicResult::std_deviations_intrinsics,
                    "standard deviations of the intrinsic parameters, as OpenCV returns them")
      .def_readonly("std_deviations_extrinsics", &IntrinsicResult::std_deviations_extrinsics,
                    "standard deviations of the per-view extrinsics, as OpenCV returns them")
      .def_readonly("verdict", &IntrinsicResult::verdict, docs::kIntrinsicVerdict);

  py::classh<IntrinsicCalibrator>(module, "IntrinsicCalibrator",
                                  "Intrinsic camera calibrator for chessboard, ChArUco and ArUco targets.")
      .def(py::init<vemo::Target, IntrinsicOptions>(), py::arg("target"), py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"),
           "target: ChessboardTarget, CharucoTarget or ArucoTarget. The target and options are copied.\n"
           "Nothing is validated here; bad options surface when a run uses them.")
      .def("find_corners", lockedWithoutGil(&IntrinsicCalibrator::findCorners), py::arg("images"),
           docs::join("Find the target in each BGR image (H, W, 3 or 4) uint8; images without it are skipped with a "
                      "warning. Does not change the calibrator.\n\n"
                      "Chessboards need every inner corner; ChArUco views at least 4 corners and ArUco\n"
                      "views at least 4 markers.",
                      docs::kArguments, docs::kImages, docs::kReturns,
                      "TargetDetections with one entry per image where the target was found, in image\n"
                      "order; all lists empty for an empty batch or one without any detection.",
                      docs::kRaises,
                      "ValueError for a chessboard_corner_detector other than \"Default\" or \"Sector Based\"\n"
                      "(when the first image of a chessboard batch is processed); RuntimeError from OpenCV\n"
                      "for an image with 1 channel.")
               .c_str())
      .def("calibrate", lockedWithoutGil(&IntrinsicCalibrator::calibrate), py::arg("images"),
           docs::join("Detect the target in each BGR image and solve the camera matrix and distortion.\n\n"
                      "find_corners, then calibrateCamera (or calibrateCameraRO) over every view where the\n"
                      "target was found, then the per-view errors and the views within\n"
                      "per_view_error_threshold. The threshold never removes views from the solve. The\n"
                      "detections and view poses are kept for detections(), corner_images() and\n"
                      "reprojection_residuals().",
                      docs::kArguments, docs::kImages,
                      "  (the image size is that of the first image, whether or not the target was found)",
                      docs::kReturns,
                      "IntrinsicResult. No view with the target, or a failed solve, is not an exception: a\n"
                      "log line says so and ok is False.",
                      docs::kRaises,
                      "ValueError for an unknown chessboard_corner_detector, camera_solver, or\n"
                      "calibrate_camera_method (not for ChArUco targets), and for input the sparse solve\n"
                      "refuses; RuntimeError for OpenCV's errors\n"
                      "(a 1-channel image, too few points, bad flags or guesses).")
               .c_str())
      .def("corner_images", lockedWithoutGil(&IntrinsicCalibrator::cornerImages),
           "Annotated images of the last calibrate(), one per successful view.\n\n"
           "Each a (H, W, 3) uint8 BGR copy of the input with the detection drawn; [] before the\n"
           "first calibrate().")
      .def("detections", lockedWithoutGil(&IntrinsicCalibrator::detections),
           "TargetDetections of the last calibrate().\n\n"
           "A copy; all lists empty before the first calibrate().")
      .def("reprojection_residuals", lockedWithoutGil(&IntrinsicCalibrator::reprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           docs::join("Per view of the last calibrate(), detected minus projected corners (N, 2) in pixels.\n\n"
                      "The view poses are those of the last solve; the camera is the one given.",
                      docs::kArguments, docs::kIntrinsicMatrix, docs::kDistortionCoefficients, docs::kReturns,
                      docs::kResidualsReturn, docs::kRaises, docs::kResidualsRaise)
               .c_str())
      .def(
          "target", [](const IntrinsicCalibrator& calibrator) { return calibrator.target(); }, docs::kTargetAccessor)
      .def(
          "options", [](const IntrinsicCalibrator& calibrator) { return calibrator.options(); },
          "A copy of the options: changing it does not change the calibrator.");
}

}  // namespace vemo::bindings
