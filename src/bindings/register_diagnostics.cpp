#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/evaluation/hand_eye_method_comparison.hpp"
#include "vemo/evaluation/method_agreement.hpp"
#include "vemo/quality/rotation_variety.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

constexpr char kMethodName[] = "key of hand_eye_method_by_name_map()";
constexpr char kMethodResults[] =
    "- method_results: dict {method name: HandEyeMethodResult or None}, as\n"
    "  compare_hand_eye_methods returns it (None for a method that failed)\n";

}  // namespace

void registerDiagnostics(py::module_& diagnostics) {
  using docs::join;
  using vemo::quality::RotationVarietyStats;
  py::classh<RotationVarietyStats>(diagnostics, "RotationVarietyStats")
      .def_readonly("num_motions", &RotationVarietyStats::num_motions,
                    "motions between consecutive captures that passed the minimum-rotation filter")
      .def_readonly("singular_values", &RotationVarietyStats::singular_values,
                    "3 singular values of the motions' stacked rotation vectors, radians, largest first")
      .def_readonly("axis_span_ratio", &RotationVarietyStats::axis_span_ratio,
                    "smallest / largest singular value; 0 when the motions turn about one axis only")
      .def_readonly("angle_mean_deg", &RotationVarietyStats::angle_mean_deg,
                    "mean rotation angle of the analysed motions, degrees")
      .def_readonly("angle_max_deg", &RotationVarietyStats::angle_max_deg,
                    "largest rotation angle of the analysed motions, degrees");
  diagnostics.def("analyze_rotation_variety", &vemo::quality::analyzeRotationVariety,
                  py::arg("camera_T_target_list"), py::arg("min_rotation_deg") = vemo::quality::kDefaultMinRotationDeg,
                  join("How well the rotations between consecutive captures span all three axes.\n\n"
                       "A hand-eye solve needs the camera rotated about several different axes. The\n"
                       "motions inverse(T[i-1]) @ T[i] between consecutive poses are analysed; a constant\n"
                       "change of camera or target frame leaves the result unchanged.",
                       docs::kArguments,
                       "- camera_T_target_list: list of 4x4 arrays (any numeric dtype), target pose in the\n"
                       "  camera frame, in capture order\n"
                       "- min_rotation_deg: motions rotating this much or less are ignored, degrees",
                       docs::kReturns,
                       "RotationVarietyStats, or None when fewer than 3 motions count (so always for fewer\n"
                       "than 4 poses).",
                       docs::kRaises,
                       "ValueError for a pose that is not a single-channel 4x4 matrix, holds a non-finite\n"
                       "value or is singular, and for a negative or NaN min_rotation_deg.")
                      .c_str());
  diagnostics.def("format_rotation_variety", &vemo::quality::formatRotationVariety, py::arg("stats"),
                  join("The rotation-variety text of the hand-eye report, ending with a verdict: POOR below\n"
                       "an axis_span_ratio of 0.15, Marginal below 0.35, healthy otherwise.",
                       docs::kArguments, "- stats: RotationVarietyStats, or None", docs::kReturns,
                       "Multi-line text; for None it says \"Not enough motions to analyze.\".")
                      .c_str());

  using namespace vemo::quality;
  py::classh<HandEyeMethodResult>(diagnostics, "HandEyeMethodResult")
      .def_readonly("method_name", &HandEyeMethodResult::method_name, kMethodName)
      .def_readonly("tcp_T_camera", &HandEyeMethodResult::tcp_T_camera, "(4, 4) float64 solution, metres")
      .def_readonly("pose_deg", &HandEyeMethodResult::pose_deg,
                    "tcp_T_camera as [x, y, z, rx, ry, rz], metres and degrees")
      .def_readonly("consistency", &HandEyeMethodResult::consistency,
                    "TargetConsistencyStats of the run (world_T_target scatter over the captures)")
      .def_readonly("verdict", &HandEyeMethodResult::verdict, "Verdict of the run on its tcp_T_camera")
      .def_readonly("intrinsic_rms_px", &HandEyeMethodResult::intrinsic_rms_px,
                    "RMS over every corner of the intrinsic calibration the runs share, pixels; NaN when\n"
                    "the intrinsics were given");
  // Every run prints its report; through Python's sys.stdout, like the calibrator's own.
  diagnostics.def("compare_hand_eye_methods", withoutGil(&compareHandEyeMethods), py::arg("target"),
                  py::arg("robot_T_tcp_list"),
                  py::arg("image_list"), py::arg("camera_T_target_list"), py::arg("intrinsic_matrix"),
                  py::arg("distortion_coefficients"), py::arg("per_view_error_threshold") = 1.0,
                  join("Runs EyeInHandCalibrator.calibrate once per hand-eye method on the same captures.\n\n"
                       "The methods run in the byte order of their names (ANDREFF, DANIILIDIS, HORAUD, PARK,\n"
                       "TSAI) with default IntrinsicOptions but per_view_error_threshold. Every run logs its\n"
                       "lines and prints its report to sys.stdout as an independent run would; the captures\n"
                       "(detections, intrinsics, target poses) are prepared once. Saves nothing.",
                       docs::kArguments, docs::kTarget, docs::kRobotTTcpList, docs::kHandEyeImageList,
                       docs::handEyePoseSourceArguments(),
                       "- per_view_error_threshold: views kept by the intrinsic calibration, pixels",
                       docs::kReturns,
                       "dict {method name: HandEyeMethodResult}, in byte order of the names; None for a run\n"
                       "that did not solve (ok False) or raised (logged as \"[diag] method NAME failed: WHAT\").\n"
                       "Nothing raises: a failure of the shared preparation fails every method.")
                      .c_str());
  diagnostics.def("format_method_comparison", &formatMethodComparison, py::arg("method_results"),
                  py::arg("consensus_threshold_deg") = 1.5,
                  join("The methods side by side, with a consensus verdict on rz.\n\n"
                       "A table of x, y, z (metres, 4 decimals) and rx, ry, rz (degrees, 2 decimals) per\n"
                       "method and, with two or more results, the rz spread, the translation spread and the\n"
                       "verdict: all agree, one outlier, or no consensus.",
                       docs::kArguments, kMethodResults,
                       "- consensus_threshold_deg: a method agrees when its rz lies within this of the median\n"
                       "  rz (inclusive), degrees",
                       docs::kReturns, "The text, in byte order of the names whatever the dict's order.")
                      .c_str());

  py::classh<MethodDeviation>(diagnostics, "MethodDeviation",
                              "One method's distance (mm) and rotation angle (deg) from the methods' median.")
      .def_readonly("method_name", &MethodDeviation::method_name, kMethodName)
      .def_readonly("translation_mm", &MethodDeviation::translation_mm,
                    "distance of its translation from the median translation, mm")
      .def_readonly("rotation_deg", &MethodDeviation::rotation_deg,
                    "angle of the rotation between it and the median rotation, degrees");
  py::classh<MethodAgreement>(diagnostics, "MethodAgreement",
                              "Agreement of the hand-eye methods in translation and rotation.")
      .def_readonly("median_tcp_T_camera", &MethodAgreement::median_tcp_T_camera,
                    "(4, 4) float64: median of x, y, z each and median rotation (of the aligned unit\n"
                    "quaternions), metres")
      .def_readonly("deviations", &MethodAgreement::deviations,
                    "MethodDeviation of each method with a result, in name order")
      .def_readonly("translation_outliers", &MethodAgreement::translation_outliers,
                    "names whose translation_mm exceeds translation_threshold_mm")
      .def_readonly("rotation_outliers", &MethodAgreement::rotation_outliers,
                    "names whose rotation_deg exceeds rotation_threshold_deg")
      .def_readonly("translation_threshold_mm", &MethodAgreement::translation_threshold_mm, "mm")
      .def_readonly("rotation_threshold_deg", &MethodAgreement::rotation_threshold_deg, "degrees");
  diagnostics.def("assess_method_agreement", &assessMethodAgreement, py::arg("method_results"),
                  py::arg("translation_threshold_mm") = kDefaultTranslationAgreementMm,
                  py::arg("rotation_threshold_deg") = kDefaultRotationAgreementDeg,
                  join("Each method's distance from the median translation and angle from the median rotation, with "
                       "the outliers beyond the thresholds (inclusive); None with fewer than 2 results.\n\n"
                       "A solver can agree with the others on rz and still sit centimetres away from them:\n"
                       "this looks at the whole transform.",
                       docs::kArguments, kMethodResults,
                       "- translation_threshold_mm: largest distance from the median that agrees, mm\n"
                       "- rotation_threshold_deg: largest angle from the median that agrees, degrees",
                       docs::kReturns,
                       "MethodAgreement, or None when fewer than two methods have a result. A deviation\n"
                       "equal to its threshold agrees.",
                       docs::kRaises, "ValueError for a negative or NaN threshold.")
                      .c_str());
  diagnostics.def("format_method_agreement", &formatMethodAgreement, py::arg("agreement"),
                  join("The agreement as text: each method's two deviations, then one verdict line for\n"
                       "translation and one for rotation.",
                       docs::kArguments, "- agreement: MethodAgreement, or None (the text then says there is\n"
                       "  nothing to compare)",
                       docs::kReturns, "Multi-line text.")
                      .c_str());
}

}  // namespace vemo::bindings
