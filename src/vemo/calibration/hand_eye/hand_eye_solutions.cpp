#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"

#include <utility>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"

namespace vemo::calibration {

HandEyeSolutions::HandEyeSolutions(std::vector<cv::Mat> robot_T_tcp_list, std::vector<cv::Mat> camera_T_target_list)
    : robot_T_tcp_list_(std::move(robot_T_tcp_list)), camera_T_target_list_(std::move(camera_T_target_list)) {}

cv::Mat HandEyeSolutions::solution(int method) {
  const std::lock_guard<std::mutex> lock(mutex_);
  auto entry = outcomes_.find(method);
  if (entry == outcomes_.end()) {
    Outcome outcome;
    try {
      outcome.tcp_T_camera = solveHandEyeEquation(robot_T_tcp_list_, camera_T_target_list_, method);
    } catch (...) {
      outcome.failure = std::current_exception();
    }
    entry = outcomes_.emplace(method, std::move(outcome)).first;
  }
  if (entry->second.failure) std::rethrow_exception(entry->second.failure);
  // A copy: callers keep the solution in results that they may change in place.
  return entry->second.tcp_T_camera.clone();
}

}  // namespace vemo::calibration
