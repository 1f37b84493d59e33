#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/geometry/stereo_rectification.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerMultiCamera(py::module_& module) {
  using namespace vemo::calibration;
  using docs::join;

  module.attr("CALIB_FIX_INTRINSIC") = kCalibFixIntrinsic;
  module.attr("CALIB_USE_INTRINSIC_GUESS") = kCalibUseIntrinsicGuess;

  py::classh<TriangulationReport>(module, "TriangulationReport",
                                  "Triangulation validation report for one synchronized frame.")
      .def_readonly("frame_index", &TriangulationReport::frame_index, "the frame that was triangulated")
      .def_readonly("points_3d", &TriangulationReport::points_3d,
                    "(N, 3) float64, reference camera frame, metres; ascending corner id, degenerate ones dropped")
      .def_readonly("ids", &TriangulationReport::ids, "(N, 1) int32 ChArUco corner ids")
      .def_readonly("neighbor_distances_m", &TriangulationReport::neighbor_distances_m,
                    "distances between board-adjacent corners, metres; each near the square length")
      .def_readonly("plane_thickness_m", &TriangulationReport::plane_thickness_m,
                    "third singular value of the centred points, metres: the root of the summed squared\n"
                    "distances from their plane (not divided by the number of points)")
      .def_readonly("rms_per_camera", &TriangulationReport::rms_per_camera,
                    "per camera, reprojection RMS of the points, pixels; NaN without observations")
      .def_readonly("counts_per_camera", &TriangulationReport::counts_per_camera,
                    "per camera, corners behind its RMS; 0 when none");

  py::classh<MultiCameraResult>(module, "MultiCameraResult", "Result of MultiCameraCalibrator.calibrate().")
      .def_readonly("ok", &MultiCameraResult::ok, "True when every camera has a pose (the reference's identity included)")
      .def_readonly("reference_index", &MultiCameraResult::reference_index,
                    "the camera whose frame the poses are expressed in")
      .def_readonly("reference_T_camera_list", &MultiCameraResult::reference_T_camera_list,
                    "(4, 4) per camera; (0, 0) for a camera whose pair was skipped")
      .def_readonly("intrinsic_matrices", &MultiCameraResult::intrinsic_matrices, "(3, 3) camera matrix per camera")
      .def_readonly("distortion_coefficients", &MultiCameraResult::distortion_coefficients,
                    "per camera, as calibrated or supplied; (1, n) after stereo refinement")
      .def_readonly("intrinsic_reprojection_errors", &MultiCameraResult::intrinsic_reprojection_errors,
                    "per camera, mean intrinsic reprojection error, pixels; NaN when the intrinsics were supplied")
      .def_readonly("intrinsic_rms_px", &MultiCameraResult::intrinsic_rms_px,
                    "per camera, RMS over every corner of its intrinsic calibration, pixels (what OpenCV's\n"
                    "calibrateCamera returns); NaN when the intrinsics were supplied")
      .def_readonly("pair_reprojection_errors", &MultiCameraResult::pair_reprojection_errors,
                    "per camera, stereoCalibrate's RMS against the reference, pixels; NaN for the reference\n"
                    "and for skipped cameras");

  py::classh<SubsetResult>(module, "SubsetResult", "Result of one entry of MultiCameraCalibrator.calibrate_subsets().")
      .def_readonly("subset", &SubsetResult::subset, "rig camera indices, ascending")
      .def_readonly("result", &SubsetResult::result,
                    "MultiCameraResult indexed by position within subset; its reference is position 0")
      .def_readonly("has_triangulation", &SubsetResult::has_triangulation, "whether the triangulation check succeeded")
      .def_readonly("triangulation", &SubsetResult::triangulation,
                    "TriangulationReport of the check; default-valued when it did not succeed");

  const auto per_camera = [](std::vector<cv::Vec3d> RigRefinement::*field) {
    return [field](const RigRefinement& refinement) {
      std::vector<std::vector<double>> values;
      for (const cv::Vec3d& axes : refinement.*field) values.push_back({axes[0], axes[1], axes[2]});
      return values;
    };
  };
  py::classh<RigRefinement>(module, "RigRefinement", "Result of MultiCameraCalibrator.refine().")
      .def_readonly("ok", &RigRefinement::ok, "True when the solver returned a usable solution")
      .def_readonly("converged", &RigRefinement::converged,
                    "True when it stopped because it converged, not on the iteration limit")
      .def_readonly("iterations", &RigRefinement::iterations, "solver iterations")
      .def_readonly("loss_scale_px", &RigRefinement::loss_scale_px, "Huber scale of the cost, pixels")
      .def_readonly("loss_scale_from_data", &RigRefinement::loss_scale_from_data,
                    "True when the scale was chosen from the data rather than given")
      .def_readonly("robust_noise_px", &RigRefinement::robust_noise_px,
                    "with a scale chosen from the data: the robust sigma (1.4826 MAD) per axis of the\n"
                    "pilot solve's residuals it came from, pixels; NaN with a given scale")
      .def_readonly("reference_index", &RigRefinement::reference_index,
                    "the camera whose frame the poses are expressed in")
      .def_readonly("reference_T_camera_list", &RigRefinement::reference_T_camera_list,
                    "(4, 4) float64 refined pose per camera, metres; identity for the reference")
      .def_readonly("intrinsic_matrices", &RigRefinement::intrinsic_matrices, "(3, 3) refined camera matrix per camera")
      .def_readonly("distortion_coefficients", &RigRefinement::distortion_coefficients,
                    "(1, n) refined distortion coefficients per camera, n as calibrated")
      .def_readonly("reference_T_board_list", &RigRefinement::reference_T_board_list,
                    "(4, 4) board pose per frame in the reference frame, metres; (0, 0) for a frame no camera saw")
      .def_readonly("corner_count", &RigRefinement::corner_count, "corners in the cost, over every camera")
      .def_readonly("rms_before_px", &RigRefinement::rms_before_px,
                    "RMS reprojection distance over all corners with the pairwise rig and intrinsics as given\n"
                    "(board poses fitted to them), pixels")
      .def_readonly("rms_after_px", &RigRefinement::rms_after_px,
                    "RMS reprojection distance over all corners at the solution: the one the fit minimised, pixels")
      .def_readonly("per_camera_rms_px", &RigRefinement::per_camera_rms_px, "per camera, RMS at the solution, pixels")
      .def_readonly("per_camera_corner_count", &RigRefinement::per_camera_corner_count,
                    "per camera, the corners behind its RMS")
      .def_property_readonly("sigma_translation_mm", per_camera(&RigRefinement::sigma_translation_mm),
                             "per camera, 1-sigma of its position along the reference camera's x, y, z, mm;\n"
                             "0 for the reference, NaN when the Jacobian is rank deficient")
      .def_property_readonly("sigma_rotation_deg", per_camera(&RigRefinement::sigma_rotation_deg),
                             "per camera, 1-sigma of its rotation about the reference camera's x, y, z, degrees")
      .def_readonly("image_noise_px", &RigRefinement::image_noise_px,
                    "corner noise per axis that the residuals show, pixels");

  py::classh<MultiCameraCalibrator>(module, "MultiCameraCalibrator",
                                    "Multi-camera extrinsic calibrator built on cv::stereoCalibrate.")
      .def(py::init<Target, int, int, IntrinsicOptions, int>(), py::arg("target"), py::arg("num_cameras"),
           py::arg("reference_index") = 0,
           py::arg_v("options", MultiCameraCalibrator::defaultOptions(), "MultiCameraCalibrator.default_options()"),
           py::arg("stereo_calibrate_flags") = kCalibFixIntrinsic,
           "target: ChessboardTarget, CharucoTarget or ArucoTarget seen by every camera (the\n"
           "triangulation check needs a CharucoTarget). num_cameras: rig cameras, at least 2.\n"
           "reference_index: the camera whose frame the poses are expressed in. options: the\n"
           "per-camera intrinsic calibration; its criteria also end the stereo solve.\n"
           "stereo_calibrate_flags: handed to stereoCalibrate (CALIB_FIX_INTRINSIC keeps each\n"
           "camera's intrinsics, CALIB_USE_INTRINSIC_GUESS refines them in every pair). Raises\n"
           "ValueError for fewer than 2 cameras or a reference_index out of range.")
      .def_static("default_options", &MultiCameraCalibrator::defaultOptions,
                  "A new IntrinsicOptions with a tighter solver epsilon (1e-6) and a looser\n"
                  "per_view_error_threshold (3 px) than the plain defaults.")
      .def("target", &MultiCameraCalibrator::target, docs::kTargetAccessor)
      .def("num_cameras", &MultiCameraCalibrator::numCameras, "The number of rig cameras.")
      .def("reference_index", &MultiCameraCalibrator::referenceIndex,
           "The camera whose frame the poses are expressed in.")
      // output_path defaults to the string "", the empty path (save nothing), not Path(".").
      .def("calibrate", lockedWithoutGil(&MultiCameraCalibrator::calibrate), py::arg("image_lists"),
           py::arg("intrinsic_matrices") = std::vector<cv::Mat>(),
           py::arg("distortion_coefficients") = std::vector<cv::Mat>(), py::arg("output_path") = py::str(""),
           join("image_lists[c][f]: frame f of camera c, BGR (H, W, 3) uint8. Intrinsics are calibrated unless both "
                "lists are given. Prints the report; saves multi_camera_calibration.json when output_path is given.\n\n"
                "Pairs every camera with the reference over the frames both saw (and that pass both\n"
                "cameras' per-view error filter) and solves each pair with stereoCalibrate. When\n"
                "every pair solved, frame 0 is triangulated as a check (ChArUco targets; a check that\n"
                "fails is a warning). Every run starts from a cleared result, which is kept for\n"
                "last_result() and format_results(), printed and saved whether or not it is ok.",
                docs::kArguments, docs::kImageLists,
                "- intrinsic_matrices: list of num_cameras (3, 3) float64 camera matrices, pixels; []\n"
                "  to calibrate them\n"
                "- distortion_coefficients: list of num_cameras distortion coefficient arrays; [] to\n"
                "  calibrate them\n"
                "- output_path: where to save multi_camera_calibration.json",
                docs::kResultPathRule, docs::kOutputPathSuffix, docs::kReturns,
                "MultiCameraResult. A pair with fewer than 4 shared frames is skipped with an error\n"
                "line: its pose is (0, 0) and ok is False.",
                docs::kRaises,
                "ValueError for image lists of the wrong number or unequal lengths, empty lists, or\n"
                "intrinsics lists not num_cameras long; RuntimeError when a camera's intrinsic\n"
                "calibration fails, for OpenCV's errors and for a file that cannot be written.")
               .c_str())
      .def("last_result", lockedWithoutGil(&MultiCameraCalibrator::lastResult),
           "A copy of the MultiCameraResult of the last calibrate() (ok False, empty poses and NaN\n"
           "errors before one).")
      .def("triangulate", lockedWithoutGil(&MultiCameraCalibrator::triangulate), py::arg("image_lists"),
           py::arg("frame_index") = 0,
           join("Triangulates the ChArUco corners of one frame with the last result, as a check of\n"
                "the rig against the board's geometry.",
                docs::kArguments, docs::kImageLists, "- frame_index: the frame to triangulate",
                docs::kReturns,
                "TriangulationReport of the corners seen by at least two cameras; a camera where the\n"
                "board is not found is left out with a warning.",
                docs::kRaises,
                "RuntimeError before a complete calibration, with fewer than 4 corners seen by two\n"
                "cameras, or when every point is degenerate; ValueError for a target other than a\n"
                "CharucoTarget, fewer image lists than cameras or a frame_index out of range.")
               .c_str())
      .def("refine", lockedWithoutGil(&MultiCameraCalibrator::refine), py::arg("loss_scale_px") = py::none(),
           join("Bundle adjustment of the last calibrate()'s rig, started from its pairwise result.\n\n"
                "Every corner each camera saw is predicted through its pose reference_T_camera and\n"
                "the board pose of its frame, and every camera's intrinsics (in the model of the\n"
                "calibrator's options), every camera's pose and every frame's board pose are moved to\n"
                "minimise the Huber-robustified squared pixel error; a frame a camera missed has no\n"
                "terms for it. The outcome is kept for format_refinement(); the last result stays the\n"
                "pairwise one.",
                docs::kArguments,
                "- loss_scale_px: Huber scale, pixels: corners further off count linearly (> 0). None:\n"
                "  chosen from the data, 1.345 x the corners' robust noise sigma (1.4826 MAD per\n"
                "  axis) after a pilot solve at 1 px: corners within the noise count as in least\n"
                "  squares, corners pixels off linearly",
                docs::kReturns, "RigRefinement with each camera's sigma.", docs::kRaises,
                "RuntimeError without a successful calibrate(); ValueError for a loss_scale_px that is\n"
                "not positive.")
               .c_str())
      .def("format_refinement", lockedWithoutGil(&MultiCameraCalibrator::formatRefinement),
           "The last refine() as text: its cost, the RMS with the pairwise rig as given and refined,\n"
           "then per camera the refined pose, its change from the pairwise result, its 1-sigma (mm,\n"
           "degrees) and its intrinsics. \"Not refined.\" before a refine().")
      .def("format_results", lockedWithoutGil(&MultiCameraCalibrator::formatResults),
           "The fixed-layout report of the last result: per-camera intrinsics and RPE (pixels),\n"
           "reference_T_camera per camera with its stereo RMS, the triangulation check (mm,\n"
           "pixels) and the subset summary of the last calibrate_subsets().")
      .def("print_results", lockedWithoutGil(&MultiCameraCalibrator::printResults), docs::kPrintResults)
      .def("calibrate_subsets", lockedWithoutGil(&MultiCameraCalibrator::calibrateSubsets),
           py::arg("image_lists"), py::arg("subset_sizes") = std::vector<int>{2, 3}, py::arg("frame_index") = 0,
           join("Calibrates every combination of cameras of the given sizes as a rig of its own.\n\n"
                "Combinations come in lexicographic order, each with reference position 0 (its\n"
                "lowest camera), calibrated afresh (its own report printed, nothing saved), then\n"
                "triangulated at frame_index. The list is kept for the report's subset summary.",
                docs::kArguments, docs::kImageLists,
                "- subset_sizes: numbers of cameras per combination; sizes above num_cameras are\n"
                "  skipped with a warning\n"
                "- frame_index: the frame each combination triangulates",
                docs::kReturns,
                "A list of SubsetResult, one per combination; a failed triangulation leaves\n"
                "has_triangulation False with a warning.",
                docs::kRaises,
                "ValueError for a size below 1 or a number of image lists other than num_cameras,\n"
                "before anything runs.")
               .c_str());

  using vemo::geometry::StereoRectification;
  py::classh<StereoRectification>(module, "StereoRectification", "Result of stereo_rectify().")
      .def_readonly("rectified_R_first", &StereoRectification::rectified_R_first,
                    "(3, 3) float64, first camera frame into its rectified frame (OpenCV's R1)")
      .def_readonly("rectified_R_second", &StereoRectification::rectified_R_second,
                    "(3, 3) float64, second camera frame into its rectified frame (R2)")
      .def_readonly("first_projection", &StereoRectification::first_projection,
                    "(3, 4) float64 projection of the rectified first camera (P1)")
      .def_readonly("second_projection", &StereoRectification::second_projection,
                    "(3, 4) float64 projection of the rectified second camera, -f * baseline in (0, 3) (P2)")
      .def_readonly("disparity_to_depth", &StereoRectification::disparity_to_depth, "(4, 4) float64, OpenCV's Q");
  module.def("stereo_rectify", &vemo::geometry::rectifyStereoPair, py::arg("first_intrinsic_matrix"),
             py::arg("first_distortion"), py::arg("second_intrinsic_matrix"), py::arg("second_distortion"),
             py::arg("image_size"), py::arg("second_T_first"), py::arg("alpha") = -1.0,
             "cv::stereoRectify of a calibrated pair with zero disparity at infinity.\n\n"
             "first_intrinsic_matrix, second_intrinsic_matrix: (3, 3) camera matrices; first_distortion,\n"
             "second_distortion: their distortion coefficients; image_size: (width, height) pixels;\n"
             "second_T_first: (4, 4) pose of the first camera in the second's frame, metres; alpha: 0\n"
             "keeps only valid pixels, 1 every source pixel, -1 OpenCV's own scaling. Returns a\n"
             "StereoRectification; ValueError for a transform that is not (4, 4) or an image size that\n"
             "is not positive.");
}

}  // namespace vemo::bindings
