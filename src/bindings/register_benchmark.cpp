#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

constexpr char kOptions[] = "- options: IntrinsicOptions of the backend's intrinsic calibration\n";
constexpr char kCrossValidationArguments[] =
    "- n_splits: number of folds: the shuffled images are held out in runs of\n"
    "  max(1, len(images) // n_splits), at most n_splits folds; 0 for none (ValueError below 0\n"
    "  and for 1, whose only fold would train on nothing)\n"
    "- seed: unsigned 32-bit seed of the shuffle (std::mt19937): equal seeds give equal folds\n";
constexpr char kRobotPoses[] =
    "- robot_poses: list of 4x4 float64, flange pose robot_T_tcp in the robot base frame,\n"
    "  metres, one per image";
constexpr char kResults[] = "- results: list of BenchmarkResult, one row each";

}  // namespace

void registerBenchmark(py::module_& module) {
  using namespace vemo::quality;
  using docs::join;
  py::classh<BenchmarkResult>(module, "BenchmarkResult", "One backend's benchmark outcome.")
      .def_readonly("backend_name", &BenchmarkResult::backend_name, "the run's label")
      .def_readonly("reprojection_error", &BenchmarkResult::reprojection_error,
                    "mean reprojection error of the full intrinsic calibration, pixels")
      .def_readonly("held_out_reprojection_error", &BenchmarkResult::held_out_reprojection_error,
                    "cross-validation mean held-out error, pixels; inf when none was computed")
      .def_readonly("hand_eye_roundtrip_error", &BenchmarkResult::hand_eye_roundtrip_error,
                    "pixels; -1 when not measured, inf when measured without a usable view")
      .def_readonly("camera_matrix", &BenchmarkResult::camera_matrix, "(3, 3) float64 of the full calibration")
      .def_readonly("dist_coeffs", &BenchmarkResult::dist_coeffs, "its distortion coefficients")
      .def_readonly("timestamp", &BenchmarkResult::timestamp, "UTC time the run ended")
      .def_readonly("image_count", &BenchmarkResult::image_count, "number of input images");

  // The eye-in-hand step prints its report: through Python's sys.stdout.
  py::classh<CalibrationBenchmark>(module, "CalibrationBenchmark",
                                   "Cross-validation + optional hand-eye round-trip benchmark.")
      .def(py::init<>(), "Stateless: every method is a function of its arguments.")
      .def("run", lockedWithoutGil(&CalibrationBenchmark::run), py::arg("images"), py::arg("target"),
           py::arg("options"),
           py::arg("robot_poses") = std::vector<cv::Mat>(), py::arg("eye_in_hand_options") = py::none(),
           py::arg("backend_name") = "OpenCV", py::arg("n_splits") = 5, py::arg("seed") = 0u,
           py::arg("intrinsic_matrix") = cv::Mat(), py::arg("distortion_coefficients") = cv::Mat(),
           join("Benchmarks one calibration backend on a data set.\n\n"
                "A full intrinsic calibration, a cross-validation and, given robot poses and\n"
                "eye-in-hand options, an eye-in-hand run (TSAI, its report printed to sys.stdout)\n"
                "with its round trip over all images, using the full calibration's intrinsics.",
                docs::kArguments, docs::kImages, docs::kTarget, kOptions, kRobotPoses,
                "; [] for no hand-eye round trip\n"
                "- eye_in_hand_options: IntrinsicOptions of the eye-in-hand run, or None for no round\n"
                "  trip\n"
                "- backend_name: the label of the result\n",
                kCrossValidationArguments,
                "- intrinsic_matrix: (3, 3) float64 camera matrix calibrated elsewhere, or an empty\n"
                "  array (default) to calibrate one; given, it replaces the full calibration and the\n"
                "  folds: reprojection_error and held_out_reprojection_error are then both the mean\n"
                "  error of every image with it after solvePnP, and the eye-in-hand run holds it\n"
                "- distortion_coefficients: its distortion coefficients\n",
                docs::kReturns,
                "BenchmarkResult; hand_eye_roundtrip_error is -1 when no round trip ran.", docs::kRaises,
                "RuntimeError \"[Benchmark] <backend_name> calibration failed.\" when the full\n"
                "calibration is not ok; the calibration's own errors (ValueError for bad options,\n"
                "RuntimeError from OpenCV).")
               .c_str())
      .def("cross_validate", lockedWithoutGil(&CalibrationBenchmark::crossValidate), py::arg("images"),
           py::arg("target"),
           py::arg("options"), py::arg("n_splits") = 5, py::arg("seed") = 0u,
           join("Mean held-out reprojection error of a seeded k-fold cross-validation, pixels.\n\n"
                "Each fold calibrates on its training images and measures the held-out ones with\n"
                "solvePnP under the fold's intrinsics; a fold with fewer than 4 training images, or\n"
                "whose calibration fails, is skipped.",
                docs::kArguments, docs::kImages, docs::kTarget, kOptions, kCrossValidationArguments,
                docs::kReturns, "The mean held-out error in pixels; inf, with a warning, when none was computed.")
               .c_str())
      .def("hand_eye_roundtrip", lockedWithoutGil(&CalibrationBenchmark::handEyeRoundtrip), py::arg("images"),
           py::arg("robot_poses"),
           py::arg("tcp_T_camera"), py::arg("intrinsic_matrix"), py::arg("distortion_coefficients"),
           py::arg("target"), py::arg("camera_T_target_list"),
           join("Mean reprojection error of every view's target pose predicted from a hand-eye result.\n\n"
                "The board's pose in the robot base frame is the mean of robot_T_tcp @ tcp_T_camera @\n"
                "camera_T_target; each view then predicts camera_T_board = inverse(tcp_T_camera) @\n"
                "inverse(robot_T_tcp) @ base_T_board. Views run while both images and robot poses\n"
                "last.",
                docs::kArguments, docs::kImages, kRobotPoses, "\n",
                "- tcp_T_camera: 4x4 float64 hand-eye result, camera pose in the flange frame, metres\n",
                docs::kIntrinsicMatrix, docs::kDistortionCoefficients, docs::kTarget, docs::kCameraTTargetList,
                docs::kReturns,
                "The mean error in pixels; inf, with a warning, when camera_T_target_list is empty or\n"
                "not as long as robot_poses, or when no view is usable.")
               .c_str())
      .def_static("format_results", &CalibrationBenchmark::formatResults, py::arg("results"),
                  join("The results as a fixed-width table: backend, RPE, held-out and round-trip errors\n"
                       "(pixels, 2 decimals, \"-\" when not measured).",
                       docs::kArguments, kResults, docs::kReturns, "The table as text.")
                      .c_str())
      .def_static("save_json", withoutGil(&CalibrationBenchmark::saveJson), py::arg("results"), py::arg("path"),
                  join("Writes the results as JSON: {\"results\": [...], \"run_timestamp\": ...}, indent 2, keys\n"
                       "sorted, errors rounded to 6 decimals, non-finite and unmeasured values null.",
                       docs::kArguments, kResults, "\n- path: the file to write (str); an existing file is replaced whole or left as\n"
                       "  it was",
                       docs::kRaises, "RuntimeError \"[Benchmark] cannot open <path> for writing\" when the file cannot\n"
                       "be created.")
                      .c_str());
}

}  // namespace vemo::bindings
