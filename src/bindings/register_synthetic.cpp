#include <array>
#include <cstdint>
#include <tuple>

#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/register.hpp"
#include "vemo/synthetic/board_image.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerSynthetic(py::module_& synthetic) {
  using namespace vemo::synthetic;
  using docs::join;

  py::classh<BoardImage>(synthetic, "BoardImage", "The printed sheet of a target and where its board frame lies on it.")
      .def_property_readonly("image", [](const BoardImage& board) { return board.image; },
                             "(H, W, 3) uint8 BGR sheet: the pattern inside a white margin.")
      .def_property_readonly("pixel_from_target", [](const BoardImage& board) { return cv::Mat(board.pixel_from_target, true); },
                             "(2, 3) float64: pixel (integer at pixel centres) of board point (x, y, 0) = M @ (x, y, 1).");

  synthetic.def("board_image", &boardImage, py::arg("target"), py::arg("pixels_per_metre"),
                join("The target's printed sheet at pixels_per_metre, with a white margin.\n\n"
                     "The margin is one square for a chessboard, half a square for a ChArUco board and\n"
                     "half a marker for an ArUco grid. Pattern edges fall on pixel boundaries wherever their\n"
                     "lengths times pixels_per_metre are integers.",
                     docs::kArguments, docs::kTarget, "- pixels_per_metre: resolution of the sheet, > 0",
                     docs::kReturns, "BoardImage: the sheet and the map from the board frame to its pixels.",
                     docs::kRaises,
                     "ValueError for a non-positive resolution, a target with a non-positive size, an image\n"
                     "that would exceed 2^28 pixels, markers narrower than one pixel per cell or more\n"
                     "markers than the dictionary has; RuntimeError for a dictionary this OpenCV lacks.")
                    .c_str());

  synthetic.def("target_centre", [](const Target& target) {
    const cv::Point3d centre = targetCentre(target);
    return std::make_tuple(centre.x, centre.y, centre.z);
  }, py::arg("target"),
                join("Centre of the target's pattern in its board frame, (x, y, z) metres.\n\n"
                     "z is 0: the board lies in its frame's x-y plane.",
                     docs::kArguments, docs::kTarget)
                    .c_str());

  synthetic.def("camera_T_target_looking_at",
                [](const Target& target, const std::array<double, 3>& camera_position, double roll_deg) {
                  return cameraTTargetLookingAt(target, {camera_position[0], camera_position[1], camera_position[2]},
                                                roll_deg);
                },
                py::arg("target"), py::arg("camera_position"), py::arg("roll_deg") = 0.0,
                join("(4, 4) float64 camera_T_target of a camera at camera_position (board frame, metres; z < 0 in "
                     "front of the printed side) looking at the target's centre, upright, rolled by roll_deg.\n\n"
                     "Upright: the image y axis along the board's y axis as far as the viewing direction\n"
                     "allows.",
                     docs::kArguments, docs::kTarget,
                     "- camera_position: (x, y, z) of the camera in the board frame, metres\n"
                     "- roll_deg: rotation about the viewing axis, degrees",
                     docs::kRaises,
                     "ValueError for non-finite values, a camera on the target's centre, or one looking\n"
                     "along the board's y axis.")
                    .c_str());

  py::classh<Renderer>(synthetic, "Renderer",
                       "Renders what a camera (OpenCV's pinhole-plus-distortion model) sees of a target.")
      .def(py::init<const Target&, const cv::Mat&, const cv::Mat&, cv::Size>(), py::arg("target"),
           py::arg("camera_matrix"), py::arg("dist_coeffs"), py::arg("image_size"),
           "camera_matrix: (3, 3). dist_coeffs: 0, 4, 5, 8, 12 or 14 values in OpenCV's order. "
           "image_size: (width, height).\n\n"
           "target: ChessboardTarget, CharucoTarget or ArucoTarget. camera_matrix is [fx 0 cx; 0 fy\n"
           "cy; 0 0 1] in pixels, without skew. Raises ValueError for other shapes, non-finite\n"
           "values, non-positive focal lengths, a skew, an empty image_size or one of more than\n"
           "2^28 pixels, and a target whose sheet cannot be drawn.")
      .def("render",
           [](const Renderer& renderer, const cv::Mat& camera_T_target, int supersampling, double background,
              double blur_sigma, double noise_sigma, std::uint64_t seed) {
             return renderer.render(camera_T_target,
                                    RenderOptions{supersampling, background, blur_sigma, noise_sigma, seed});
           },
           py::arg("camera_T_target"), py::arg("supersampling") = 4, py::arg("background") = 128.0,
           py::arg("blur_sigma") = 0.0, py::arg("noise_sigma") = 0.0, py::arg("seed") = 0,
           join("(H, W, 3) uint8 BGR view of the target at camera_T_target ((4, 4), metres). Edge pixels average "
                "supersampling^2 samples; blur_sigma (pixels) blurs, then noise_sigma (grey levels) adds Gaussian "
                "noise.\n\n"
                "Board points project exactly where cv.projectPoints puts them (integer coordinates at\n"
                "pixel centres). Rays that miss the sheet, lie behind the camera or cannot be\n"
                "undistorted see the background.",
                docs::kArguments,
                "- camera_T_target: 4x4 float rigid transform, board frame into the camera frame, metres\n"
                "- supersampling: s, 1 to 16: a pixel covering more than one shade is the mean of s x s\n"
                "  samples\n"
                "- background: grey level around the sheet and where the board is seen from behind\n"
                "- blur_sigma: Gaussian blur, pixels (up to the image's longer side); 0 for none\n"
                "- noise_sigma: standard deviation of additive Gaussian noise, grey levels; 0 for none\n"
                "- seed: seed of the noise: equal seeds give equal views",
                docs::kReturns, "(height, width, 3) uint8 BGR image of image_size.", docs::kRaises,
                "ValueError for a bad camera_T_target or options out of range.")
               .c_str())
      .def_property_readonly("target", &Renderer::target, "the target (a copy)")
      .def_property_readonly("camera_matrix", &Renderer::cameraMatrix, "(3, 3) float64")
      .def_property_readonly("dist_coeffs", &Renderer::distCoeffs, "(1, n) float64 as given")
      .def_property_readonly("image_size", &Renderer::imageSize, "(width, height) of the views, pixels");
}

}  // namespace vemo::bindings
