#include "bindings/conversions.hpp"

#include <climits>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "vemo/core/image_limits.hpp"
#include "vemo/core/parallel_map.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

// NumPy type numbers of the seven element types a matrix can hold.
enum NumpyType { kByte = 1, kUByte = 2, kShort = 3, kUShort = 4, kInt = 5, kFloat = 11, kDouble = 12 };

int depthOfDtype(const py::dtype& dtype) {
  if (dtype.byteorder() == '>') return -1;  // non-native byte order on the little-endian hosts
  switch (dtype.num()) {
    case kUByte: return CV_8U;
    case kByte: return CV_8S;
    case kUShort: return CV_16U;
    case kShort: return CV_16S;
    case kInt: return CV_32S;
    case kFloat: return CV_32F;
    case kDouble: return CV_64F;
    default: return -1;
  }
}

py::dtype dtypeOfDepth(int depth) {
  switch (depth) {
    case CV_8U: return py::dtype::of<std::uint8_t>();
    case CV_8S: return py::dtype::of<std::int8_t>();
    case CV_16U: return py::dtype::of<std::uint16_t>();
    case CV_16S: return py::dtype::of<std::int16_t>();
    case CV_32S: return py::dtype::of<std::int32_t>();
    case CV_32F: return py::dtype::of<float>();
    case CV_64F: return py::dtype::of<double>();
    default: throw std::runtime_error("vemo: unsupported cv::Mat depth for numpy conversion");
  }
}

bool fitsInInt(py::ssize_t extent) { return extent >= 0 && extent <= INT_MAX; }

}  // namespace

namespace {

// Refuses an array beyond the image size limit before anything copies it: a broadcast
// or strided view costs nothing until made contiguous, and then its full size.
void requireImageSize(py::handle source) {
  if (!py::isinstance<py::array>(source)) return;
  const auto array = py::reinterpret_borrow<py::array>(source);
  if (array.ndim() < 1) return;
  const py::ssize_t rows = array.shape(0);
  const py::ssize_t cols = array.ndim() >= 2 ? array.shape(1) : 1;
  if (cols > 0 && rows > kMaxImagePixels / cols) {
    throw std::invalid_argument("vemo: an array of " + std::to_string(rows) + " x " + std::to_string(cols) +
                                " pixels is refused: images may have at most " + kMaxImagePixelsText + " pixels");
  }
}

}  // namespace

std::optional<BorrowedArray> borrowMatFromPython(py::handle source) {
  if (!source || source.is_none()) return std::nullopt;
  requireImageSize(source);
  py::array array = py::array::ensure(source, py::array::c_style);
  if (!array) return std::nullopt;

  const int depth = depthOfDtype(array.dtype());
  if (depth < 0) return std::nullopt;

  const py::ssize_t ndim = array.ndim();
  if (ndim < 1 || ndim > 3) return std::nullopt;
  const py::ssize_t rows = array.shape(0);
  const py::ssize_t cols = ndim >= 2 ? array.shape(1) : 1;
  const py::ssize_t channels = ndim == 3 ? array.shape(2) : 1;
  if (channels < 1 || channels > 4 || !fitsInInt(rows) || !fitsInInt(cols)) return std::nullopt;

  const int type = CV_MAKETYPE(depth, static_cast<int>(channels));
  if (rows == 0 || cols == 0) {
    return BorrowedArray{array, cv::Mat(static_cast<int>(rows), static_cast<int>(cols), type)};
  }
  cv::Mat borrowed(static_cast<int>(rows), static_cast<int>(cols), type, const_cast<void*>(array.data()));
  return BorrowedArray{array, borrowed};
}

namespace {

// An empty matrix keeps its shape and type (a clone would not).
cv::Mat copyOf(const cv::Mat& matrix) { return matrix.empty() ? matrix : matrix.clone(); }

}  // namespace

std::optional<cv::Mat> matFromPython(py::handle source) {
  std::optional<BorrowedArray> borrowed = borrowMatFromPython(source);
  if (!borrowed) return std::nullopt;
  return copyOf(borrowed->matrix);
}

std::vector<cv::Mat> copiesOf(const std::vector<BorrowedArray>& borrowed) {
  auto copies = parallelMap(borrowed.size(), [&](std::size_t i) { return copyOf(borrowed[i].matrix); });
  std::vector<cv::Mat> matrices;
  matrices.reserve(copies.size());
  for (auto& copy : copies) matrices.push_back(std::move(copy.take()));
  return matrices;
}

namespace {

// A new array of the matrix's shape and dtype, not yet filled.
py::array arrayShapedLike(const cv::Mat& matrix) {
  if (matrix.empty()) return py::array(py::dtype::of<double>(), std::vector<py::ssize_t>{0, 0});
  std::vector<py::ssize_t> shape{matrix.rows, matrix.cols};
  if (matrix.channels() > 1) shape.push_back(matrix.channels());
  return py::array(dtypeOfDepth(matrix.depth()), shape);
}

void fill(void* destination, const cv::Mat& matrix) {
  if (matrix.empty()) return;
  const cv::Mat continuous = matrix.isContinuous() ? matrix : matrix.clone();
  std::memcpy(destination, continuous.data, continuous.total() * continuous.elemSize());
}

}  // namespace

py::array matToPython(const cv::Mat& matrix) {
  py::array array = arrayShapedLike(matrix);
  fill(array.mutable_data(), matrix);
  return array;
}

py::list matsToPython(const std::vector<cv::Mat>& matrices) {
  py::list list(matrices.size());
  std::vector<void*> destinations(matrices.size());
  for (std::size_t i = 0; i < matrices.size(); ++i) {
    py::array array = arrayShapedLike(matrices[i]);
    destinations[i] = array.mutable_data();
    list[i] = std::move(array);
  }
  auto filled = parallelMap(matrices.size(), [&](std::size_t i) {
    fill(destinations[i], matrices[i]);
    return true;
  });
  for (auto& outcome : filled) outcome.take();
  return list;
}

}  // namespace vemo::bindings
