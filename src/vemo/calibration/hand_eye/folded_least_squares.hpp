#pragma once

#include <opencv2/core.hpp>

#include <vector>

// An overdetermined linear system A x = b whose rows arrive a few at a time and are folded,
// by Householder reflections, into the triangular factor R of A = QR and into Q^T b. A hand-eye
// solver has a block of rows for every pair of captures, tens of thousands of them: stored
// whole and decomposed at once, they cost memory and time quadratic in the captures with a
// large constant, while R never grows past the number of unknowns. A has A's singular values
// and right singular vectors in R, so the least-squares solution and the null space come out
// as an SVD of the whole A gives them, to rounding.
namespace vemo::calibration {

class FoldedLeastSquares {
 public:
  explicit FoldedLeastSquares(int unknowns);

  // One row: its coefficients (unknowns of them) and its right-hand side.
  void addRow(const double* coefficients, double right_side);

  // x minimising |A x - b| (the least-norm one where A is rank deficient), unknowns x 1 CV_64F.
  cv::Mat solve();
  // V^T of A's singular value decomposition, unknowns x unknowns CV_64F, rows in descending
  // order of the singular value.
  cv::Mat rightSingularVectors();

 private:
  void fold();
  cv::Mat triangle();

  int unknowns_;
  int width_;               // unknowns plus the right-hand side
  std::vector<double> rows_;  // R on top, then the rows not yet folded, row-major
  int row_count_;
};

}  // namespace vemo::calibration
