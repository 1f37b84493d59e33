#include "vemo/calibration/hand_eye/folded_least_squares.hpp"

#include <cmath>

namespace vemo::calibration {

namespace {

// Rows gathered before a fold: enough that the reflections' setup is spread over many rows.
constexpr int kFoldRows = 256;

}  // namespace

FoldedLeastSquares::FoldedLeastSquares(int unknowns)
    : unknowns_(unknowns),
      width_(unknowns + 1),
      rows_(static_cast<std::size_t>((unknowns + kFoldRows) * (unknowns + 1)), 0.0),
      row_count_(unknowns) {}

void FoldedLeastSquares::addRow(const double* coefficients, double right_side) {
  double* row = &rows_[static_cast<std::size_t>(row_count_ * width_)];
  for (int c = 0; c < unknowns_; ++c) row[c] = coefficients[c];
  row[unknowns_] = right_side;
  if (++row_count_ == unknowns_ + kFoldRows) fold();
}

void FoldedLeastSquares::fold() {
  const auto at = [this](int r, int c) -> double& { return rows_[static_cast<std::size_t>(r * width_ + c)]; };
  std::vector<double> reflector(static_cast<std::size_t>(row_count_));
  for (int j = 0; j < unknowns_; ++j) {
    double norm_squared = 0.0;
    for (int r = j; r < row_count_; ++r) norm_squared += at(r, j) * at(r, j);
    if (norm_squared == 0.0) continue;
    const double alpha = at(j, j) > 0.0 ? -std::sqrt(norm_squared) : std::sqrt(norm_squared);
    // v = x - alpha e1, H = I - 2 v v^T / v^T v, with v^T v = 2 (|x|^2 - alpha x1).
    for (int r = j; r < row_count_; ++r) reflector[static_cast<std::size_t>(r)] = at(r, j);
    reflector[static_cast<std::size_t>(j)] -= alpha;
    const double half_v_squared = norm_squared - alpha * at(j, j);
    for (int c = j + 1; c < width_; ++c) {
      double dot = 0.0;
      for (int r = j; r < row_count_; ++r) dot += reflector[static_cast<std::size_t>(r)] * at(r, c);
      const double factor = dot / half_v_squared;
      for (int r = j; r < row_count_; ++r) at(r, c) -= factor * reflector[static_cast<std::size_t>(r)];
    }
    // The reflection takes column j to alpha e1 exactly.
    at(j, j) = alpha;
    for (int r = j + 1; r < row_count_; ++r) at(r, j) = 0.0;
  }
  // Below the triangle only the residual's part remains; it leaves the solution unchanged.
  row_count_ = unknowns_;
}

cv::Mat FoldedLeastSquares::triangle() {
  fold();
  return cv::Mat(unknowns_, width_, CV_64F, rows_.data()).clone();
}

cv::Mat FoldedLeastSquares::solve() {
  const cv::Mat folded = triangle();
  cv::Mat solution;
  cv::solve(folded.colRange(0, unknowns_), folded.col(unknowns_), solution, cv::DECOMP_SVD);
  return solution;
}

cv::Mat FoldedLeastSquares::rightSingularVectors() {
  const cv::Mat folded = triangle();
  cv::Mat singular_values, u, vt;
  cv::SVD::compute(folded.colRange(0, unknowns_), singular_values, u, vt, cv::SVD::FULL_UV);
  return vt;
}

}  // namespace vemo::calibration
