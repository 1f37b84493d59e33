#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/io/eye_to_hand_record.hpp"
#include "vemo/io/hand_eye_dataset.hpp"
#include "vemo/io/image_paths.hpp"
#include "vemo/io/multi_camera_dataset.hpp"
#include "vemo/io/result_records.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerIo(py::module_& io) {
  using namespace vemo::io;
  const std::vector<cv::Mat> no_images;
  // Encoding and decoding images takes long; the arguments are copies (gil_release.hpp).
  using WithoutGil = py::call_guard<py::gil_scoped_release>;

  io.def("save_hand_eye_dataset", &saveHandEyeDataset, py::arg("data_dir"), py::arg("image_list"),
         py::arg("robot_T_tcp_list"), py::arg("annotated_images") = no_images, WithoutGil());
  io.def("load_hand_eye_dataset", &loadHandEyeDataset, py::arg("data_dir"), py::arg("image_format") = "png",
         WithoutGil());

  io.def("next_multi_camera_capture_index", &nextMultiCameraCaptureIndex, py::arg("data_dir"),
         py::arg("num_cameras"));
  io.def("save_multi_camera_capture", &saveMultiCameraCapture, py::arg("data_dir"), py::arg("frames"),
         py::arg("capture_index"), py::arg("annotated_images") = no_images, WithoutGil());
  io.def("save_multi_camera_robot_poses", &saveMultiCameraRobotPoses, py::arg("data_dir"),
         py::arg("robot_T_tcp_list"), py::arg("num_cameras"));
  io.def("load_multi_camera_robot_poses", &loadMultiCameraRobotPoses, py::arg("data_dir"));
  io.def("load_multi_camera_dataset", &loadMultiCameraDataset, py::arg("data_dir"), py::arg("num_cameras"),
         WithoutGil());

  py::classh<MultiCameraCalibrationRecord>(io, "MultiCameraCalibrationRecord")
      .def(py::init<>())
      .def_readwrite("reference_index", &MultiCameraCalibrationRecord::reference_index)
      .def_readwrite("num_cameras", &MultiCameraCalibrationRecord::num_cameras)
      .def_readwrite("intrinsic_matrices", &MultiCameraCalibrationRecord::intrinsic_matrices)
      .def_readwrite("distortion_coefficients", &MultiCameraCalibrationRecord::distortion_coefficients)
      .def_readwrite("reference_T_camera_list", &MultiCameraCalibrationRecord::reference_T_camera_list)
      .def_readwrite("intrinsic_reprojection_errors", &MultiCameraCalibrationRecord::intrinsic_reprojection_errors)
      .def_readwrite("pair_reprojection_errors", &MultiCameraCalibrationRecord::pair_reprojection_errors);
  io.def("save_multi_camera_calibration", &saveMultiCameraCalibration, py::arg("output_path"), py::arg("record"));
  io.def("load_multi_camera_calibration", &loadMultiCameraCalibration, py::arg("input_path"));

  py::classh<HandEyeResultRecord>(io, "HandEyeResultRecord")
      .def(py::init<>())
      .def_readwrite("reference_index", &HandEyeResultRecord::reference_index)
      .def_readwrite("num_cameras", &HandEyeResultRecord::num_cameras)
      .def_readwrite("method", &HandEyeResultRecord::method)
      .def_readwrite("num_frames_used", &HandEyeResultRecord::num_frames_used)
      .def_readwrite("num_frames_total", &HandEyeResultRecord::num_frames_total)
      .def_readwrite("tcp_T_camera_list", &HandEyeResultRecord::tcp_T_camera_list);
  io.def("save_hand_eye_result", &saveHandEyeResult, py::arg("output_path"), py::arg("record"));
  io.def("load_hand_eye_result", &loadHandEyeResult, py::arg("input_path"));

  py::classh<EyeToHandResultRecord>(io, "EyeToHandResultRecord")
      .def(py::init<>())
      .def_readwrite("method", &EyeToHandResultRecord::method)
      .def_readwrite("num_frames_used", &EyeToHandResultRecord::num_frames_used)
      .def_readwrite("num_frames_total", &EyeToHandResultRecord::num_frames_total)
      .def_readwrite("base_T_camera", &EyeToHandResultRecord::base_T_camera)
      .def_readwrite("tcp_T_target", &EyeToHandResultRecord::tcp_T_target);
  io.def("save_eye_to_hand_result", &saveEyeToHandResult, py::arg("output_path"), py::arg("record"));
  io.def("load_eye_to_hand_result", &loadEyeToHandResult, py::arg("input_path"));

  io.def("load_images", &loadImages, py::arg("paths"),
         "(images, paths): the BGR uint8 (H, W, 3) images of files, folders (their .png, .jpg, .jpeg files) "
         "and glob patterns, and the path each was read from.");
}

}  // namespace vemo::bindings
