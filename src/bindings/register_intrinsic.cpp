#include "bindings/conversions.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerIntrinsic(py::module_& module) {
  module.attr("TERM_CRITERIA_COUNT") = static_cast<int>(cv::TermCriteria::COUNT);
  module.attr("TERM_CRITERIA_MAX_ITER") = static_cast<int>(cv::TermCriteria::MAX_ITER);
  module.attr("TERM_CRITERIA_EPS") = static_cast<int>(cv::TermCriteria::EPS);

  py::classh<cv::TermCriteria>(module, "TermCriteria", "OpenCV solver termination criteria.")
      .def(py::init<int, int, double>(), py::arg("type"), py::arg("max_count"), py::arg("epsilon"))
      .def_readwrite("type", &cv::TermCriteria::type)
      .def_readwrite("max_count", &cv::TermCriteria::maxCount)
      .def_readwrite("epsilon", &cv::TermCriteria::epsilon);

  using vemo::calibration::IntrinsicCalibrator;
  using vemo::calibration::IntrinsicOptions;
  using vemo::calibration::IntrinsicResult;
  using vemo::calibration::TargetDetections;

  py::classh<IntrinsicOptions>(module, "IntrinsicOptions", "Tunables for intrinsic calibration.")
      .def(py::init<>())
      // Reading criteria gives the options' own record, so that
      // `options.criteria.max_count = 5` changes the options.
      .def_property(
          "criteria", [](IntrinsicOptions& options) -> cv::TermCriteria& { return options.criteria; },
          [](IntrinsicOptions& options, const cv::TermCriteria& criteria) { options.criteria = criteria; },
          py::return_value_policy::reference_internal)
      .def_readwrite("chessboard_corner_detector", &IntrinsicOptions::chessboard_corner_detector)
      .def_readwrite("chessboard_flags", &IntrinsicOptions::chessboard_flags)
      .def_readwrite("sub_pixel_detection_window_size", &IntrinsicOptions::sub_pixel_detection_window_size)
      .def_readwrite("sub_pixel_detection_zero_zone_size", &IntrinsicOptions::sub_pixel_detection_zero_zone_size)
      .def_readwrite("calibrate_camera_method", &IntrinsicOptions::calibrate_camera_method)
      .def_readwrite("calibrate_camera_flags", &IntrinsicOptions::calibrate_camera_flags)
      .def_readwrite("index_of_fixed_3d_point", &IntrinsicOptions::index_of_fixed_3d_point)
      .def_readwrite("intrinsic_matrix_guess", &IntrinsicOptions::intrinsic_matrix_guess)
      .def_readwrite("distortion_coefficients_guess", &IntrinsicOptions::distortion_coefficients_guess)
      .def_readwrite("per_view_error_threshold", &IntrinsicOptions::per_view_error_threshold);

  py::classh<TargetDetections>(module, "TargetDetections", "Per-frame target detections for a batch of images.")
      .def_readonly("successful_indices", &TargetDetections::successful_indices)
      .def_readonly("image_points", &TargetDetections::image_points)
      .def_readonly("object_points", &TargetDetections::object_points)
      .def_readonly("point_ids", &TargetDetections::point_ids)
      .def_property_readonly("annotated_images", [](const TargetDetections& detections) {
        return std::vector<cv::Mat>(detections.annotated_images);
      });

  py::classh<IntrinsicResult>(module, "IntrinsicResult", "Result of IntrinsicCalibrator.calibrate().")
      .def_readonly("ok", &IntrinsicResult::ok)
      .def_readonly("intrinsic_matrix", &IntrinsicResult::intrinsic_matrix)
      .def_readonly("distortion_coefficients", &IntrinsicResult::distortion_coefficients)
      .def_readonly("reprojection_error", &IntrinsicResult::reprojection_error)
      .def_readonly("successful_indices", &IntrinsicResult::successful_indices)
      .def_readonly("image_points", &IntrinsicResult::image_points)
      .def_readonly("low_view_error_indices", &IntrinsicResult::low_view_error_indices)
      .def_readonly("per_view_errors", &IntrinsicResult::per_view_errors)
      .def_readonly("std_deviations_intrinsics", &IntrinsicResult::std_deviations_intrinsics)
      .def_readonly("std_deviations_extrinsics", &IntrinsicResult::std_deviations_extrinsics);

  py::classh<IntrinsicCalibrator>(module, "IntrinsicCalibrator",
                                  "Intrinsic camera calibrator for chessboard, ChArUco and ArUco targets.")
      .def(py::init<vemo::Target, IntrinsicOptions>(), py::arg("target"), py::arg_v("options", IntrinsicOptions(), "IntrinsicOptions()"),
           "target: ChessboardTarget, CharucoTarget or ArucoTarget. The target and options are copied.")
      .def("find_corners", lockedWithoutGil(&IntrinsicCalibrator::findCorners), py::arg("images"),
           "Find the target in each BGR image (H, W, 3 or 4) uint8; images without it are skipped with a "
           "warning. Does not change the calibrator.")
      .def("calibrate", lockedWithoutGil(&IntrinsicCalibrator::calibrate), py::arg("images"),
           "Detect the target in each BGR image and solve the camera matrix and distortion.")
      .def("corner_images", lockedWithoutGil(&IntrinsicCalibrator::cornerImages),
           "Annotated images of the last calibrate(), one per successful view.")
      .def("detections", lockedWithoutGil(&IntrinsicCalibrator::detections),
           "TargetDetections of the last calibrate().")
      .def("reprojection_residuals", lockedWithoutGil(&IntrinsicCalibrator::reprojectionResiduals),
           py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           "Per view of the last calibrate(), detected minus projected corners (N, 2) in pixels.")
      .def(
          "target", [](const IntrinsicCalibrator& calibrator) { return calibrator.target(); }, "The target.")
      .def(
          "options", [](const IntrinsicCalibrator& calibrator) { return calibrator.options(); },
          "A copy of the options.");
}

}  // namespace vemo::bindings
