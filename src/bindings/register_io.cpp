#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/io/eye_to_hand_record.hpp"
#include "vemo/io/hand_eye_dataset.hpp"
#include "vemo/io/image_paths.hpp"
#include "vemo/io/multi_camera_dataset.hpp"
#include "vemo/io/result_records.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

constexpr char kSaveAtomically[] =
    "The files are written as one change that a kill never leaves half done: a later load\n"
    "sees the old files or the new ones.";
constexpr char kSavableImages[] =
    "an image that cannot be saved (empty, or not 8-bit with 1, 3 or 4\n"
    "channels; saved images load as 3-channel BGR)";
constexpr char kWriteFailure[] =
    "RuntimeError \"io: cv::imwrite failed for <path>\" for a file that cannot be written, with\n"
    "\": no space left on device\" appended for a full disk. A folder that held a dataset or a\n"
    "capture then loads as before; in any other the files before it are in place.";
constexpr char kLoadRecordRaises[] =
    "RuntimeError \"io: cannot open <path> for reading\", \"io: cannot read <path>: not a regular\n"
    "file\" (a named pipe, a device), for JSON syntax errors, a missing required key, values of\n"
    "the wrong type, matrix rows of different lengths and integers beyond the int range.";
constexpr char kSaveRecordRaises[] =
    "RuntimeError \"io: cannot open <target> for writing\" or \"io: cannot write ...\", and when\n"
    "a folder cannot be created.";

constexpr char kRecordMethod[] = "hand-eye method name; \"\" when not recorded (stored as null)";
constexpr char kRecordFramesUsed[] = "captures in the solution; negative when not recorded (null)";
constexpr char kRecordFramesTotal[] = "captures supplied; negative when not recorded (null)";

std::string saveRecordDoc(const char* summary, const char* file_name, const char* record) {
  return docs::join(summary, docs::kArguments, "- output_path: where to write ", file_name, docs::kResultPathRule,
                    "\n", record, docs::kReturns, docs::kSavedPathReturn, docs::kRaises, kSaveRecordRaises);
}

std::string loadRecordDoc(const char* summary, const char* returned) {
  return docs::join(summary, docs::kArguments, docs::kLoadPath, docs::kReturns, returned, docs::kRaises,
                    kLoadRecordRaises);
}

}  // namespace

void registerIo(py::module_& io) {
  using namespace vemo::io;
  using docs::join;
  const std::vector<cv::Mat> no_images;
  // Encoding and decoding images takes long, a folder may be locked by a thread that needs
  // the interpreter lock to log, and any file may be slow to read; the arguments are copies
  // (gil_release.hpp), and the records that saves read are copied in by withoutGil.
  using WithoutGil = py::call_guard<py::gil_scoped_release>;

  io.def("save_hand_eye_dataset", &saveHandEyeDataset, py::arg("data_dir"), py::arg("image_list"),
         py::arg("robot_T_tcp_list"), py::arg("annotated_images") = no_images, WithoutGil(),
         join("Saves a hand-eye dataset: calibration_data.npz with robot_T_tcp_list as float64\n"
              "(N, 4, 4), and image i as image_<i>.png (two digits at least), each annotated image\n"
              "as image_<i>_annotated.png right after it.\n\n",
              kSaveAtomically,
              "\n\n"
              "data_dir is created with its parents; existing files are replaced, every other file\n"
              "stays. Poses of any numeric dtype are stored as float64; images and poses need not be\n"
              "equally many.",
              docs::kArguments, docs::kDataDir,
              "- image_list: list of images to write as PNG (uint8 BGR (H, W, 3), or 1 or 4 channels)\n",
              docs::kRobotTTcpList, "- annotated_images: [] or one image per entry of image_list",
              docs::kRaises, "ValueError before writing anything when annotated_images is neither empty nor as\n"
              "long as image_list, or for ", kSavableImages, ".\n"
              "ValueError \"io: expected 4x4 pose matrices\" for a pose that is not 4x4.\n", kWriteFailure,
              "\nRuntimeError \"npz: cannot write <path>: <reason>\" when the pose archive cannot be\n"
              "written.")
             .c_str());
  io.def("load_hand_eye_dataset", &loadHandEyeDataset, py::arg("data_dir"), py::arg("image_format") = "png",
         WithoutGil(),
         join("Loads a dataset that save_hand_eye_dataset wrote, after finishing a save that a kill\n"
              "interrupted.",
              docs::kArguments, docs::kDataDir,
              "- image_format: extension of the image files, without the dot (image_<i>.<image_format>)",
              docs::kReturns,
              "(images, poses): images as (H, W, 3) uint8 BGR, poses as (4, 4) float64 robot_T_tcp.\n"
              "Images may be missing only at the end, so there can be fewer images than poses\n"
              "(image i pairs with pose i); compare the counts.",
              docs::kRaises,
              "RuntimeError \"io: missing image file <path>\" when a missing image is followed by one\n"
              "that exists, and for an archive that cannot be read.")
             .c_str());

  io.def("next_multi_camera_capture_index", &nextMultiCameraCaptureIndex, py::arg("data_dir"),
         py::arg("num_cameras"), WithoutGil(),
         join("The capture index to save next in a multi-camera capture folder.\n\n"
              "One more than the largest capture number (the digits after the last \"_\" of a frame\n"
              "file name) in the first num_cameras camera folders; gaps are not filled. A capture\n"
              "whose save a kill interrupted is finished first.",
              docs::kArguments, docs::kDataDir, docs::kNumCameras, docs::kReturns,
              "An int; 0 when there is no frame or the folders are missing.", docs::kRaises,
              "IndexError (\"stoi: io: nextMultiCameraCaptureIndex: ...\", naming the file) for a\n"
              "capture number beyond the int range; ValueError for a negative num_cameras.")
             .c_str());
  io.def("save_multi_camera_capture", &saveMultiCameraCapture, py::arg("data_dir"), py::arg("frames"),
         py::arg("capture_index"), py::arg("annotated_images") = no_images, WithoutGil(),
         join("Saves one synchronized capture: frames[c] as cam_<c>/image_<capture_index>.png, each\n"
              "annotated image right after the frame of its camera.\n\n",
              kSaveAtomically, "\n\n"
              "The capture is then in every camera folder or in none. All camera folders are\n"
              "created first.",
              docs::kArguments, docs::kDataDir,
              "- frames: one image per camera, uint8 BGR (H, W, 3) (or 1 or 4 channels)\n"
              "- capture_index: the capture number, >= 0 (next_multi_camera_capture_index)\n"
              "- annotated_images: [] or one image per frame",
              docs::kRaises, "ValueError before writing anything for a negative capture_index, when\n"
              "annotated_images is neither empty nor as long as frames, or for\n", kSavableImages, ".\n",
              kWriteFailure)
             .c_str());
  io.def("save_multi_camera_robot_poses", &saveMultiCameraRobotPoses, py::arg("data_dir"),
         py::arg("robot_T_tcp_list"), py::arg("num_cameras"), WithoutGil(),
         join("Writes the robot poses as calibration_data.npz (float64 (N, 4, 4)) into each of the\n"
              "first num_cameras camera folders, creating them.\n\n",
              kSaveAtomically,
              docs::kArguments, docs::kDataDir, docs::kRobotTTcpList, docs::kNumCameras, docs::kRaises,
              "ValueError \"io: expected 4x4 pose matrices\" before creating anything, and for a\n"
              "negative num_cameras; RuntimeError for an archive that cannot be written.")
             .c_str());
  io.def("load_multi_camera_robot_poses", &loadMultiCameraRobotPoses, py::arg("data_dir"), WithoutGil(),
         join("The robot poses of a multi-camera capture folder.", docs::kArguments, docs::kDataDir, docs::kReturns,
              "A list of (4, 4) float64 robot_T_tcp from the first cam_* folder (in byte order of\n"
              "the names) that holds calibration_data.npz; [] when data_dir is not a folder or none\n"
              "has one.",
              docs::kRaises, "RuntimeError for an archive that cannot be read.")
             .c_str());
  io.def("load_multi_camera_dataset", &loadMultiCameraDataset, py::arg("data_dir"), py::arg("num_cameras"),
         WithoutGil(),
         join("Loads the frames of every camera of a multi-camera capture folder, after finishing a\n"
              "save that a kill interrupted.",
              docs::kArguments, docs::kDataDir, docs::kNumCameras, docs::kReturns,
              "result[c][k]: frame k of camera c, (H, W, 3) uint8 BGR, in capture order\n"
              "(image_99.png before image_100.png); [] for num_cameras <= 0.",
              docs::kRaises,
              "RuntimeError for a missing camera folder, a folder without frame files, cameras\n"
              "holding different numbers of frames, and \"io: missing frame file <path>; captures must\n"
              "be synchronized\" for cameras holding as many frames of different captures (the path\n"
              "names the first capture a camera lacks).")
             .c_str());

  py::classh<MultiCameraCalibrationRecord>(io, "MultiCameraCalibrationRecord")
      .def(py::init<>(), "An empty record: reference_index and num_cameras 0, empty lists.")
      .def_readwrite("reference_index", &MultiCameraCalibrationRecord::reference_index,
                     "camera whose frame is the rig reference")
      .def_readwrite("num_cameras", &MultiCameraCalibrationRecord::num_cameras, "number of rig cameras")
      .def_readwrite("intrinsic_matrices", &MultiCameraCalibrationRecord::intrinsic_matrices, "(3, 3) per camera")
      .def_readwrite("distortion_coefficients", &MultiCameraCalibrationRecord::distortion_coefficients,
                     "per camera; read back as (1, n) float64")
      .def_readwrite("reference_T_camera_list", &MultiCameraCalibrationRecord::reference_T_camera_list,
                     "(4, 4) per camera, camera frame into the reference camera frame, metres; (0, 0) when\n"
                     "unknown (stored as null)")
      .def_readwrite("intrinsic_reprojection_errors", &MultiCameraCalibrationRecord::intrinsic_reprojection_errors,
                     "pixels per camera; NaN when missing")
      .def_readwrite("pair_reprojection_errors", &MultiCameraCalibrationRecord::pair_reprojection_errors,
                     "pixels per camera against the reference; NaN when missing");
  // Records are read and written under their folder's lock, which a dataset load holds
  // while it logs through the interpreter lock: they wait for it without the latter.
  io.def("save_multi_camera_calibration", withoutGil(&saveMultiCameraCalibration), py::arg("output_path"),
         py::arg("record"),
         saveRecordDoc("Writes a rig calibration as multi_camera_calibration.json (2-space indent, sorted\n"
                       "keys, NaN as null).",
                       "multi_camera_calibration.json", "- record: MultiCameraCalibrationRecord")
             .c_str());
  io.def("load_multi_camera_calibration", withoutGil(&loadMultiCameraCalibration), py::arg("input_path"),
         loadRecordDoc("Reads a multi_camera_calibration.json (only its first JSON value; null reads as NaN).",
                       "MultiCameraCalibrationRecord.")
             .c_str());

  py::classh<HandEyeResultRecord>(io, "HandEyeResultRecord")
      .def(py::init<>(),
           "An empty record: reference_index and num_cameras 0, no method, frame counts -1 (not\n"
           "recorded), no transforms.")
      .def_readwrite("reference_index", &HandEyeResultRecord::reference_index, "the eye-in-hand run stores 0")
      .def_readwrite("num_cameras", &HandEyeResultRecord::num_cameras, "the eye-in-hand run stores 1")
      .def_readwrite("method", &HandEyeResultRecord::method, kRecordMethod)
      .def_readwrite("num_frames_used", &HandEyeResultRecord::num_frames_used, kRecordFramesUsed)
      .def_readwrite("num_frames_total", &HandEyeResultRecord::num_frames_total, kRecordFramesTotal)
      .def_readwrite("tcp_T_camera_list", &HandEyeResultRecord::tcp_T_camera_list,
                     "(4, 4) per camera, camera frame into the flange (TCP) frame, metres; (0, 0) when\n"
                     "unknown (stored as null)");
  io.def("save_hand_eye_result", withoutGil(&saveHandEyeResult), py::arg("output_path"), py::arg("record"),
         saveRecordDoc("Writes a hand-eye result as hand_eye.json (2-space indent, sorted keys, NaN as null).",
                       "hand_eye.json", "- record: HandEyeResultRecord")
             .c_str());
  io.def("load_hand_eye_result", withoutGil(&loadHandEyeResult), py::arg("input_path"),
         loadRecordDoc("Reads a hand_eye.json (only its first JSON value).", "HandEyeResultRecord.").c_str());

  py::classh<EyeToHandResultRecord>(io, "EyeToHandResultRecord")
      .def(py::init<>(), "An empty record: no method, frame counts -1 (not recorded), (0, 0) transforms.")
      .def_readwrite("method", &EyeToHandResultRecord::method, kRecordMethod)
      .def_readwrite("num_frames_used", &EyeToHandResultRecord::num_frames_used, kRecordFramesUsed)
      .def_readwrite("num_frames_total", &EyeToHandResultRecord::num_frames_total, kRecordFramesTotal)
      .def_readwrite("base_T_camera", &EyeToHandResultRecord::base_T_camera,
                     "(4, 4), camera frame into the robot base frame, metres; (0, 0) when unknown (null)")
      .def_readwrite("tcp_T_target", &EyeToHandResultRecord::tcp_T_target,
                     "(4, 4), target frame into the flange (TCP) frame, metres; (0, 0) when unknown (null)");
  io.def("save_eye_to_hand_result", withoutGil(&saveEyeToHandResult), py::arg("output_path"), py::arg("record"),
         saveRecordDoc("Writes an eye-to-hand result as eye_to_hand.json (2-space indent, sorted keys) and\n"
                       "logs a success line.",
                       "eye_to_hand.json", "- record: EyeToHandResultRecord")
             .c_str());
  io.def("load_eye_to_hand_result", withoutGil(&loadEyeToHandResult), py::arg("input_path"),
         loadRecordDoc("Reads an eye_to_hand.json.", "EyeToHandResultRecord.").c_str());

  io.def("load_images", &loadImages, py::arg("paths"), WithoutGil(),
         join("(images, paths): the BGR uint8 (H, W, 3) images of files, folders (their .png, .jpg, .jpeg files) "
              "and glob patterns, and the path each was read from.\n\n"
              "Folders are not descended into; folder and pattern matches come in sorted order;\n"
              "a file named twice is read once.",
              docs::kArguments,
              "- paths: list of str, each a file, a folder (.png, .jpg and .jpeg files in any letter\n"
              "  case) or a glob pattern (* and ? in the file name)",
              docs::kReturns, "(images, paths): lists of (H, W, 3) uint8 BGR arrays and of pathlib.Path.",
              docs::kRaises,
              "ValueError \"loadImages: no paths given\" for an empty list; RuntimeError\n"
              "\"io: no image file matches <entry>\" for a folder or pattern without images and\n"
              "\"io: cv::imread returned an empty image for <path>\" for a file that cannot be read,\n"
              "\"io: cannot read <path>: not a regular file\" for a named pipe or a device.")
             .c_str());
}

}  // namespace vemo::bindings
