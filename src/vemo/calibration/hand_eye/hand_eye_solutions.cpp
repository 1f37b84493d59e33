#include "vemo/calibration/hand_eye/hand_eye_solutions.hpp"

#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/core/parallel_map.hpp"

namespace vemo::calibration {

HandEyeSolutions::HandEyeSolutions(std::vector<cv::Mat> robot_T_tcp_list, std::vector<cv::Mat> camera_T_target_list)
    : robot_T_tcp_list_(std::move(robot_T_tcp_list)), camera_T_target_list_(std::move(camera_T_target_list)) {}

cv::Mat HandEyeSolutions::solution(int method) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (outcomes_.empty()) {
    std::vector<int> methods;
    for (const auto& named : handEyeMethodByNameMap()) methods.push_back(named.second);
    std::vector<Outcome<cv::Mat>> solved = parallelMap(methods.size(), [&](std::size_t i) {
      return solveHandEyeEquation(robot_T_tcp_list_, camera_T_target_list_, methods[i]);
    });
    for (std::size_t i = 0; i < methods.size(); ++i) {
      Solved outcome;
      try {
        outcome.tcp_T_camera = solved[i].take();
      } catch (...) {
        outcome.failure = std::current_exception();
      }
      outcomes_.emplace(methods[i], std::move(outcome));
    }
  }
  const auto entry = outcomes_.find(method);
  if (entry == outcomes_.end()) {
    throw std::invalid_argument("HandEyeSolutions::solution: unknown hand-eye method " + std::to_string(method));
  }
  if (entry->second.failure) std::rethrow_exception(entry->second.failure);
  // A copy: callers keep the solution in results that they may change in place.
  return entry->second.tcp_T_camera.clone();
}

}  // namespace vemo::calibration
