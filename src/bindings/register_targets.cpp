#include <string>

#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/targets/targets.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

std::string sizeText(const cv::Size& size) {
  return "(" + std::to_string(size.width) + ", " + std::to_string(size.height) + ")";
}

}  // namespace

void registerTargets(py::module_& module) {
  module.def("aruco_dictionary_id_map", &vemo::arucoDictionaryIdMap,
             "Map of predefined ArUco dictionary names (\"DICT_4X4_50\", ...) to their OpenCV ids.");
  module.def("aruco_dictionary_id_from_name", &vemo::arucoDictionaryIdFromName, py::arg("name"),
             "Resolve a dictionary name (e.g. \"DICT_4X4_50\") to its OpenCV id.");

  py::classh<ChessboardTarget>(module, "ChessboardTarget", "Classic chessboard target: inner-corner grid + square size.")
      .def(py::init([](cv::Size size, double square_size) { return ChessboardTarget{size, square_size}; }),
           py::arg("size"), py::arg("square_size"),
           "size: (cols, rows) of inner corners. square_size: edge length in meters.")
      .def_readwrite("size", &ChessboardTarget::size)
      .def_readwrite("square_size", &ChessboardTarget::square_size)
      .def("object_points", &ChessboardTarget::objectPoints,
           "Board-frame 3D coordinates of all inner corners, (N, 3) float32.")
      .def("__repr__", [](const ChessboardTarget& target) {
        return "ChessboardTarget(size=" + sizeText(target.size) + ", square_size=" + std::to_string(target.square_size) +
               ")";
      });

  py::classh<CharucoTarget>(module, "CharucoTarget", "ChArUco target: chessboard + embedded ArUco markers.")
      .def(py::init<int, int, double, double, int>(), py::arg("squares_x"), py::arg("squares_y"),
           py::arg("square_length"), py::arg("marker_length"), py::arg("aruco_dict_id") = 3)
      .def(py::init<int, int, double, double, const std::string&>(), py::arg("squares_x"), py::arg("squares_y"),
           py::arg("square_length"), py::arg("marker_length"), py::arg("aruco_dict_id"))
      .def_readwrite("squares_x", &CharucoTarget::squares_x)
      .def_readwrite("squares_y", &CharucoTarget::squares_y)
      .def_readwrite("square_length", &CharucoTarget::square_length)
      .def_readwrite("marker_length", &CharucoTarget::marker_length)
      .def_readwrite("aruco_dict_id", &CharucoTarget::aruco_dict_id)
      .def("detect_and_annotate", &CharucoTarget::detectAndAnnotate, py::arg("image"),
           "Detect ChArUco corners on `image` and draw them on a copy. "
           "Returns (annotated_image_bgr, num_charuco_corners).")
      .def("__repr__", [](const CharucoTarget& target) {
        return "CharucoTarget(squares_x=" + std::to_string(target.squares_x) +
               ", squares_y=" + std::to_string(target.squares_y) +
               ", square_length=" + std::to_string(target.square_length) +
               ", marker_length=" + std::to_string(target.marker_length) +
               ", aruco_dict_id=" + std::to_string(target.aruco_dict_id) + ")";
      });

  py::classh<ArucoTarget>(module, "ArucoTarget", "ArUco grid-board target.")
      .def(py::init<cv::Size, double, double, int>(), py::arg("board_size"), py::arg("marker_length"),
           py::arg("marker_separation"), py::arg("aruco_dict_id") = 3)
      .def(py::init<cv::Size, double, double, const std::string&>(), py::arg("board_size"),
           py::arg("marker_length"), py::arg("marker_separation"), py::arg("aruco_dict_id"))
      .def_readwrite("board_size", &ArucoTarget::board_size)
      .def_readwrite("marker_length", &ArucoTarget::marker_length)
      .def_readwrite("marker_separation", &ArucoTarget::marker_separation)
      .def_readwrite("aruco_dict_id", &ArucoTarget::aruco_dict_id)
      .def("__repr__", [](const ArucoTarget& target) {
        return "ArucoTarget(board_size=" + sizeText(target.board_size) +
               ", marker_length=" + std::to_string(target.marker_length) +
               ", marker_separation=" + std::to_string(target.marker_separation) +
               ", aruco_dict_id=" + std::to_string(target.aruco_dict_id) + ")";
      });
}

}  // namespace vemo::bindings
