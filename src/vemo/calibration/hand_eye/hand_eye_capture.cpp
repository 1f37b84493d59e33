#include "vemo/calibration/hand_eye/hand_eye_capture.hpp"

namespace vemo::calibration {

std::vector<cv::Mat> posesAsDouble(const std::vector<cv::Mat>& poses) {
  std::vector<cv::Mat> converted(poses.size());
  for (std::size_t i = 0; i < poses.size(); ++i) {
    if (poses[i].depth() == CV_64F) {
      converted[i] = poses[i];
    } else {
      poses[i].convertTo(converted[i], CV_64F);
    }
  }
  return converted;
}

std::size_t keptCount(const HandEyeCaptures& captures) {
  std::size_t count = 0;
  for (const HandEyeCapture& capture : captures) count += capture.kept ? 1 : 0;
  return count;
}

void keepOnly(HandEyeCaptures& captures, const std::vector<int>& kept_positions) {
  auto next = kept_positions.begin();
  int position = 0;
  for (HandEyeCapture& capture : captures) {
    if (!capture.kept) continue;
    const bool listed = next != kept_positions.end() && *next == position;
    if (listed) ++next;
    capture.kept = listed;
    ++position;
  }
}

std::vector<cv::Mat> keptOf(const std::vector<cv::Mat>& items, const HandEyeCaptures& captures) {
  std::vector<cv::Mat> kept;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    if (captures[i].kept) kept.push_back(items.at(i));
  }
  return kept;
}

std::vector<cv::Mat> keptImages(const HandEyeCaptures& captures) {
  std::vector<cv::Mat> images;
  for (const HandEyeCapture& capture : captures) {
    if (capture.kept) images.push_back(capture.image);
  }
  return images;
}

void setAlignedLists(const HandEyeCaptures& captures, HandEyeResult& result, bool with_target_poses) {
  result.valid_robot_T_tcp_list.clear();
  result.valid_image_list.clear();
  result.camera_T_target_list.clear();
  for (const HandEyeCapture& capture : captures) {
    if (!capture.kept) continue;
    result.valid_robot_T_tcp_list.push_back(capture.robot_T_tcp);
    result.valid_image_list.push_back(capture.image);
    if (with_target_poses) result.camera_T_target_list.push_back(capture.camera_T_target);
  }
}

std::vector<CaptureCorners> keptCorners(const HandEyeCaptures& captures) {
  std::vector<CaptureCorners> corners;
  for (const HandEyeCapture& capture : captures) {
    if (capture.kept && !capture.corners.image_points.empty()) corners.push_back(capture.corners);
  }
  return corners;
}

std::vector<int> keptPositions(const HandEyeCaptures& captures) {
  std::vector<int> positions;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    if (captures[i].kept) positions.push_back(static_cast<int>(i));
  }
  return positions;
}

}  // namespace vemo::calibration
