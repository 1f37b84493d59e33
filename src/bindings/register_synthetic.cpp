#include <array>
#include <cstdint>
#include <tuple>

#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/synthetic/board_image.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerSynthetic(py::module_& synthetic) {
  using namespace vemo::synthetic;

  py::classh<BoardImage>(synthetic, "BoardImage", "The printed sheet of a target and where its board frame lies on it.")
      .def_property_readonly("image", [](const BoardImage& board) { return board.image; },
                             "(H, W, 3) uint8 BGR sheet: the pattern inside a white margin.")
      .def_property_readonly("pixel_from_target", [](const BoardImage& board) { return cv::Mat(board.pixel_from_target, true); },
                             "(2, 3) float64: pixel (integer at pixel centres) of board point (x, y, 0) = M @ (x, y, 1).");

  synthetic.def("board_image", &boardImage, py::arg("target"), py::arg("pixels_per_metre"),
                "The target's printed sheet at pixels_per_metre, with a white margin.");

  synthetic.def("target_centre", [](const Target& target) {
    const cv::Point3d centre = targetCentre(target);
    return std::make_tuple(centre.x, centre.y, centre.z);
  }, py::arg("target"), "Centre of the target's pattern in its board frame, (x, y, z) metres.");

  synthetic.def("camera_T_target_looking_at",
                [](const Target& target, const std::array<double, 3>& camera_position, double roll_deg) {
                  return cameraTTargetLookingAt(target, {camera_position[0], camera_position[1], camera_position[2]},
                                                roll_deg);
                },
                py::arg("target"), py::arg("camera_position"), py::arg("roll_deg") = 0.0,
                "(4, 4) float64 camera_T_target of a camera at camera_position (board frame, metres; z < 0 in "
                "front of the printed side) looking at the target's centre, upright, rolled by roll_deg.");

  py::classh<Renderer>(synthetic, "Renderer",
                       "Renders what a camera (OpenCV's pinhole-plus-distortion model) sees of a target.")
      .def(py::init<const Target&, const cv::Mat&, const cv::Mat&, cv::Size>(), py::arg("target"),
           py::arg("camera_matrix"), py::arg("dist_coeffs"), py::arg("image_size"),
           "camera_matrix: (3, 3). dist_coeffs: 0, 4, 5, 8, 12 or 14 values in OpenCV's order. "
           "image_size: (width, height).")
      .def("render",
           [](const Renderer& renderer, const cv::Mat& camera_T_target, int supersampling, double background,
              double blur_sigma, double noise_sigma, std::uint64_t seed) {
             return renderer.render(camera_T_target,
                                    RenderOptions{supersampling, background, blur_sigma, noise_sigma, seed});
           },
           py::arg("camera_T_target"), py::arg("supersampling") = 4, py::arg("background") = 128.0,
           py::arg("blur_sigma") = 0.0, py::arg("noise_sigma") = 0.0, py::arg("seed") = 0,
           "(H, W, 3) uint8 BGR view of the target at camera_T_target ((4, 4), metres). Edge pixels average "
           "supersampling^2 samples; blur_sigma (pixels) blurs, then noise_sigma (grey levels) adds Gaussian noise.")
      .def_property_readonly("target", &Renderer::target)
      .def_property_readonly("camera_matrix", &Renderer::cameraMatrix)
      .def_property_readonly("dist_coeffs", &Renderer::distCoeffs)
      .def_property_readonly("image_size", &Renderer::imageSize);
}

}  // namespace vemo::bindings
