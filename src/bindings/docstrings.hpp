#pragma once

// Wording that several docstrings share: the section headings and the arguments that mean
// the same wherever they appear. Docstrings follow one layout: what the call does, then
// ARGUMENTS ("- name: shape, dtype, frame, unit"), RETURNED VALUE and RAISES.

#include <cstddef>
#include <string>

namespace vemo::bindings::docs {

// Joins the parts of a docstring; a part may end with a newline where the next begins a
// section, the two still leave one blank line. pybind11 copies a docstring when it is
// bound, so the c_str() of the joined temporary may be handed to def().
template <class... Parts>
std::string join(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  for (std::size_t at = text.find("\n\n\n"); at != std::string::npos; at = text.find("\n\n\n", at)) {
    text.erase(at, 1);
  }
  return text;
}

inline constexpr char kArguments[] = "\n\nARGUMENTS\n\n";
inline constexpr char kReturns[] = "\n\nRETURNED VALUE\n\n";
inline constexpr char kRaises[] = "\n\nRAISES\n\n";

inline constexpr char kTarget[] = "- target: ChessboardTarget, CharucoTarget or ArucoTarget\n";
inline constexpr char kTargetAccessor[] =
    "The target: a copy of the ChessboardTarget, CharucoTarget or ArucoTarget given.";
inline constexpr char kImages[] =
    "- images: list of (H, W, 3) or (H, W, 4) uint8 BGR images of the target\n";
inline constexpr char kImageList[] =
    "- image_list: list of (H, W, 3) uint8 BGR images, one per capture\n";
inline constexpr char kImageLists[] =
    "- image_lists: image_lists[c][f] is frame f of camera c, (H, W, 3) uint8 BGR; frame f\n"
    "  of every camera taken at the same moment\n";
inline constexpr char kRobotTTcpList[] =
    "- robot_T_tcp_list: list of 4x4 float64, flange (TCP) pose in the robot base frame,\n"
    "  metres; one per capture\n";
inline constexpr char kCameraTTargetList[] =
    "- camera_T_target_list: list of 4x4 float64, target pose in the camera frame, metres,\n"
    "  one per robot pose";
inline constexpr char kIntrinsicMatrix[] =
    "- intrinsic_matrix: 3x3 float64 camera matrix [fx 0 cx; 0 fy cy; 0 0 1], pixels\n";
inline constexpr char kDistortionCoefficients[] =
    "- distortion_coefficients: OpenCV distortion coefficients of that camera (k1 k2 p1 p2\n"
    "  [k3 ...]), float64, as one row or column\n";

// The three ways a hand-eye run obtains its target poses, and its arguments.
inline constexpr char kHandEyeTargetPoseSources[] =
    "Target poses come, in this order of preference, from camera_T_target_list when given;\n"
    "from a ChArUco re-detection with intrinsic_matrix when that is given; else from an\n"
    "intrinsic calibration of image_list and one solvePnP per kept view (the views within\n"
    "the options' per_view_error_threshold, or every view where the target was found when\n"
    "none is).";
inline constexpr char kHandEyeImageList[] =
    "- image_list: list of (H, W, 3) uint8 BGR images, parallel to robot_T_tcp_list; only\n"
    "  carried into the result when camera_T_target_list is given\n";
inline constexpr char kHandEyeMethod[] =
    "- method: hand-eye solver, a key of hand_eye_method_by_name_map(): \"TSAI\", \"PARK\",\n"
    "  \"HORAUD\", \"ANDREFF\" or \"DANIILIDIS\"\n";
inline std::string handEyePoseSourceArguments() {
  return join(kCameraTTargetList, "; [] to have the poses estimated from the images\n",
              "- intrinsic_matrix: 3x3 float64 camera matrix, pixels; empty (with no\n"
              "  camera_T_target_list) to calibrate the intrinsics from image_list\n"
              "- distortion_coefficients: OpenCV distortion coefficients of intrinsic_matrix; may be\n"
              "  empty\n");
}
// refine_at_noise_scale() of either hand-eye calibrator; result_type names its refinement.
inline std::string noiseScaledRefinementDoc(const char* result_type) {
  return join("The same refinement with the Huber scale chosen from the data: 1.345 times the\n"
              "corners' robust noise per axis (1.4826 times their median absolute residual after a\n"
              "first fit at 1 px). Detected corners have heavy tails, a few pixels off among many a\n"
              "fifth of a pixel off; a scale near the core's noise keeps the tails from bending the\n"
              "fit. From the Huber solution the fit goes on under Tukey's biweight at 4.685 times\n"
              "the same noise, which gives the tails no pull at all. The scales used are the\n"
              "result's loss_scale_px and redescending_scale_px.",
              kArguments, "- refine_intrinsics: also move fx, fy, cx, cy and the distortion coefficients", kReturns,
              result_type, ", as refine() gives it.", kRaises,
              "RuntimeError before a successful run, or after one given its target poses.");
}
inline constexpr char kHandEyeRunFailures[] =
    "Fewer than 4 usable captures, or robot poses that do not rotate about two different\n"
    "axes, are not exceptions: an error line is logged and the result's ok is False. The\n"
    "calibrator's last result changes only when the solve ran.";
inline constexpr char kHandEyeRunRaises[] =
    "ValueError for an unknown method, a pose that is not a finite 4x4 rigid transform (last\n"
    "row 0 0 0 1, a proper rotation block), an intrinsic_matrix that is not a finite 3x3\n"
    "camera matrix with positive focal lengths, a camera_T_target_list whose length differs\n"
    "from robot_T_tcp_list, image and robot lists of different lengths when the target is\n"
    "detected, distortion_coefficients that are not finite or not 4, 5, 8, 12 or 14 values,\n"
    "or a re-detection with a target other than a CharucoTarget. RuntimeError for\n"
    "OpenCV's errors and for a result file that cannot be written.";
inline constexpr char kOutputPathSuffix[] = "; \"\" (the default) saves nothing\n";

// Accessors the two hand-eye calibrators share.
inline constexpr char kCornerImages[] =
    "The annotated images (H, W, 3) uint8 BGR of the last corner detection of the inner\n"
    "intrinsic calibrator, one per image where the target was found; [] before a run that\n"
    "detected corners.";
inline constexpr char kLastIntrinsicResult[] =
    "IntrinsicResult of the last run that calibrated the intrinsics (ok False before one).";
inline constexpr char kResidualsReturn[] =
    "A list with one (N, 2) float64 array per view, detected minus projected corner position\n"
    "in pixels, in the order of the view's points.";
inline constexpr char kResidualsRaise[] =
    "ValueError when no solve has left a pose for every stored view.";
// The residuals of the last intrinsic calibration of a hand-eye run.
inline std::string intrinsicReprojectionResiduals() {
  return join("Per view of that calibration, detected minus projected corners (N, 2) in pixels.\n\n"
              "The view poses are those of that calibration's solve; intrinsic_matrix and\n"
              "distortion_coefficients are the camera to project with (usually the calibration's own).",
              kArguments, kIntrinsicMatrix, kDistortionCoefficients, kReturns, kResidualsReturn, kRaises,
              kResidualsRaise);
}
inline constexpr char kPrintResults[] =
    "Writes format_results() to sys.stdout and flushes it.";

// Fields that the eye-in-hand and eye-to-hand results share.
inline constexpr char kResultOk[] = "True only when the hand-eye solve ran";
inline constexpr char kResultIntrinsicMatrix[] = "(3, 3) camera matrix used for pose estimation; (0, 0) when none";
inline constexpr char kResultDistortion[] = "its distortion coefficients; (0, 0) when none";
inline constexpr char kResultReprojectionError[] =
    "mean per-view error of the run's intrinsic calibration, pixels; NaN when it ran none";
inline constexpr char kResultImages[] = "images of the captures used";
inline constexpr char kResultCameraTTargetList[] =
    "(4, 4) float64 target poses of the captures used, aligned with the two lists above";
inline constexpr char kResultHasConsistency[] = "True once consistency is filled";
inline constexpr char kResultVerdict[] =
    "Verdict: whether the run's own evidence supports the transform (trusted, reasons, suspects)";
inline constexpr char kIntrinsicVerdict[] =
    "Verdict: whether the run's own evidence (RMS over all corners, distinct views) supports the camera";
inline constexpr char kVerdictOptions[] =
    "VerdictOptions: the robot repeatability the verdicts of later runs count as noise";

// Paths of the persistence functions.
inline constexpr char kDataDir[] = "- data_dir: folder of the dataset (os.PathLike, str or bytes)\n";
inline constexpr char kNumCameras[] = "- num_cameras: number of cameras, cam_00 ... cam_<num_cameras - 1>\n";
inline constexpr char kResultPathRule[] =
    " (os.PathLike, str or bytes):\n"
    "  an existing folder or a path without extension is a folder (created) that receives\n"
    "  that file name, any other path is the file itself";
inline constexpr char kSavedPathReturn[] =
    "The pathlib.Path of the file written. The file is replaced atomically.";
inline constexpr char kLoadPath[] =
    "- input_path: the file, or a folder holding the default file name (os.PathLike, str or\n"
    "  bytes)\n";

}  // namespace vemo::bindings::docs
