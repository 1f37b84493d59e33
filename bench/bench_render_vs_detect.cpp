// Time to render one 1280 x 960 view of a ChArUco board against the time to detect the
// board in it. Rendering is meant to cost no more than detecting, so that tests and demos
// built on rendered views spend their time where the library does.

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "vemo/core/targets.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"

namespace {

double medianMilliseconds(int repetitions, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
  return times[times.size() / 2];
}

}  // namespace

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
  const double setup_ms = medianMilliseconds(3, [&] {
    renderer = std::make_unique<vemo::synthetic::Renderer>(target, camera_matrix, dist_coeffs, image_size);
  });
  cv::Mat view;
  const double render_ms = medianMilliseconds(kRepetitions, [&] { view = renderer->render(camera_T_target); });

  const vemo::aruco::CharucoDetector detector = target.buildDetector();
  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
  const double detect_ms = medianMilliseconds(kRepetitions, [&] {
    cv::Mat grey;
    cv::cvtColor(view, grey, cv::COLOR_BGR2GRAY);
    detector.detectBoard(grey, corners, ids);
  });

  std::printf("ChArUco 7x5 board, 1280x960 view, median of %d runs\n", kRepetitions);
  std::printf("renderer set-up (once per camera and target): %8.2f ms\n", setup_ms);
  std::printf("render one view:                              %8.2f ms\n", render_ms);
  std::printf("detect the board (grey conversion included):  %8.2f ms (%zu corners)\n", detect_ms, corners.size());
  std::printf("render / detect:                              %8.2f\n", render_ms / detect_ms);
  return 0;
}
