#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vemo::quality {

// One fold: image indices, both lists in shuffled order.
struct CrossValidationFold {
  std::vector<int> training;
  std::vector<int> held_out;
};

// The indices 0 .. image_count - 1 shuffled by std::shuffle on std::mt19937(seed) (the
// GNU libstdc++ algorithm: fold membership follows it exactly), then consecutive runs of
// max(1, image_count / n_splits) held out, at most n_splits folds, so that the last
// image_count - n_splits * fold_size shuffled images are never held out. No folds for
// n_splits < 1 or no images.
std::vector<CrossValidationFold> crossValidationFolds(std::size_t image_count, int n_splits, std::uint32_t seed);

// Throws std::invalid_argument, starting with `operation`, for a negative n_splits or 1 (a
// single fold holds every image out and trains on none). 0 stays allowed: no folds.
void checkSplitCount(const std::string& operation, int n_splits);

}  // namespace vemo::quality
