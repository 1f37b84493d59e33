#include "vemo/calibration/hand_eye_input_checks.hpp"

#include <stdexcept>

#include "vemo/core/tf.hpp"

namespace vemo::calibration {

// A pose that is not a finite rigid transform is rejected up front: it would fail deep
// inside OpenCV, or solve and be stored as the last result whose report (which inverts
// the target poses) then throws. A rotation block that is no rotation (scaled, sheared,
// reflected) would be solved as given and return a confident wrong transform.
void requireRigidPoses(const std::vector<cv::Mat>& poses, const std::string& list_name,
                       const std::string& class_name) {
  const tf::PoseRequirements rigid{true, true, true, true};
  for (std::size_t i = 0; i < poses.size(); ++i) {
    const tf::PoseDefect defect = tf::findPoseDefect(poses[i], rigid);
    if (defect == tf::PoseDefect::None) continue;
    const std::string where = class_name + ": " + list_name + "[" + std::to_string(i) + "] ";
    if (defect == tf::PoseDefect::NotRotation) throw std::invalid_argument(where + tf::describePoseDefect(defect));
    throw std::invalid_argument(where +
                                "must be a finite 4x4 matrix with last row (0, 0, 0, 1) and an invertible "
                                "rotation block");
  }
}

void requireCameraMatrix(const cv::Mat& intrinsic_matrix, const std::string& class_name) {
  if (intrinsic_matrix.empty()) return;
  cv::Mat camera;
  const bool square = intrinsic_matrix.dims == 2 && intrinsic_matrix.rows == 3 && intrinsic_matrix.cols == 3 &&
                      intrinsic_matrix.channels() == 1;
  if (square) intrinsic_matrix.convertTo(camera, CV_64F);
  if (!square || !cv::checkRange(camera) || !(camera.at<double>(0, 0) > 0.0) || !(camera.at<double>(1, 1) > 0.0)) {
    throw std::invalid_argument(class_name +
                                ": intrinsic_matrix must be a finite 3x3 camera matrix with positive focal lengths");
  }
}

}  // namespace vemo::calibration
