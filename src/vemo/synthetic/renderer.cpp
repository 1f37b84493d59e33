#include "vemo/synthetic/renderer.hpp"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "vemo/core/image_limits.hpp"

namespace vemo::synthetic {

namespace {

constexpr int kBackground = -1;  // sample code of a ray that does not meet the sheet

// The sheet as the sampling loops read it.
struct SheetTexels {
  const uchar* data;
  size_t step;
  double cols, rows;
  const cv::Mat& uniform_blocks;

  SheetTexels(const cv::Mat& sheet, const cv::Mat& uniform_blocks)
      : data(sheet.data), step(sheet.step[0]), cols(sheet.cols), rows(sheet.rows), uniform_blocks(uniform_blocks) {}

  // Texel value hit by the homogeneous sheet coordinates (qx, qy, qz) (pixel edges at
  // integers), or kBackground. NaN (a ray the lens does not have) fails every comparison.
  int operator()(double qx, double qy, double qz) const {
    int x, y;
    return lookup(qx, qy, qz, x, y);
  }

  // The same, also giving the texel's column and row when it is on the sheet.
  int lookup(double qx, double qy, double qz, int& x, int& y) const {
    // Bounds first, without dividing: much of a view usually misses the sheet.
    if (!(qz > 0 && qx >= 0 && qy >= 0 && qx < cols * qz && qy < rows * qz)) return kBackground;
    const double inverse = 1.0 / qz;
    // Rounding can put x a hair past the last texel: clamp rather than read beyond it.
    x = std::min(static_cast<int>(qx * inverse), static_cast<int>(cols) - 1);
    y = std::min(static_cast<int>(qy * inverse), static_cast<int>(rows) - 1);
    return data[static_cast<size_t>(y) * step + x];
  }

  // Whether texels x .. x + 1, y .. y + 1 all have one value.
  bool uniformBlock(int x, int y) const { return uniform_blocks.at<uchar>(y, x) != 0; }
};

// Homogeneous sheet coordinates and texel codes of a row of pixel corners.
struct CornerRow {
  std::vector<double> x, y, z;
  std::vector<int> code, texel_x, texel_y;  // the texel's column and row where code is not kBackground
  explicit CornerRow(int corners)
      : x(corners), y(corners), z(corners), code(corners, kBackground), texel_x(corners), texel_y(corners) {}
};

// Everything one view needs per sample: sheet coordinates are M * (ray x, ray y, 1).
class ViewSampler {
 public:
  ViewSampler(const RayField& rays, const SheetTexels& sheet, const cv::Matx33d& texel_from_ray,
              const RenderOptions& options)
      : rays_(rays), sheet_(sheet), m_(texel_from_ray), s_(options.supersampling), background_(options.background) {}

  // Corners begin .. end (inclusive) of corner row j.
  void fillCorners(int j, int begin, int end, CornerRow& row) const {
    const float* offset = rays_.offsets(j);
    const double ray_y = rays_.pinholeY(j);
    // Local copies, so that the compiler knows the stores below cannot change them.
    const double m00 = m_(0, 0), m01 = m_(0, 1), m02 = m_(0, 2), m10 = m_(1, 0), m11 = m_(1, 1), m12 = m_(1, 2);
    const double m20 = m_(2, 0), m21 = m_(2, 1), m22 = m_(2, 2);
    double* __restrict qx = row.x.data();
    double* __restrict qy = row.y.data();
    double* __restrict qz = row.z.data();
    for (int i = begin; i <= end; ++i) {
      const double rx = rays_.pinholeX(i) + offset[2 * i], ry = ray_y + offset[2 * i + 1];
      qx[i] = m00 * rx + m01 * ry + m02;
      qy[i] = m10 * rx + m11 * ry + m12;
      qz[i] = m20 * rx + m21 * ry + m22;
    }
    for (int i = begin; i <= end; ++i) row.code[i] = sheet_.lookup(qx[i], qy[i], qz[i], row.texel_x[i], row.texel_y[i]);
  }

  // Grey level of the pixel between corners u and u + 1 of the two rows.
  float pixel(const CornerRow& top, const CornerRow& bottom, int u) const {
    if (isUniform(top, bottom, u)) return level(top.code[u]);
    // Otherwise average s x s samples at the centres of its sub-pixels. Rays between
    // corners are bilinear blends of the corner rays, and so are the sheet coordinates,
    // which depend linearly on the ray.
    const cv::Vec3d q00(top.x[u], top.y[u], top.z[u]), q10(top.x[u + 1], top.y[u + 1], top.z[u + 1]);
    const cv::Vec3d q01(bottom.x[u], bottom.y[u], bottom.z[u]);
    const cv::Vec3d q11(bottom.x[u + 1], bottom.y[u + 1], bottom.z[u + 1]);
    double sum = 0;
    for (int b = 0; b < s_; ++b) {
      const double fb = (b + 0.5) / s_;
      const cv::Vec3d left = q00 + fb * (q01 - q00);
      const cv::Vec3d across = (q10 + fb * (q11 - q10)) - left;
      for (int a = 0; a < s_; ++a) {
        const double fa = (a + 0.5) / s_;
        sum += level(sheet_(left[0] + fa * across[0], left[1] + fa * across[1], left[2] + fa * across[2]));
      }
    }
    return static_cast<float>(sum / (s_ * s_));
  }

  // Whether the pixel between corners u and u + 1 sees one texel value only. Its outline
  // on the sheet is convex, so it stays within the texels spanned by its corners; when
  // those are at most 2 x 2 texels of one value, so is the pixel. A pixel whose corners
  // all miss the sheet is taken for background, even if a tip of the sheet pokes in.
  bool isUniform(const CornerRow& top, const CornerRow& bottom, int u) const {
    const int c = top.code[u];
    if (c != top.code[u + 1] || c != bottom.code[u] || c != bottom.code[u + 1]) return false;
    if (c == kBackground) return true;
    const int x0 = std::min(std::min(top.texel_x[u], top.texel_x[u + 1]), std::min(bottom.texel_x[u], bottom.texel_x[u + 1]));
    const int x1 = std::max(std::max(top.texel_x[u], top.texel_x[u + 1]), std::max(bottom.texel_x[u], bottom.texel_x[u + 1]));
    const int y0 = std::min(std::min(top.texel_y[u], top.texel_y[u + 1]), std::min(bottom.texel_y[u], bottom.texel_y[u + 1]));
    const int y1 = std::max(std::max(top.texel_y[u], top.texel_y[u + 1]), std::max(bottom.texel_y[u], bottom.texel_y[u + 1]));
    if (x0 == x1 && y0 == y1) return true;
    return x1 - x0 <= 1 && y1 - y0 <= 1 && sheet_.uniformBlock(x0, y0);
  }

  float level(int code) const { return static_cast<float>(code == kBackground ? background_ : code); }

 private:
  const RayField& rays_;
  SheetTexels sheet_;
  cv::Matx33d m_;
  int s_;
  double background_;
};

void checkOptions(const RenderOptions& options, cv::Size image_size) {
  const auto reject = [](const char* message) { throw std::invalid_argument(std::string("Renderer::render: ") + message); };
  if (options.supersampling < 1 || options.supersampling > 16) reject("supersampling must be 1 to 16");
  if (!std::isfinite(options.background)) reject("background must be finite");
  // A wider blur only averages the whole view, and its kernel would grow past what OpenCV
  // can size (or take minutes to apply).
  if (!(options.blur_sigma >= 0) || !(options.blur_sigma <= std::max(image_size.width, image_size.height))) {
    reject("blur_sigma must be 0 to the image's longer side");
  }
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

// Tiles whose rays may meet the sheet. The sheet's outline in ray coordinates is a convex
// quadrilateral when all of the sheet lies in front of the camera; otherwise every tile
// is kept.
std::vector<uchar> tilesThatMayMeetTheSheet(const RayField& rays, const cv::Matx33d& rays_from_board,
                                            const cv::Matx33d& texel_from_target, cv::Size sheet_size) {
  std::vector<uchar> active(static_cast<size_t>(rays.tilesX()) * rays.tilesY(), 1);
  const cv::Matx33d rays_from_texel = rays_from_board * texel_from_target.inv();
  std::vector<cv::Point2d> outline;
  for (const cv::Point2d texel : {cv::Point2d(0, 0), cv::Point2d(sheet_size.width, 0),
                                  cv::Point2d(sheet_size.width, sheet_size.height), cv::Point2d(0, sheet_size.height)}) {
    const cv::Vec3d ray = rays_from_texel * cv::Vec3d(texel.x, texel.y, 1);
    if (!(ray[2] > 0)) return active;
    outline.emplace_back(ray[0] / ray[2], ray[1] / ray[2]);
  }
  for (int ty = 0; ty < rays.tilesY(); ++ty) {
    for (int tx = 0; tx < rays.tilesX(); ++tx) active[static_cast<size_t>(ty) * rays.tilesX() + tx] = rays.tileMayMeet(tx, ty, outline);
  }
  return active;
}

}  // namespace

Renderer::Renderer(const Target& target, const cv::Mat& camera_matrix, const cv::Mat& dist_coeffs,
                   cv::Size image_size)
    : target_(target),
      image_size_(image_size),
      rays_([&] {
        const Lens lens(camera_matrix, dist_coeffs, "Renderer");
        if (image_size.width < 1 || image_size.height < 1) {
          throw std::invalid_argument("Renderer: image_size must not be empty");
        }
        if (static_cast<std::int64_t>(image_size.width) * image_size.height > kMaxImagePixels) {
          throw std::invalid_argument(std::string("Renderer: image_size must not exceed ") + kMaxImagePixelsText +
                                      " pixels");
        }
        cv::Matx33d camera;
        camera_matrix.convertTo(cv::Mat(camera, false), CV_64F);
        return RayField(lens, camera, image_size);
      }()) {
  camera_matrix.convertTo(camera_matrix_, CV_64F);
  if (!dist_coeffs.empty()) dist_coeffs.reshape(1, 1).convertTo(dist_coeffs_, CV_64F);
  const BoardImage board = boardImage(target, exactPixelsPerMetre(target));
  cv::extractChannel(board.image, sheet_, 0);
  // A block is uniform when its top-left texel equals its three other texels; blocks
  // that reach past the sheet's last column or row are not.
  uniform_blocks_ = cv::Mat::zeros(sheet_.size(), CV_8UC1);
  for (int y = 0; y + 1 < sheet_.rows; ++y) {
    for (int x = 0; x + 1 < sheet_.cols; ++x) {
      const uchar v = sheet_.at<uchar>(y, x);
      uniform_blocks_.at<uchar>(y, x) =
          v == sheet_.at<uchar>(y, x + 1) && v == sheet_.at<uchar>(y + 1, x) && v == sheet_.at<uchar>(y + 1, x + 1);
    }
  }
  // The renderer looks texels up by truncation, so it wants pixel edges at integers.
  const cv::Matx23d& a = board.pixel_from_target;
  texel_from_target_ = cv::Matx33d(a(0, 0), a(0, 1), a(0, 2) + 0.5, a(1, 0), a(1, 1), a(1, 2) + 0.5, 0, 0, 1);
}

cv::Mat Renderer::render(const cv::Mat& camera_T_target, const RenderOptions& options) const {
  checkOptions(options, image_size_);
  const cv::Matx33d rays_from_board = boardToRays(camera_T_target);
  const int width = image_size_.width, height = image_size_.height;
  // det H = t . r3: positive when the camera is on the printed side of the board plane.
  // Otherwise (seen from behind or edge-on) the view shows only the background.
  const bool visible = cv::determinant(rays_from_board) > 0;
  const std::vector<uchar> active =
      visible ? tilesThatMayMeetTheSheet(rays_, rays_from_board, texel_from_target_, sheet_.size())
              : std::vector<uchar>(static_cast<size_t>(rays_.tilesX()) * rays_.tilesY(), 0);
  const cv::Matx33d texel_from_ray = visible ? texel_from_target_ * rays_from_board.inv() : cv::Matx33d::zeros();
  const ViewSampler sampler(rays_, SheetTexels(sheet_, uniform_blocks_), texel_from_ray, options);

  // Blur and noise need the unrounded levels; without them the rows are rounded at once.
  const bool post_process = options.blur_sigma > 0 || options.noise_sigma > 0;
  cv::Mat grey_levels(image_size_, post_process ? CV_32F : CV_8U);
  cv::parallel_for_(cv::Range(0, rays_.tilesY()), [&](const cv::Range& tile_rows) {
    CornerRow top(width + 1), bottom(width + 1);
    std::vector<float> levels(width);
    for (int ty = tile_rows.start; ty < tile_rows.end; ++ty) {
      // Runs of neighbouring tiles that may see the sheet, as pixel columns [first, last).
      std::vector<std::pair<int, int>> spans;
      for (int tx = 0; tx < rays_.tilesX(); ++tx) {
        if (!active[static_cast<size_t>(ty) * rays_.tilesX() + tx]) continue;
        const int first = tx * RayField::kTile, last = std::min(width, first + RayField::kTile);
        if (!spans.empty() && spans.back().second == first) spans.back().second = last;
        else spans.emplace_back(first, last);
      }
      const int v_begin = ty * RayField::kTile, v_end = std::min(height, v_begin + RayField::kTile);
      for (const auto& [first, last] : spans) sampler.fillCorners(v_begin, first, last, top);
      for (int v = v_begin; v < v_end; ++v) {
        std::fill(levels.begin(), levels.end(), sampler.level(kBackground));
        for (const auto& [first, last] : spans) {
          sampler.fillCorners(v + 1, first, last, bottom);
          for (int u = first; u < last; ++u) levels[u] = sampler.pixel(top, bottom, u);
        }
        std::swap(top, bottom);
        cv::Mat(1, width, CV_32F, levels.data()).convertTo(grey_levels.row(v), grey_levels.type());
      }
    }
  });

  cv::Mat grey = grey_levels;
  if (post_process) {
    if (options.blur_sigma > 0) cv::GaussianBlur(grey_levels, grey_levels, cv::Size(0, 0), options.blur_sigma);
    if (options.noise_sigma > 0) {
      cv::Mat noise(grey_levels.size(), CV_32F);
      cv::RNG rng(options.seed);
      rng.fill(noise, cv::RNG::NORMAL, 0.0, options.noise_sigma);
      grey_levels += noise;
    }
    grey_levels.convertTo(grey, CV_8U);
  }
  cv::Mat bgr;
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  return bgr;
}

}  // namespace vemo::synthetic
