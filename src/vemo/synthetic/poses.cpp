#include "vemo/synthetic/poses.hpp"

#include <cmath>
#include <stdexcept>

#include "vemo/tf/tf.hpp"

namespace vemo::synthetic {

cv::Point3d targetCentre(const Target& target) {
  if (const auto* chessboard = std::get_if<ChessboardTarget>(&target)) {
    return {(chessboard->size.width - 1) * chessboard->square_size / 2,
            (chessboard->size.height - 1) * chessboard->square_size / 2, 0};
  }
  if (const auto* charuco = std::get_if<CharucoTarget>(&target)) {
    return {charuco->squares_x * charuco->square_length / 2, charuco->squares_y * charuco->square_length / 2, 0};
  }
  const auto& aruco = std::get<ArucoTarget>(target);
  const auto extent = [&](int markers) { return markers * aruco.marker_length + (markers - 1) * aruco.marker_separation; };
  return {extent(aruco.board_size.width) / 2, extent(aruco.board_size.height) / 2, 0};
}

cv::Mat cameraTTargetLookingAt(const Target& target, const cv::Point3d& camera_position, double roll_deg) {
  const cv::Vec3d position(camera_position.x, camera_position.y, camera_position.z);
  const cv::Point3d centre = targetCentre(target);
  if (!cv::checkRange(position) || !std::isfinite(roll_deg) || !cv::checkRange(cv::Vec3d(centre))) {
    throw std::invalid_argument(
        "cameraTTargetLookingAt: camera_position, roll_deg and the target's geometry must be finite");
  }
  const cv::Vec3d towards = cv::Vec3d(centre.x, centre.y, centre.z) - position;
  if (!(cv::norm(towards) > 1e-9)) {
    throw std::invalid_argument("cameraTTargetLookingAt: the camera sits on the target's centre");
  }
  const cv::Vec3d forward = cv::normalize(towards);
  const cv::Vec3d right_unnormalized = cv::Vec3d(0, 1, 0).cross(forward);
  if (!(cv::norm(right_unnormalized) > 1e-9)) {
    throw std::invalid_argument("cameraTTargetLookingAt: the camera looks along the board's y axis");
  }
  const cv::Vec3d right = cv::normalize(right_unnormalized);
  const cv::Vec3d down = forward.cross(right);
  // Roll turns the camera's x and y axes about its viewing axis (right-handed).
  const double roll = tf::radiansFromDegrees(roll_deg);
  const cv::Vec3d x_axis = std::cos(roll) * right + std::sin(roll) * down;
  const cv::Vec3d y_axis = std::cos(roll) * down - std::sin(roll) * right;

  cv::Mat camera_T_target = cv::Mat::eye(4, 4, CV_64F);
  const cv::Vec3d axes[3] = {x_axis, y_axis, forward};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) camera_T_target.at<double>(r, c) = axes[r][c];
    camera_T_target.at<double>(r, 3) = -axes[r].dot(position);
  }
  return camera_T_target;
}

}  // namespace vemo::synthetic
