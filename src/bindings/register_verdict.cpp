#include "bindings/conversions.hpp"
#include "bindings/register.hpp"
#include "vemo/quality/verdict.hpp"

namespace py = pybind11;

namespace vemo::bindings {

void registerVerdict(py::module_& module) {
  using namespace vemo::quality;

  py::classh<Suspect>(module, "Suspect", "A capture without which the hand-eye chain agrees much better.")
      .def_readonly("capture", &Suspect::capture, "position of the capture in the run's input lists")
      .def_readonly("residual_without_m", &Suspect::residual_without_m,
                    "RMS scatter of the target's position with the capture left out, metres");

  py::classh<Verdict>(module, "Verdict",
                      "Whether a calibration's own evidence (consistency against its noise, reprojection\n"
                      "RMS, solver agreement, rotation variety, unit, inversion, scale and layout checks)\n"
                      "supports its answer. ok says only that a solve ran; trusted says the answer holds up.")
      .def_readonly("trusted", &Verdict::trusted, "False when any check found the answer unsupported")
      .def_readonly("reasons", &Verdict::reasons, "one sentence per cause; empty when trusted")
      .def_readonly("suspects", &Verdict::suspects,
                    "list of Suspect, most suspect first: only for an untrusted hand-eye result whose\n"
                    "captures scatter, the captures whose removal most lowers the scatter");

  py::classh<VerdictOptions>(module, "VerdictOptions", "What the hand-eye verdict counts as the robot's noise.")
      .def(py::init([](double robot_repeatability_m, double robot_repeatability_deg) {
             if (!(robot_repeatability_m >= 0.0 && robot_repeatability_deg >= 0.0) ||
                 !std::isfinite(robot_repeatability_m) || !std::isfinite(robot_repeatability_deg)) {
               throw std::invalid_argument("VerdictOptions: robot repeatability must be finite and not negative");
             }
             return VerdictOptions{robot_repeatability_m, robot_repeatability_deg};
           }),
           py::arg("robot_repeatability_m") = VerdictOptions{}.robot_repeatability_m,
           py::arg("robot_repeatability_deg") = VerdictOptions{}.robot_repeatability_deg,
           "Standard deviations per axis of the robot's reported flange position (metres) and\n"
           "orientation (degrees). Raises ValueError for a negative or non-finite value.")
      .def_readonly("robot_repeatability_m", &VerdictOptions::robot_repeatability_m, "metres, per axis")
      .def_readonly("robot_repeatability_deg", &VerdictOptions::robot_repeatability_deg, "degrees, per axis");

  module.def("format_verdict", &formatVerdict, py::arg("verdict"), py::arg("capture_names") = std::vector<std::string>(),
             "The verdict as the commands print it: \"Verdict: trusted\" or \"Verdict: NOT TRUSTED\",\n"
             "a \"  - \" line per reason, then the suspects, named by capture_names[i] when given.");
}

}  // namespace vemo::bindings
