#include "bindings/conversions.hpp"
#include "bindings/register.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerIntrinsic(py::module_& module) {
  module.attr("TERM_CRITERIA_COUNT") = static_cast<int>(cv::TermCriteria::COUNT);
  module.attr("TERM_CRITERIA_MAX_ITER") = static_cast<int>(cv::TermCriteria::MAX_ITER);
  module.attr("TERM_CRITERIA_EPS") = static_cast<int>(cv::TermCriteria::EPS);

  py::classh<cv::TermCriteria>(module, "TermCriteria", "OpenCV solver termination criteria.")
      .def(py::init<int, int, double>(), py::arg("type"), py::arg("max_count"), py::arg("epsilon"))
      .def_readwrite("type", &cv::TermCriteria::type)
      .def_readwrite("max_count", &cv::TermCriteria::maxCount)
      .def_readwrite("epsilon", &cv::TermCriteria::epsilon);
}

}  // namespace vemo::bindings
