#include "vemo/synthetic/ray_field.hpp"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace vemo::synthetic {

namespace {

// Lowest and highest projection of the points onto the direction.
std::pair<double, double> projectionRange(const std::vector<cv::Point2d>& points, const cv::Point2d& direction) {
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (const cv::Point2d& point : points) {
    low = std::min(low, point.dot(direction));
    high = std::max(high, point.dot(direction));
  }
  return {low, high};
}

}  // namespace

RayField::RayField(const Lens& lens, const cv::Matx33d& camera, cv::Size image_size)
    : start_x_((-0.5 - camera(0, 2)) / camera(0, 0)),
      step_x_(1.0 / camera(0, 0)),
      start_y_((-0.5 - camera(1, 2)) / camera(1, 1)),
      step_y_(1.0 / camera(1, 1)),
      tiles_x_((image_size.width + kTile - 1) / kTile),
      tiles_y_((image_size.height + kTile - 1) / kTile) {
  const int cols = image_size.width + 1, rows = image_size.height + 1;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  offsets_ = cv::Mat(rows, cols, CV_32FC2, cv::Scalar(nan, nan));
  const auto pinhole = [&](int i, int j) { return cv::Point2d(pinholeX(i), pinholeY(j)); };
  // Each corner is solved from the ray of its neighbour towards the principal point, so
  // that Newton stays on the lens's own branch even where the distortion is strong.
  const auto solve = [&](int i, int j, int from_i, int from_j) {
    const cv::Vec2f& neighbour = offsets_.at<cv::Vec2f>(from_j, from_i);
    const bool has_neighbour = !std::isnan(neighbour[0]) && (from_i != i || from_j != j);
    const cv::Point2d guess =
        has_neighbour ? pinhole(from_i, from_j) + cv::Point2d(neighbour[0], neighbour[1]) : pinhole(i, j);
    std::optional<cv::Point2d> ray = lens.unproject(cv::Point2d(i - 0.5, j - 0.5), guess);
    if (!ray && has_neighbour) ray = lens.unproject(cv::Point2d(i - 0.5, j - 0.5), pinhole(i, j));
    if (ray) {
      const cv::Point2d offset = *ray - pinhole(i, j);
      offsets_.at<cv::Vec2f>(j, i) = cv::Vec2f(static_cast<float>(offset.x), static_cast<float>(offset.y));
    }
  };
  const int centre_col = std::clamp(static_cast<int>(std::lround(camera(0, 2) + 0.5)), 0, cols - 1);
  const int centre_row = std::clamp(static_cast<int>(std::lround(camera(1, 2) + 0.5)), 0, rows - 1);
  solve(centre_col, centre_row, centre_col, centre_row);
  for (int j = centre_row + 1; j < rows; ++j) solve(centre_col, j, centre_col, j - 1);
  for (int j = centre_row - 1; j >= 0; --j) solve(centre_col, j, centre_col, j + 1);
  cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
    for (int j = range.start; j < range.end; ++j) {
      for (int i = centre_col + 1; i < cols; ++i) solve(i, j, i - 1, j);
      for (int i = centre_col - 1; i >= 0; --i) solve(i, j, i + 1, j);
    }
  });

  // A tile's pixels span the corners from its first to one past its last pixel; rays
  // between corners are bilinear blends of them, so the corners' box holds them too.
  const double inf = std::numeric_limits<double>::infinity();
  tile_bounds_.assign(static_cast<size_t>(tiles_x_) * tiles_y_, cv::Vec4d(inf, inf, -inf, -inf));
  for (int j = 0; j < rows; ++j) {
    const float* offset = offsets(j);
    for (int i = 0; i < cols; ++i) {
      if (std::isnan(offset[2 * i])) continue;
      const double x = pinholeX(i) + offset[2 * i], y = pinholeY(j) + offset[2 * i + 1];
      // Corners on a tile border belong to the tiles on both sides.
      for (int ty = std::max(0, (j - 1) / kTile); ty <= std::min(tiles_y_ - 1, j / kTile); ++ty) {
        for (int tx = std::max(0, (i - 1) / kTile); tx <= std::min(tiles_x_ - 1, i / kTile); ++tx) {
          cv::Vec4d& box = tile_bounds_[static_cast<size_t>(ty) * tiles_x_ + tx];
          box = cv::Vec4d(std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y));
        }
      }
    }
  }
}

bool RayField::tileMayMeet(int tx, int ty, const std::vector<cv::Point2d>& polygon) const {
  const cv::Vec4d& box = tile_bounds_[static_cast<size_t>(ty) * tiles_x_ + tx];
  if (!(box[0] <= box[2])) return false;  // no ray at all
  const std::vector<cv::Point2d> corners{{box[0], box[1]}, {box[2], box[1]}, {box[2], box[3]}, {box[0], box[3]}};
  // Separating axes of a box and a convex polygon: the box's two axes and the normals of
  // the polygon's edges. A tiny tolerance keeps the test on the safe side of rounding.
  std::vector<cv::Point2d> axes{{1, 0}, {0, 1}};
  for (size_t k = 0; k < polygon.size(); ++k) {
    const cv::Point2d edge = polygon[(k + 1) % polygon.size()] - polygon[k];
    axes.emplace_back(-edge.y, edge.x);
  }
  for (const cv::Point2d& axis : axes) {
    const auto [box_low, box_high] = projectionRange(corners, axis);
    const auto [polygon_low, polygon_high] = projectionRange(polygon, axis);
    const double tolerance = 1e-9 * (std::abs(axis.x) + std::abs(axis.y));
    if (box_high < polygon_low - tolerance || polygon_high < box_low - tolerance) return false;
  }
  return true;
}

}  // namespace vemo::synthetic
