#pragma once

// What a renderer knows about its camera before any view: the undistorted ray of every
// pixel corner, and for each tile of pixels a box that holds all of the tile's rays.

#include <opencv2/core.hpp>

#include <vector>

#include "vemo/synthetic/lens.hpp"

namespace vemo::synthetic {

class RayField {
 public:
  static constexpr int kTile = 32;  // tile edge, pixels

  // camera_matrix: the lens's (fx, fy, cx, cy); image_size not empty.
  RayField(const Lens& lens, const cv::Matx33d& camera_matrix, cv::Size image_size);

  // Ray (x, y, 1) of pixel corner (i, j), the point (i - 0.5, j - 0.5) of the image, for
  // 0 <= i <= width and 0 <= j <= height; NaN where the lens has no ray for it. Read as
  // pinhole ray + offset: pinholeX(i) + offsets(j)[2 i], pinholeY(j) + offsets(j)[2 i + 1].
  double pinholeX(int i) const { return start_x_ + i * step_x_; }
  double pinholeY(int j) const { return start_y_ + j * step_y_; }
  const float* offsets(int j) const { return offsets_.ptr<float>(j); }

  int tilesX() const { return tiles_x_; }
  int tilesY() const { return tiles_y_; }
  // False only when no ray of tile (tx, ty), nor any ray between its pixel corners, lies
  // in the convex polygon (ray coordinates, either orientation).
  bool tileMayMeet(int tx, int ty, const std::vector<cv::Point2d>& convex_polygon) const;

 private:
  double start_x_, step_x_, start_y_, step_y_;
  // (h + 1) x (w + 1) CV_32FC2 offsets of the rays from the pinhole rays. They are small,
  // so single precision keeps the rays to about 1e-8 (1e-5 px) at half the memory
  // traffic of doubles.
  cv::Mat offsets_;
  int tiles_x_, tiles_y_;
  std::vector<cv::Vec4d> tile_bounds_;  // min x, min y, max x, max y of each tile's rays, row by row
};

}  // namespace vemo::synthetic
