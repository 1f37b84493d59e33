#include <string>

#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/gil_release.hpp"
#include "bindings/register.hpp"
#include "vemo/targets/charuco_layout_check.hpp"
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

void registerCharucoLayoutCheck(py::module_& module) {
  py::classh<CharucoLayoutFit>(module, "CharucoLayoutFit", "One ChArUco layout measured against the detected markers.")
      .def_readonly("squares_x", &CharucoLayoutFit::squares_x, "squares along x")
      .def_readonly("squares_y", &CharucoLayoutFit::squares_y, "squares along y")
      .def_readonly("residual_squares", &CharucoLayoutFit::residual_squares,
                    "median over the images used of the RMS distance of the marker corners from the\n"
                    "best homography of their board positions, in square edges as the image shows\n"
                    "them; inf when an id seen in two or more images (or in the only one) is beyond\n"
                    "the board's markers");
  py::classh<CharucoLayoutCheck>(module, "CharucoLayoutCheck",
                                 "Whether detected ArUco markers fit a ChArUco target's layout.")
      .def_readonly("fits", &CharucoLayoutCheck::fits,
                    "False only when the images show that the markers do not fit the layout")
      .def_readonly("images_used", &CharucoLayoutCheck::images_used,
                    "images with at least 4 markers, the only evidence")
      .def_readonly("layouts", &CharucoLayoutCheck::layouts,
                    "CharucoLayoutFit list: the target's layout first, then, when it does not fit,\n"
                    "the candidates tried, fewest changes first; [] when no image was used")
      .def_readonly("fitting_layout", &CharucoLayoutCheck::fitting_layout,
                    "(squares_x, squares_y) the markers fit, the target's own when it fits; None when\n"
                    "no layout fits or no image was used")
      .def_readonly("warning", &CharucoLayoutCheck::warning, "the warning to give; \"\" when fits");
  using CheckOnImages = CharucoLayoutCheck (*)(const CharucoTarget&, const std::vector<cv::Mat>&);
  module.def("check_charuco_layout", withoutGil(static_cast<CheckOnImages>(&checkCharucoLayout)), py::arg("target"),
             py::arg("images"),
             docs::join("Whether the ArUco markers seen in the images sit where the target's layout puts\n"
                        "them, and if not, which layout they fit.\n\n"
                        "A ChArUco board given with its squares swapped or a square or two off still yields\n"
                        "corners, interpolated from markers in the wrong squares. Per image with at least 4\n"
                        "markers, a homography is fitted from the markers' board positions to their\n"
                        "corners; the layout fits when the median residual is at most 0.4 square edge.\n"
                        "When it does not, layouts up to 2 squares larger or smaller in each dimension, and\n"
                        "turned, are tried. Nothing is logged.",
                        docs::kArguments, "- target: CharucoTarget\n",
                        "- images: list of (H, W) grey or (H, W, 3) or (H, W, 4) uint8 BGR images of the\n"
                        "  target",
                        docs::kReturns,
                        "CharucoLayoutCheck. Its warning, when the markers do not fit, is exactly\n"
                        "\"ChArUco markers do not fit a <X>x<Y> board; they fit a <X2>x<Y2> board\n"
                        "(squares_x x squares_y)\" (one line), or \"ChArUco markers do not fit a <X>x<Y>\n"
                        "board, nor any board a square or two larger, smaller or turned\" (one line).",
                        docs::kRaises,
                        "ValueError for an unusable target or a board with more markers than its\n"
                        "dictionary; RuntimeError for an image that is not 8-bit grey or BGR.")
                 .c_str());
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

  registerCharucoLayoutCheck(module);
}

}  // namespace vemo::bindings
