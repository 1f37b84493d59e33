#pragma once

// Folder synthetic/: views of targets with known geometry, for tests, demo and benchmarks.
//
// Rendered camera views of a target with known geometry: the ground truth of the tests
// and the demo. A view is what a real camera sees of the printed sheet (board_image.hpp)
// at camera_T_target through OpenCV's pinhole-plus-distortion model, exactly: the board
// point X projects where cv::projectPoints puts it, under OpenCV's pixel convention
// (integer coordinates at pixel centres).

#include <opencv2/core.hpp>

#include <cstdint>

#include "vemo/synthetic/board_image.hpp"
#include "vemo/synthetic/ray_field.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::synthetic {

struct RenderOptions {
  int supersampling = 4;      // s x s samples in a pixel that covers more than one shade of the sheet (1 to 16)
  double background = 128.0;  // grey level around the sheet and where the board is seen from behind
  double blur_sigma = 0.0;    // Gaussian blur of the view, pixels (up to the image's longer side); 0 for none. Before the noise
  double noise_sigma = 0.0;   // standard deviation of additive Gaussian noise, grey levels; 0 for none
  std::uint64_t seed = 0;     // seed of the noise: equal seeds give equal views
};

// One camera looking at one target. Construction does the work that depends only on the
// camera and the target (the ray of every pixel corner, the sheet image), so rendering a
// batch of views is cheap. render() is const and may run from several threads.
class Renderer {
 public:
  // camera_matrix: 3x3 [fx 0 cx; 0 fy cy; 0 0 1]; a skewed matrix is refused, as
  // cv::projectPoints would ignore its skew. dist_coeffs: empty or 4, 5, 8, 12 or 14
  // elements in OpenCV's order (k1 k2 p1 p2 [k3 [k4 k5 k6 [s1 s2 s3 s4 [tau_x tau_y]]]]).
  // Throws std::invalid_argument "Renderer: ..." for other shapes, non-finite values,
  // non-positive focal lengths, a skew or another last row, an empty size or one of more
  // than 2^28 pixels, and
  // "exactPixelsPerMetre: ..." for a target whose sheet cannot be drawn.
  Renderer(const Target& target, const cv::Mat& camera_matrix, const cv::Mat& dist_coeffs, cv::Size image_size);

  // BGR CV_8UC3 view of image_size. camera_T_target: 4x4 rigid transform (metres; any
  // float depth) mapping board-frame points into the camera frame. A pixel that covers
  // more than one shade of the sheet is the mean of s x s point samples (a box filter over
  // the pixel), so pattern details thinner than 1/s of a pixel (far or grazing views)
  // alias. Rays that miss the sheet, lie behind the camera or cannot be undistorted
  // (beyond the fold of a strongly distorted lens) see the background.
  // Throws std::invalid_argument "Renderer::render: ..." for a bad matrix or options.
  cv::Mat render(const cv::Mat& camera_T_target, const RenderOptions& options = RenderOptions()) const;

  const Target& target() const { return target_; }
  const cv::Mat& cameraMatrix() const { return camera_matrix_; }  // 3x3 CV_64F
  const cv::Mat& distCoeffs() const { return dist_coeffs_; }      // 1 x n CV_64F as given
  cv::Size imageSize() const { return image_size_; }

 private:
  Target target_;
  cv::Mat camera_matrix_;
  cv::Mat dist_coeffs_;
  cv::Size image_size_;
  RayField rays_;
  cv::Mat sheet_;                  // CV_8UC1 sheet image
  cv::Mat uniform_blocks_;         // CV_8UC1, sheet size: 1 where texels (x, y) .. (x + 1, y + 1) have one value
  cv::Matx33d texel_from_target_;  // board (x, y, 1) -> sheet coordinates, pixel edges at integers
};

}  // namespace vemo::synthetic
