#pragma once

// Work over a batch of images on OpenCV's threads with the observable behaviour of a plain
// loop: results come back in index order, and nothing that a caller logs or throws depends
// on which thread ran what. The per-item work must not log or touch shared state; the caller
// walks the outcomes in order afterwards, logging as it goes, and take() rethrows an item's
// exception at the point where a serial loop would have raised it (so the exception that
// escapes is the lowest failing index's, after the lines of the items before it).

#include <opencv2/core/utility.hpp>

#include <cstddef>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace vemo {

template <class T>
class Outcome {
 public:
  // The item's result, or its exception rethrown.
  T& take() {
    if (error_) std::rethrow_exception(error_);
    return *value_;
  }

 private:
  template <class Work>
  friend auto parallelMap(std::size_t count, const Work& work);
  std::optional<T> value_;
  std::exception_ptr error_;
};

// work(i) for every i in [0, count), spread over cv::parallel_for_ (which follows
// cv::setNumThreads; with one thread everything runs on the calling thread in order).
// Every item runs, also after another one threw.
template <class Work>
auto parallelMap(std::size_t count, const Work& work) {
  using Result = decltype(work(std::size_t{0}));
  std::vector<Outcome<Result>> outcomes(count);
  cv::parallel_for_(
      cv::Range(0, static_cast<int>(count)),
      [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
          auto& outcome = outcomes[static_cast<std::size_t>(i)];
          try {
            outcome.value_.emplace(work(static_cast<std::size_t>(i)));
          } catch (...) {
            outcome.error_ = std::current_exception();
          }
        }
      },
      static_cast<double>(count));
  return outcomes;
}

}  // namespace vemo
