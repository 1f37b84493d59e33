#include <string>

#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/register.hpp"
#include "vemo/targets/targets.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

std::string sizeText(const cv::Size& size) {
  return "(" + std::to_string(size.width) + ", " + std::to_string(size.height) + ")";
}

constexpr char kSquareEdge[] = "square edge, metres";
constexpr char kMarkerLength[] = "marker edge, metres";
constexpr char kDictionaryId[] = "predefined dictionary id (aruco_dictionary_id_map)";
constexpr char kDictionaryByName[] =
    " as above);\n"
    "aruco_dict_id is a key of aruco_dictionary_id_map(), and an unknown name raises\n"
    "ValueError \"Unknown aruco_dict_id '<name>'\".";

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
      .def_readwrite("size", &ChessboardTarget::size, "(cols, rows) of inner corners")
      .def_readwrite("square_size", &ChessboardTarget::square_size, kSquareEdge)
      .def("object_points", &ChessboardTarget::objectPoints,
           "Board-frame 3D coordinates of all inner corners, (N, 3) float32.")
      .def("__repr__", [](const ChessboardTarget& target) {
        return "ChessboardTarget(size=" + sizeText(target.size) + ", square_size=" + std::to_string(target.square_size) +
               ")";
      });

  py::classh<CharucoTarget>(module, "CharucoTarget", "ChArUco target: chessboard + embedded ArUco markers.")
      .def(py::init<int, int, double, double, int>(), py::arg("squares_x"), py::arg("squares_y"),
           py::arg("square_length"), py::arg("marker_length"), py::arg("aruco_dict_id") = 3,
           "A board of squares_x x squares_y squares (square_length edge, metres) with ArUco\n"
           "markers of marker_length (metres) in the white squares, from the predefined dictionary\n"
           "aruco_dict_id (3: \"DICT_4X4_1000\"). Values are stored unvalidated; OpenCV checks them\n"
           "when the board is built (RuntimeError).")
      .def(py::init<int, int, double, double, const std::string&>(), py::arg("squares_x"), py::arg("squares_y"),
           py::arg("square_length"), py::arg("marker_length"), py::arg("aruco_dict_id"),
           docs::join("The same board with the dictionary given by name (squares_x, squares_y,\n"
                      "square_length, marker_length",
                      kDictionaryByName)
               .c_str())
      .def_readwrite("squares_x", &CharucoTarget::squares_x, "squares along x")
      .def_readwrite("squares_y", &CharucoTarget::squares_y, "squares along y")
      .def_readwrite("square_length", &CharucoTarget::square_length, kSquareEdge)
      .def_readwrite("marker_length", &CharucoTarget::marker_length, kMarkerLength)
      .def_readwrite("aruco_dict_id", &CharucoTarget::aruco_dict_id, kDictionaryId)
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
           py::arg("marker_separation"), py::arg("aruco_dict_id") = 3,
           "A grid of board_size = (markers along x, markers along y) markers of marker_length\n"
           "(metres), marker_separation (metres) apart, from the predefined dictionary aruco_dict_id\n"
           "(3: \"DICT_4X4_1000\"). Values are stored unvalidated.")
      .def(py::init<cv::Size, double, double, const std::string&>(), py::arg("board_size"),
           py::arg("marker_length"), py::arg("marker_separation"), py::arg("aruco_dict_id"),
           docs::join("The same grid with the dictionary given by name (board_size, marker_length,\n"
                      "marker_separation",
                      kDictionaryByName)
               .c_str())
      .def_readwrite("board_size", &ArucoTarget::board_size, "(markers along x, markers along y)")
      .def_readwrite("marker_length", &ArucoTarget::marker_length, kMarkerLength)
      .def_readwrite("marker_separation", &ArucoTarget::marker_separation, "gap between neighbouring markers, metres")
      .def_readwrite("aruco_dict_id", &ArucoTarget::aruco_dict_id, kDictionaryId)
      .def("__repr__", [](const ArucoTarget& target) {
        return "ArucoTarget(board_size=" + sizeText(target.board_size) +
               ", marker_length=" + std::to_string(target.marker_length) +
               ", marker_separation=" + std::to_string(target.marker_separation) +
               ", aruco_dict_id=" + std::to_string(target.aruco_dict_id) + ")";
      });
}

}  // namespace vemo::bindings
