// Time to render one 1280 x 960 view of a ChArUco board against the time to detect the
// board in it. Rendering is meant to cost no more than detecting, so that tests and demos
// built on rendered views spend their time where the library does. Both run on OpenCV's
// threads; wall times swing on a shared machine, so the process's CPU time is shown too.

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"
#include "vemo/targets/targets.hpp"

#include "timing.hpp"

using vemo::bench::median;
using vemo::bench::Timing;

int main() {
  const vemo::CharucoTarget target(7, 5, 0.04, 0.03, "DICT_5X5_100");
  const cv::Mat camera_matrix = (cv::Mat_<double>(3, 3) << 1100, 0, 642.5, 0, 1100, 478.5, 0, 0, 1);
  const cv::Mat dist_coeffs = (cv::Mat_<double>(1, 5) << -0.15, 0.06, 0.0005, -0.0003, 0.0);
  const cv::Size image_size(1280, 960);
  const cv::Point3d centre = vemo::synthetic::targetCentre(target);
  const cv::Mat camera_T_target =
      vemo::synthetic::cameraTTargetLookingAt(target, {centre.x + 0.12, centre.y - 0.08, -0.45}, 15.0);
  constexpr int kRepetitions = 21;

  std::unique_ptr<vemo::synthetic::Renderer> renderer;
  const Timing setup = median(3, [&] {
    renderer = std::make_unique<vemo::synthetic::Renderer>(target, camera_matrix, dist_coeffs, image_size);
  });
  cv::Mat view;
  const Timing render = median(kRepetitions, [&] { view = renderer->render(camera_T_target); });

  const vemo::aruco::CharucoDetector detector = target.buildDetector();
  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
  const Timing detect = median(kRepetitions, [&] {
    cv::Mat grey;
    cv::cvtColor(view, grey, cv::COLOR_BGR2GRAY);
    detector.detectBoard(grey, corners, ids);
  });

  char detect_label[64];
  std::snprintf(detect_label, sizeof detect_label, "detect the board (grey conversion included, %zu corners)",
                corners.size());
  const auto row = [](const char* label, double wall, double cpu) { std::printf("%-58s %9.2f %9.2f\n", label, wall, cpu); };
  std::printf("ChArUco 7x5 board, 1280x960 view, median of %d runs %16s %9s\n", kRepetitions, "wall ms", "CPU ms");
  row("renderer set-up (once per camera and target)", setup.wall_ms, setup.cpu_ms);
  row("render one view", render.wall_ms, render.cpu_ms);
  row(detect_label, detect.wall_ms, detect.cpu_ms);
  row("render / detect", render.wall_ms / detect.wall_ms, render.cpu_ms / detect.cpu_ms);
  return 0;
}
