#include "bindings/conversions.hpp"
#include "bindings/docstrings.hpp"
#include "bindings/register.hpp"
#include "vemo/tf/tf.hpp"

namespace py = pybind11;

namespace vemo::bindings {

namespace {

constexpr char kTransformReturn[] =
    "A (4, 4) float64 homogeneous transform: rotation block top left, translation in the\n"
    "last column, last row 0 0 0 1.";

}  // namespace

void registerTf(py::module_& tf) {
  using docs::join;
  tf.def("pose_to_transformation_matrix", &vemo::tf::poseToTransformationMatrix, py::arg("pose_xyzrpy_deg"),
         join("Convert [x, y, z, rx, ry, rz] (degrees, extrinsic xyz Euler) to a 4x4 matrix.\n\n"
              "The rotation is rx about the fixed X axis, then ry about the fixed Y axis, then rz\n"
              "about the fixed Z axis: R = Rz(rz) @ Ry(ry) @ Rx(rx).",
              docs::kArguments,
              "- pose_xyzrpy_deg: sequence of 6 floats [x, y, z, rx, ry, rz]: translation in the\n"
              "  unit of the result (metres throughout vemo), angles in degrees",
              docs::kReturns, kTransformReturn, docs::kRaises,
              "ValueError unless pose_xyzrpy_deg has exactly 6 elements.")
             .c_str());
  tf.def("transformation_matrix_to_pose", &vemo::tf::transformationMatrixToPose, py::arg("transformation"),
         join("Convert a 4x4 transformation matrix to [x, y, z, rx, ry, rz] (degrees).\n\n"
              "The inverse of pose_to_transformation_matrix. Only the rotation block and the\n"
              "translation column are read; orthonormality is not checked. At |ry| = 90 degrees\n"
              "(gimbal lock) rx is reported as 0 and the whole rotation about Z goes into rz; a\n"
              "rotation block holding NaN or infinity gives NaN angles.",
              docs::kArguments, "- transformation: 4x4 array of any numeric dtype, a_T_b",
              docs::kReturns,
              "A list of 6 floats [x, y, z, rx, ry, rz]: the translation in the matrix's unit, the\n"
              "extrinsic X-Y-Z Euler angles in degrees.",
              docs::kRaises, "ValueError unless transformation is 4x4.")
             .c_str());
  tf.def("average_pose", &vemo::tf::averagePose, py::arg("poses"),
         join("Mean SE(3) pose: average translations, project the mean rotation onto SO(3) via SVD.\n\n"
              "All poses weigh the same; the result is a proper rotation (det +1).",
              docs::kArguments,
              "- poses: non-empty sequence of 4x4 arrays (any numeric dtype), all a_T_b of the same\n"
              "  two frames; only the top 3x4 block of each is read",
              docs::kReturns, kTransformReturn, docs::kRaises,
              "ValueError for an empty list or a matrix smaller than 3x4.")
             .c_str());
}

}  // namespace vemo::bindings
