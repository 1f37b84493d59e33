#include "vemo/calibration/hand_eye/hand_eye_input_checks.hpp"

#include <stdexcept>

#include "vemo/tf/tf.hpp"

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

}  // namespace vemo::calibration
