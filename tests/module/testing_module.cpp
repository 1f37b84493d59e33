// Exposes the value conversions on their own so that the Python tests can check them
// without going through any library operation.
#include <opencv2/imgproc.hpp>
#include <pybind11/pybind11.h>

#include <stdexcept>

#include "bindings/conversions.hpp"
#include "vemo/io/npz.hpp"

namespace py = pybind11;

PYBIND11_MODULE(_vemo_testing, module) {
  module.def("echo", [](const cv::Mat& matrix) { return matrix; }, py::arg("matrix"));
  module.def("describe", [](const cv::Mat& matrix) {
    return py::make_tuple(matrix.rows, matrix.cols, matrix.channels(), matrix.depth(), matrix.isContinuous());
  }, py::arg("matrix"));
  module.def("echo_optional", [](std::optional<cv::Mat> matrix) { return matrix; }, py::arg("matrix"));
  module.def("echo_list", [](const std::vector<cv::Mat>& matrices) { return matrices; }, py::arg("matrices"));
  module.def("echo_size", [](const cv::Size& size) { return size; }, py::arg("size"));
  module.def("echo_path", [](const std::filesystem::path& path) { return path; }, py::arg("path"));
  module.def("half_float_matrix", [] { return cv::Mat(2, 2, CV_16F, cv::Scalar(0)); });
  module.def("non_continuous_matrix", [] {
    cv::Mat whole(4, 6, CV_32S);
    for (int i = 0; i < 24; ++i) whole.at<int>(i / 6, i % 6) = i;
    return cv::Mat(whole(cv::Rect(1, 1, 3, 2)));
  });
  module.def("throw_error", [](const std::string& kind) {
    if (kind == "invalid_argument") throw std::invalid_argument("op: bad argument");
    if (kind == "runtime_error") throw std::runtime_error("io: failed");
    if (kind == "out_of_range") throw std::out_of_range("stoi");
    if (kind == "bad_alloc") throw std::bad_alloc();
    cv::Mat single_channel(2, 2, CV_8U);
    cv::Mat unused;
    cv::cvtColor(single_channel, unused, cv::COLOR_BGR2GRAY);
  }, py::arg("kind"));
  module.def("fill_with_ones", [](cv::Mat matrix) {
    // Writes into the converted argument: the caller's array must stay unchanged.
    matrix.setTo(1);
    return matrix;
  }, py::arg("matrix"));
  module.def("save_npz", &vemo::detail::saveNpz, py::arg("path"), py::arg("key"), py::arg("shape"), py::arg("data"));
  module.def("load_npz", [](const std::string& path, const std::string& key) {
    vemo::detail::NpyArray array = vemo::detail::loadNpz(path, key);
    return py::make_tuple(array.shape, array.data);
  }, py::arg("path"), py::arg("key"));
}
