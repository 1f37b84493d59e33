#pragma once

// Value conversions shared by every binding: numpy.ndarray <-> cv::Mat (always a deep
// copy, so the library never shares memory with the caller's arrays) and cv::Size <->
// (width, height). Paths, optionals, variants and containers use pybind11's own casters,
// which is why those headers are included here.

#include <opencv2/core.hpp>
#include <optional>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

namespace vemo::bindings {

// An array seen as a matrix without copying: `matrix` lies over the array's buffer, which
// `array` keeps alive (an empty matrix owns itself).
struct BorrowedArray {
  pybind11::array array;
  cv::Mat matrix;
};

// The object as a matrix over its buffer, or std::nullopt when it is not an array of a
// supported dtype (uint8, int8, uint16, int16, int32, float32, float64) with 1 to 3
// dimensions and at most 4 channels. (n,) becomes n x 1; (r, c, k) becomes r x c with k
// channels. Objects that are not C-contiguous arrays are converted to a new one first.
// Throws std::invalid_argument "vemo: an array of <rows> x <cols> pixels is refused: ..."
// for an array of more than kMaxImagePixels (image_limits.hpp) rows times columns, before
// copying anything.
std::optional<BorrowedArray> borrowMatFromPython(pybind11::handle source);

// Copy of the array as a matrix (borrowMatFromPython, then a deep copy).
std::optional<cv::Mat> matFromPython(pybind11::handle source);

// Copies of a batch, made on OpenCV's threads while the caller keeps the interpreter lock,
// so that no Python thread can change an array during its copy.
std::vector<cv::Mat> copiesOf(const std::vector<BorrowedArray>& borrowed);

// New C-contiguous array holding a copy of the matrix: (rows, cols) for one channel,
// (rows, cols, channels) otherwise, float64 (0, 0) for an empty matrix. Throws
// std::runtime_error for a depth NumPy has no counterpart for (half floats).
pybind11::array matToPython(const cv::Mat& matrix);

// A list of such arrays; the arrays are made under the interpreter lock and filled on
// OpenCV's threads.
pybind11::list matsToPython(const std::vector<cv::Mat>& matrices);

}  // namespace vemo::bindings

namespace pybind11::detail {

template <>
struct type_caster<cv::Mat> {
  PYBIND11_TYPE_CASTER(cv::Mat, io_name("numpy.typing.ArrayLike", "numpy.ndarray"));

  bool load(handle source, bool /*convert*/) {
    std::optional<cv::Mat> matrix = vemo::bindings::matFromPython(source);
    if (!matrix) return false;
    value = std::move(*matrix);
    return true;
  }

  static handle cast(const cv::Mat& matrix, return_value_policy /*policy*/, handle /*parent*/) {
    return vemo::bindings::matToPython(matrix).release();
  }
};

// Lists of matrices (image batches above all) accept what pybind11's list caster accepts,
// and copy the pixels in and out on several threads.
template <>
struct type_caster<std::vector<cv::Mat>> : list_caster<std::vector<cv::Mat>, cv::Mat> {
  bool load(handle source, bool convert) {
    if (!object_is_convertible_to_std_vector(source)) return false;
    object items = reinterpret_borrow<object>(source);
    if (!isinstance<sequence>(source)) {
      if (!convert) return false;
      items = tuple(reinterpret_borrow<iterable>(source));  // exhausts a generator, as pybind11 does
    }
    std::vector<vemo::bindings::BorrowedArray> borrowed;
    for (handle item : items) {
      std::optional<vemo::bindings::BorrowedArray> array = vemo::bindings::borrowMatFromPython(item);
      if (!array) return false;
      borrowed.push_back(std::move(*array));
    }
    value = vemo::bindings::copiesOf(borrowed);
    return true;
  }

  static handle cast(const std::vector<cv::Mat>& matrices, return_value_policy /*policy*/, handle /*parent*/) {
    return vemo::bindings::matsToPython(matrices).release();
  }
};

template <>
struct type_caster<cv::Size> {
  PYBIND11_TYPE_CASTER(cv::Size, io_name("collections.abc.Sequence[int]", "tuple[int, int]"));

  bool load(handle source, bool convert) {
    if (!isinstance<sequence>(source) || isinstance<str>(source) || isinstance<bytes>(source)) {
      return false;
    }
    auto items = reinterpret_borrow<sequence>(source);
    if (items.size() != 2) return false;
    make_caster<int> width, height;
    if (!width.load(items[0], convert) || !height.load(items[1], convert)) return false;
    value = cv::Size(cast_op<int>(width), cast_op<int>(height));
    return true;
  }

  static handle cast(const cv::Size& size, return_value_policy /*policy*/, handle /*parent*/) {
    return make_tuple(size.width, size.height).release();
  }
};

}  // namespace pybind11::detail
