// The camera solve alone, OpenCV's dense cv::calibrateCamera against the library's sparse
// solve, on the same detections: 10, 20, 30, 100 and 300 views of a 28x17-corner board (476 corners,
// the size of the real photographs the benchmarks use) at 1928x1208, 0.3 px of detection
// noise, the options' default criteria (30 steps, epsilon 0.001). Runs alternate between the
// two solves; each figure is the median of the repetitions. Prints wall and process CPU time,
// their ratio, the largest difference of the camera matrices and of the coefficients, and the
// load average.
//
//   bench_camera_solve [--quick]   (--quick: 10, 30 and 100 views, one repetition)

#include <opencv2/calib3d.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "timing.hpp"
#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"

namespace {

const cv::Size kImageSize(1928, 1208);

struct Views {
  std::vector<cv::Mat> object_points, image_points;
};

Views views(int count) {
  const cv::Mat camera = (cv::Mat_<double>(3, 3) << 1400, 0, 962, 0, 1398, 606, 0, 0, 1);
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.15, 0.06, 0.0007, -0.0005, -0.01);
  std::vector<cv::Point3f> board;
  for (int row = 0; row < 17; ++row) {
    for (int column = 0; column < 28; ++column) board.emplace_back(0.02f * column, 0.02f * row, 0.0f);
  }
  cv::RNG random(3);
  Views result;
  for (int k = 0; k < count; ++k) {
    const cv::Vec3d rotation(random.uniform(-0.4, 0.4), random.uniform(-0.4, 0.4), random.uniform(-0.4, 0.4));
    const cv::Vec3d translation(random.uniform(-0.35, -0.2), random.uniform(-0.2, -0.1), random.uniform(0.8, 1.1));
    cv::Mat projected, observed;
    cv::projectPoints(board, rotation, translation, camera, distortion, projected);
    cv::Mat noise(projected.size(), projected.type());
    random.fill(noise, cv::RNG::NORMAL, 0.0, 0.3);
    cv::Mat(projected + noise).convertTo(observed, CV_32FC2);
    result.object_points.push_back(cv::Mat(board, true));
    result.image_points.push_back(observed);
  }
  return result;
}

double processCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 0.001);
  double load[3] = {0, 0, 0};
  std::printf("%6s %14s %14s %14s %14s %8s %12s %12s\n", "views", "opencv wall s", "sparse wall s", "opencv cpu s",
              "sparse cpu s", "ratio", "camera diff", "coeff diff");
  for (int count : quick ? std::vector<int>{10, 30, 100} : std::vector<int>{10, 20, 30, 100, 300}) {
    const Views data = views(count);
    const int repetitions = quick ? 1 : (count >= 300 ? 2 : 3);
    std::vector<double> dense_wall, sparse_wall, dense_cpu, sparse_cpu;
    cv::Mat dense_camera, dense_coefficients, sparse_camera, sparse_coefficients;
    for (int r = 0; r < repetitions; ++r) {
      std::vector<cv::Mat> rotations, translations;
      double cpu = processCpuSeconds();
      const vemo::bench::Timing dense = vemo::bench::median(1, [&] {
        dense_camera.release();
        dense_coefficients.release();
        cv::calibrateCamera(data.object_points, data.image_points, kImageSize, dense_camera, dense_coefficients,
                            rotations, translations, 0, criteria);
      });
      dense_cpu.push_back(processCpuSeconds() - cpu);
      dense_wall.push_back(dense.wall_ms / 1000.0);
      cpu = processCpuSeconds();
      const vemo::bench::Timing sparse = vemo::bench::median(1, [&] {
        sparse_camera.release();
        sparse_coefficients.release();
        vemo::calibration::calibrateCameraSparse(data.object_points, data.image_points, kImageSize, sparse_camera,
                                                 sparse_coefficients, rotations, translations, 0, criteria);
      });
      sparse_cpu.push_back(processCpuSeconds() - cpu);
      sparse_wall.push_back(sparse.wall_ms / 1000.0);
    }
    const auto middle = [](std::vector<double> values) {
      std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
      return values[values.size() / 2];
    };
    if (getloadavg(load, 3) < 0) load[0] = -1;
    std::printf("%6d %14.3f %14.3f %14.3f %14.3f %7.2fx %12.2e %12.2e   (load %.2f)\n", count, middle(dense_wall),
                middle(sparse_wall), middle(dense_cpu), middle(sparse_cpu), middle(sparse_wall) / middle(dense_wall),
                cv::norm(dense_camera, sparse_camera, cv::NORM_INF),
                cv::norm(dense_coefficients, sparse_coefficients, cv::NORM_INF), load[0]);
  }
  return 0;
}
