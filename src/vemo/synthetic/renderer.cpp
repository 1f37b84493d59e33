#include "vemo/synthetic/renderer.hpp"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vemo/synthetic/lens.hpp"

namespace vemo::synthetic {

namespace {

constexpr int kBackground = -1;  // sample code of a ray that does not meet the sheet

// Texel value hit by the homogeneous sheet coordinates q (pixel edges at integers), or
// kBackground. NaN (a ray that could not be undistorted) fails every comparison.
inline int sampleSheet(const cv::Vec3d& q, const cv::Mat& sheet) {
  if (!(q[2] > 0)) return kBackground;
  const double x = q[0] / q[2], y = q[1] / q[2];
  if (!(x >= 0 && y >= 0 && x < sheet.cols && y < sheet.rows)) return kBackground;
  return sheet.at<uchar>(static_cast<int>(y), static_cast<int>(x));
}

inline double level(int code, double background) { return code == kBackground ? background : code; }

// Rays of the pixel corners: the centre column first, each corner solved from its
// neighbour towards the principal point, so that Newton stays on the lens's own branch
// even where the distortion is strong; then every row outwards from that column.
cv::Mat cornerRays(const Lens& lens, cv::Size image_size, const cv::Mat& camera_matrix) {
  const int cols = image_size.width + 1, rows = image_size.height + 1;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  cv::Mat rays(rows, cols, CV_64FC2, cv::Scalar(nan, nan));
  const double fx = camera_matrix.at<double>(0, 0), fy = camera_matrix.at<double>(1, 1);
  const double cx = camera_matrix.at<double>(0, 2), cy = camera_matrix.at<double>(1, 2);
  // Pixel corner (i, j) sits at image coordinates (i - 0.5, j - 0.5).
  const auto pixel = [](int i, int j) { return cv::Point2d(i - 0.5, j - 0.5); };
  const auto ideal = [&](int i, int j) { return cv::Point2d((i - 0.5 - cx) / fx, (j - 0.5 - cy) / fy); };
  const auto solve = [&](int i, int j, const cv::Vec2d& neighbour) {
    const cv::Point2d guess = std::isnan(neighbour[0]) ? ideal(i, j) : cv::Point2d(neighbour[0], neighbour[1]);
    std::optional<cv::Point2d> ray = lens.unproject(pixel(i, j), guess);
    if (!ray && !std::isnan(neighbour[0])) ray = lens.unproject(pixel(i, j), ideal(i, j));
    if (ray) rays.at<cv::Vec2d>(j, i) = cv::Vec2d(ray->x, ray->y);
  };
  const int centre_col = std::clamp(static_cast<int>(std::lround(cx + 0.5)), 0, cols - 1);
  const int centre_row = std::clamp(static_cast<int>(std::lround(cy + 0.5)), 0, rows - 1);
  const cv::Vec2d none(nan, nan);
  solve(centre_col, centre_row, none);
  for (int j = centre_row + 1; j < rows; ++j) solve(centre_col, j, rays.at<cv::Vec2d>(j - 1, centre_col));
  for (int j = centre_row - 1; j >= 0; --j) solve(centre_col, j, rays.at<cv::Vec2d>(j + 1, centre_col));
  cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
    for (int j = range.start; j < range.end; ++j) {
      for (int i = centre_col + 1; i < cols; ++i) solve(i, j, rays.at<cv::Vec2d>(j, i - 1));
      for (int i = centre_col - 1; i >= 0; --i) solve(i, j, rays.at<cv::Vec2d>(j, i + 1));
    }
  });
  return rays;
}

void checkOptions(const RenderOptions& options) {
  const auto reject = [](const char* message) { throw std::invalid_argument(std::string("Renderer::render: ") + message); };
  if (options.supersampling < 1 || options.supersampling > 16) reject("supersampling must be 1 to 16");
  if (!std::isfinite(options.background)) reject("background must be finite");
  if (!(options.blur_sigma >= 0) || !std::isfinite(options.blur_sigma)) reject("blur_sigma must be >= 0");
  if (!(options.noise_sigma >= 0) || !std::isfinite(options.noise_sigma)) reject("noise_sigma must be >= 0");
}

// Homography H = [r1 r2 t] taking board points (x, y, 1) to camera rays.
cv::Matx33d boardToRays(const cv::Mat& camera_T_target) {
  if (camera_T_target.rows != 4 || camera_T_target.cols != 4 || camera_T_target.channels() != 1) {
    throw std::invalid_argument("Renderer::render: camera_T_target must be 4x4");
  }
  cv::Matx44d T;
  camera_T_target.convertTo(cv::Mat(T, false), CV_64F);
  for (int i = 0; i < 16; ++i) {
    if (!std::isfinite(T.val[i])) throw std::invalid_argument("Renderer::render: camera_T_target must be finite");
  }
  return cv::Matx33d(T(0, 0), T(0, 1), T(0, 3), T(1, 0), T(1, 1), T(1, 3), T(2, 0), T(2, 1), T(2, 3));
}

}  // namespace

Renderer::Renderer(const Target& target, const cv::Mat& camera_matrix, const cv::Mat& dist_coeffs,
                   cv::Size image_size)
    : target_(target), image_size_(image_size) {
  const Lens lens(camera_matrix, dist_coeffs, "Renderer");
  if (image_size.width < 1 || image_size.height < 1) throw std::invalid_argument("Renderer: image_size must not be empty");
  camera_matrix.convertTo(camera_matrix_, CV_64F);
  if (!dist_coeffs.empty()) dist_coeffs.reshape(1, 1).convertTo(dist_coeffs_, CV_64F);

  const BoardImage board = boardImage(target, exactPixelsPerMetre(target));
  cv::extractChannel(board.image, sheet_, 0);
  // The renderer looks texels up by truncation, so it wants pixel edges at integers.
  const cv::Matx23d& a = board.pixel_from_target;
  texel_from_target_ = cv::Matx33d(a(0, 0), a(0, 1), a(0, 2) + 0.5, a(1, 0), a(1, 1), a(1, 2) + 0.5, 0, 0, 1);
  corner_rays_ = cornerRays(lens, image_size, camera_matrix_);
}

cv::Mat Renderer::render(const cv::Mat& camera_T_target, const RenderOptions& options) const {
  checkOptions(options);
  const cv::Matx33d rays_from_board = boardToRays(camera_T_target);
  cv::Mat view(image_size_, CV_32F, cv::Scalar(options.background));

  // det H = t . r3: positive when the camera is on the printed side of the board plane.
  // Otherwise (seen from behind or edge-on) the view shows only the background.
  if (cv::determinant(rays_from_board) > 0) {
    const cv::Matx33d texel_from_ray = texel_from_target_ * rays_from_board.inv();
    const int width = image_size_.width;
    const int s = options.supersampling;
    const double background = options.background;
    cv::parallel_for_(cv::Range(0, image_size_.height), [&](const cv::Range& range) {
      // Sheet coordinates and texel codes of the pixel corners above and below a row.
      std::vector<cv::Vec3d> q_top(width + 1), q_bottom(width + 1);
      std::vector<int> code_top(width + 1), code_bottom(width + 1);
      const auto cornerRow = [&](int j, std::vector<cv::Vec3d>& q, std::vector<int>& code) {
        const cv::Vec2d* ray = corner_rays_.ptr<cv::Vec2d>(j);
        for (int i = 0; i <= width; ++i) {
          q[i] = texel_from_ray * cv::Vec3d(ray[i][0], ray[i][1], 1);
          code[i] = sampleSheet(q[i], sheet_);
        }
      };
      cornerRow(range.start, q_top, code_top);
      for (int v = range.start; v < range.end; ++v) {
        cornerRow(v + 1, q_bottom, code_bottom);
        float* out = view.ptr<float>(v);
        for (int u = 0; u < width; ++u) {
          const int c = code_top[u];
          if (c == code_top[u + 1] && c == code_bottom[u] && c == code_bottom[u + 1]) {
            out[u] = static_cast<float>(level(c, background));
            continue;
          }
          // The pattern changes within this pixel: average s x s samples at the centres of
          // its sub-pixels. Rays between corners are interpolated bilinearly, and so are
          // the sheet coordinates, which depend linearly on the ray.
          const cv::Vec3d &q00 = q_top[u], &q10 = q_top[u + 1], &q01 = q_bottom[u], &q11 = q_bottom[u + 1];
          double sum = 0;
          for (int b = 0; b < s; ++b) {
            const double fb = (b + 0.5) / s;
            const cv::Vec3d left = q00 + fb * (q01 - q00);
            const cv::Vec3d across = (q10 + fb * (q11 - q10)) - left;
            for (int a = 0; a < s; ++a) sum += level(sampleSheet(left + ((a + 0.5) / s) * across, sheet_), background);
          }
          out[u] = static_cast<float>(sum / (s * s));
        }
        std::swap(q_top, q_bottom);
        std::swap(code_top, code_bottom);
      }
    });
  }

  if (options.blur_sigma > 0) cv::GaussianBlur(view, view, cv::Size(0, 0), options.blur_sigma);
  if (options.noise_sigma > 0) {
    cv::Mat noise(view.size(), CV_32F);
    cv::RNG rng(options.seed);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, options.noise_sigma);
    view += noise;
  }
  cv::Mat grey, bgr;
  view.convertTo(grey, CV_8U);
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  return bgr;
}

}  // namespace vemo::synthetic
