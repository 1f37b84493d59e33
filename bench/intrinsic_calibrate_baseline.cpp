// The OpenCV calls of an intrinsic calibration made directly, without the library: the
// baseline that bench/intrinsic_calibrate.py compares IntrinsicCalibrator.calibrate with.
// It reads the PNG images that script renders, runs the whole pipeline (grey conversion,
// detection, refinement, annotated copies, calibrateCamera, mean reprojection error) once
// untimed (warming caches and OpenCV's thread pool, as a long-running caller's process
// would be), then `repeats` times, and prints the median wall time and the median CPU
// time of the calling thread in seconds, and the mean reprojection error. ChArUco goes
// through the library's ArUco adapter (vemo/targets/aruco.hpp), OpenCV's contrib functions
// on 4.6 and objdetect from 4.7, so that the program builds against either.
//
//   intrinsic_calibrate_baseline DIR REPEATS chessboard COLS ROWS SQUARE
//   intrinsic_calibrate_baseline DIR REPEATS charuco SQUARES_X SQUARES_Y SQUARE MARKER DICT_ID

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "vemo/targets/aruco.hpp"

namespace {

struct Views {
  std::vector<cv::Mat> image_points, object_points, annotated;
};

const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 0.001);

void detectChessboard(const cv::Mat& image, cv::Size size, float square, Views& views) {
  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  std::vector<cv::Point2f> corners;
  if (!cv::findChessboardCorners(grey, size, corners, 0)) return;
  cv::cornerSubPix(grey, corners, cv::Size(11, 11), cv::Size(-1, -1), kCriteria);
  cv::Mat annotated = image.clone();
  cv::drawChessboardCorners(annotated, size, corners, true);
  cv::Mat object(size.area(), 3, CV_32F, cv::Scalar(0));
  for (int j = 0; j < size.height; ++j)
    for (int i = 0; i < size.width; ++i) {
      object.at<float>(j * size.width + i, 0) = i * square;
      object.at<float>(j * size.width + i, 1) = j * square;
    }
  views.image_points.push_back(cv::Mat(corners, true));
  views.object_points.push_back(object);
  views.annotated.push_back(annotated);
}

void detectCharuco(const cv::Mat& image, const vemo::aruco::CharucoDetector& detector,
                   const std::vector<cv::Point3f>& board_corners, Views& views) {
  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  std::vector<std::vector<cv::Point2f>> marker_corners;
  std::vector<int> marker_ids, ids;
  std::vector<cv::Point2f> corners;
  detector.detectBoard(grey, corners, ids, marker_corners, marker_ids);
  if (corners.size() < 4) return;
  cv::Mat object(static_cast<int>(ids.size()), 3, CV_32F);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const cv::Point3f& p = board_corners[static_cast<std::size_t>(ids[k])];
    object.at<float>(static_cast<int>(k), 0) = p.x;
    object.at<float>(static_cast<int>(k), 1) = p.y;
    object.at<float>(static_cast<int>(k), 2) = p.z;
  }
  cv::Mat annotated = image.clone();
  vemo::aruco::drawDetectedMarkers(annotated, marker_corners, marker_ids, cv::Scalar(0, 255, 0));
  vemo::aruco::drawDetectedCornersCharuco(annotated, corners, ids, cv::Scalar(255, 0, 0));
  views.image_points.push_back(cv::Mat(corners, true));
  views.object_points.push_back(object);
  views.annotated.push_back(annotated);
}

double threadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double calibrate(const std::vector<cv::Mat>& images, const std::function<void(const cv::Mat&, Views&)>& detect) {
  Views views;
  for (const cv::Mat& image : images) detect(image, views);
  cv::Mat K, D, std_intrinsics, std_extrinsics, per_view;
  std::vector<cv::Mat> rvecs, tvecs;
  cv::calibrateCamera(views.object_points, views.image_points, images.front().size(), K, D, rvecs, tvecs,
                      std_intrinsics, std_extrinsics, per_view, 0, kCriteria);
  double sum = 0.0;
  for (std::size_t i = 0; i < views.object_points.size(); ++i) {
    cv::Mat projected;
    cv::projectPoints(views.object_points[i], rvecs[i], tvecs[i], K, D, projected);
    sum += cv::norm(views.image_points[i], projected, cv::NORM_L2) / projected.rows;
  }
  return sum / static_cast<double>(views.object_points.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::printf("intrinsic_calibrate_baseline: driven by bench/intrinsic_calibrate.py, which renders its images\n");
    return 0;
  }
  std::vector<std::filesystem::path> paths;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
    if (entry.path().extension() == ".png") paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<cv::Mat> images;
  for (const auto& path : paths) images.push_back(cv::imread(path.string(), cv::IMREAD_COLOR));
  const int repeats = std::atoi(argv[2]);
  const std::string kind = argv[3];

  std::function<void(const cv::Mat&, Views&)> detect;
  if (kind == "chessboard" && argc == 7) {
    const cv::Size size(std::atoi(argv[4]), std::atoi(argv[5]));
    const float square = std::stof(argv[6]);
    detect = [=](const cv::Mat& image, Views& views) { detectChessboard(image, size, square, views); };
  } else if (kind == "charuco" && argc == 9) {
    const vemo::aruco::CharucoBoard board(cv::Size(std::atoi(argv[4]), std::atoi(argv[5])), std::stof(argv[6]),
                                          std::stof(argv[7]), vemo::aruco::getPredefinedDictionary(std::atoi(argv[8])));
    const vemo::aruco::CharucoDetector detector(board);
    const std::vector<cv::Point3f> board_corners = board.getChessboardCorners();
    detect = [=](const cv::Mat& image, Views& views) { detectCharuco(image, detector, board_corners, views); };
  } else {
    std::fprintf(stderr, "intrinsic_calibrate_baseline: bad arguments\n");
    return 2;
  }

  double error = calibrate(images, detect);
  std::vector<double> wall, cpu;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = threadCpuSeconds();
    error = calibrate(images, detect);
    cpu.push_back(threadCpuSeconds() - cpu_start);
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%.6f %.6f %.6f\n", median(wall), median(cpu), error);
  return 0;
}
