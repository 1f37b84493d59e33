#pragma once

// Every method's solution of AX = XB on one set of aligned captures, each solved once.
// OpenCV's solvers compare every pair of captures, so one solve costs time quadratic in the
// captures; a run's verdict asks for all five methods, and the cross-method comparison runs
// all five on the same captures, which without sharing solved each method six times.

#include <opencv2/core.hpp>

#include <exception>
#include <map>
#include <mutex>
#include <vector>

namespace vemo::calibration {

class HandEyeSolutions {
 public:
  // Aligned 4x4 CV_64F robot_T_tcp and camera_T_target lists, as solveHandEyeEquation takes
  // them. The matrices are shared, not copied: they must not change while this lives.
  HandEyeSolutions(std::vector<cv::Mat> robot_T_tcp_list, std::vector<cv::Mat> camera_T_target_list);

  // solveHandEyeEquation(robot_T_tcp_list, camera_T_target_list, method): a copy of the
  // solution (empty when the solver found none), or the exception that the solve threw,
  // thrown again at every request. The first request solves every method of
  // handEyeMethodByNameMap side by side on OpenCV's threads, since a run's verdict goes on to
  // ask for them all. std::invalid_argument for a value that is no method of the table.
  // Safe to call from several threads.
  cv::Mat solution(int method);

  const std::vector<cv::Mat>& robotTTcpList() const { return robot_T_tcp_list_; }
  const std::vector<cv::Mat>& cameraTTargetList() const { return camera_T_target_list_; }

 private:
  struct Solved {
    cv::Mat tcp_T_camera;
    std::exception_ptr failure;
  };
  std::vector<cv::Mat> robot_T_tcp_list_;
  std::vector<cv::Mat> camera_T_target_list_;
  std::mutex mutex_;
  std::map<int, Solved> outcomes_;
};

}  // namespace vemo::calibration
