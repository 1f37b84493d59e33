#include "vemo/evaluation/cross_validation_folds.hpp"

#include <algorithm>
#include <numeric>
#include <random>
#include <stdexcept>

namespace vemo::quality {

std::vector<CrossValidationFold> crossValidationFolds(std::size_t image_count, int n_splits, std::uint32_t seed) {
  std::vector<int> shuffled(image_count);
  std::iota(shuffled.begin(), shuffled.end(), 0);
  std::mt19937 generator(seed);
  std::shuffle(shuffled.begin(), shuffled.end(), generator);

  std::vector<CrossValidationFold> folds;
  if (n_splits < 1) return folds;
  const std::size_t splits = static_cast<std::size_t>(n_splits);
  const std::size_t fold_size = std::max<std::size_t>(1, image_count / splits);
  for (std::size_t start = 0; start < image_count && folds.size() < splits; start += fold_size) {
    const std::size_t end = std::min(start + fold_size, image_count);
    CrossValidationFold fold;
    for (std::size_t position = 0; position < image_count; ++position) {
      (position >= start && position < end ? fold.held_out : fold.training).push_back(shuffled[position]);
    }
    folds.push_back(std::move(fold));
  }
  return folds;
}

void checkSplitCount(const std::string& operation, int n_splits) {
  if (n_splits < 0 || n_splits == 1) {
    throw std::invalid_argument(operation + ": n_splits must be 0 (no folds) or at least 2, got " +
                                std::to_string(n_splits));
  }
}

}  // namespace vemo::quality
