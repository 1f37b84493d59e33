// The OpenCV calls of a rig calibration made directly, without the library: the baseline
// that bench/rig_calibrate.py compares MultiCameraCalibrator with. It reads the capture
// directory that script writes (cam_NN/image_KK.png), and runs either a whole-rig
// calibration (reference camera 0) or the calibration of every camera subset of sizes 2
// and 3 (each subset: intrinsics afresh, stereo per pair, the frame-0 check twice, as the
// library's subset run does). Per camera: ChArUco detection with annotated copies,
// calibrateCamera and per-view errors; per pair: frames both saw with per-view error
// within 3 px, corners paired by id (at least 15 shared), stereoCalibrate with fixed
// intrinsics; then frame 0 triangulated (undistortPoints, DLT by SVD) with its figures.
// Runs once untimed, then `repeats` times, and prints the median wall time, the median CPU
// time of the calling thread in seconds, and the mean pair RMS of the last run.
//
//   rig_calibrate_baseline DIR REPEATS CAMERAS calibrate|subsets SQUARES_X SQUARES_Y SQUARE MARKER DICT_ID

#include <opencv2/aruco/charuco.hpp>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 30, 1e-6);

struct View {
  int frame;
  std::vector<cv::Point2f> corners;
  std::vector<int> ids;
};

struct Camera {
  std::vector<View> views;
  std::vector<int> good_frames;  // per-view error within 3 px
  cv::Mat K, D;
};

bool detect(const cv::Mat& image, const cv::Ptr<cv::aruco::CharucoBoard>& board, View& view, bool annotate) {
  cv::Mat grey;
  cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
  std::vector<std::vector<cv::Point2f>> marker_corners;
  std::vector<int> marker_ids;
  cv::aruco::detectMarkers(grey, board->dictionary, marker_corners, marker_ids);
  if (!marker_ids.empty()) {
    cv::aruco::interpolateCornersCharuco(marker_corners, marker_ids, grey, board, view.corners, view.ids);
  }
  if (view.corners.size() < 4) return false;
  if (annotate) {
    cv::Mat annotated = image.clone();
    cv::aruco::drawDetectedMarkers(annotated, marker_corners, marker_ids, cv::Scalar(0, 255, 0));
    cv::aruco::drawDetectedCornersCharuco(annotated, view.corners, view.ids, cv::Scalar(255, 0, 0));
  }
  return true;
}

std::vector<cv::Point3f> objectPoints(const cv::Ptr<cv::aruco::CharucoBoard>& board, const std::vector<int>& ids) {
  std::vector<cv::Point3f> points;
  for (int id : ids) points.push_back(board->chessboardCorners[static_cast<std::size_t>(id)]);
  return points;
}

Camera calibrateCamera(const std::vector<cv::Mat>& images, const cv::Ptr<cv::aruco::CharucoBoard>& board) {
  Camera camera;
  for (int frame = 0; frame < static_cast<int>(images.size()); ++frame) {
    View view{frame, {}, {}};
    if (detect(images[static_cast<std::size_t>(frame)], board, view, true)) camera.views.push_back(view);
  }
  std::vector<std::vector<cv::Point3f>> objects;
  std::vector<std::vector<cv::Point2f>> pixels;
  for (const View& view : camera.views) {
    objects.push_back(objectPoints(board, view.ids));
    pixels.push_back(view.corners);
  }
  std::vector<cv::Mat> rvecs, tvecs;
  cv::Mat std_intrinsics, std_extrinsics, per_view;
  cv::calibrateCamera(objects, pixels, images.front().size(), camera.K, camera.D, rvecs, tvecs, std_intrinsics,
                      std_extrinsics, per_view, 0, kCriteria);
  for (std::size_t k = 0; k < camera.views.size(); ++k) {
    if (per_view.at<double>(static_cast<int>(k)) <= 3.0) camera.good_frames.push_back(camera.views[k].frame);
  }
  return camera;
}

const View* viewOf(const Camera& camera, int frame) {
  for (const View& view : camera.views) {
    if (view.frame == frame) return &view;
  }
  return nullptr;
}

// reference_T_camera of `camera` and the pair's RMS.
double stereo(const Camera& reference, const Camera& camera, const cv::Ptr<cv::aruco::CharucoBoard>& board,
              cv::Size size, cv::Mat& reference_T_camera) {
  std::vector<std::vector<cv::Point3f>> objects;
  std::vector<std::vector<cv::Point2f>> first, second;
  for (int frame : reference.good_frames) {
    if (!std::binary_search(camera.good_frames.begin(), camera.good_frames.end(), frame)) continue;
    const View* a = viewOf(reference, frame);
    const View* b = viewOf(camera, frame);
    std::map<int, cv::Point2f> in_b;
    for (std::size_t k = 0; k < b->ids.size(); ++k) in_b[b->ids[k]] = b->corners[k];
    std::vector<std::pair<int, std::pair<cv::Point2f, cv::Point2f>>> shared;
    for (std::size_t k = 0; k < a->ids.size(); ++k) {
      const auto found = in_b.find(a->ids[k]);
      if (found != in_b.end()) shared.push_back({a->ids[k], {a->corners[k], found->second}});
    }
    if (shared.size() < 15) continue;
    std::sort(shared.begin(), shared.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    objects.emplace_back();
    first.emplace_back();
    second.emplace_back();
    for (const auto& [id, points] : shared) {
      objects.back().push_back(board->chessboardCorners[static_cast<std::size_t>(id)]);
      first.back().push_back(points.first);
      second.back().push_back(points.second);
    }
  }
  cv::Mat R, T, E, F;
  const double rms = cv::stereoCalibrate(objects, first, second, reference.K, reference.D, camera.K, camera.D, size,
                                         R, T, E, F, cv::CALIB_FIX_INTRINSIC, kCriteria);
  cv::Mat camera_T_reference = cv::Mat::eye(4, 4, CV_64F);
  R.copyTo(camera_T_reference(cv::Rect(0, 0, 3, 3)));
  T.copyTo(camera_T_reference(cv::Rect(3, 0, 1, 3)));
  reference_T_camera = camera_T_reference.inv();
  return rms;
}

// The frame-0 check: plane thickness (the figures' other parts are computed and dropped).
double triangulateFrame(const std::vector<std::vector<cv::Mat>>& images, const std::vector<Camera>& cameras,
                        const std::vector<cv::Mat>& poses, const cv::Ptr<cv::aruco::CharucoBoard>& board) {
  std::map<int, std::vector<std::pair<std::size_t, cv::Point2f>>> seen;
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    View view{0, {}, {}};
    if (!detect(images[c][0], board, view, false)) continue;
    for (std::size_t k = 0; k < view.ids.size(); ++k) seen[view.ids[k]].push_back({c, view.corners[k]});
  }
  std::vector<cv::Mat> projections;
  for (std::size_t c = 0; c < cameras.size(); ++c) projections.push_back(cameras[c].K * cv::Mat(poses[c].inv()).rowRange(0, 3));
  cv::Mat points(0, 3, CV_64F);
  std::vector<std::vector<cv::Point3f>> objects(cameras.size());
  std::vector<std::vector<cv::Point2f>> pixels(cameras.size());
  for (const auto& [id, observations] : seen) {
    if (observations.size() < 2) continue;
    cv::Mat A(2 * static_cast<int>(observations.size()), 4, CV_64F);
    for (std::size_t k = 0; k < observations.size(); ++k) {
      const auto& [c, pixel] = observations[k];
      std::vector<cv::Point2d> source{pixel}, ideal;
      cv::undistortPoints(source, ideal, cameras[c].K, cameras[c].D, cv::noArray(), cameras[c].K);
      A.row(2 * static_cast<int>(k)) = ideal[0].x * projections[c].row(2) - projections[c].row(0);
      A.row(2 * static_cast<int>(k) + 1) = ideal[0].y * projections[c].row(2) - projections[c].row(1);
    }
    cv::Mat w, u, vt;
    cv::SVD::compute(A, w, u, vt);
    const cv::Mat X = vt.row(3);
    const cv::Mat point = (cv::Mat_<double>(1, 3) << X.at<double>(0) / X.at<double>(3), X.at<double>(1) / X.at<double>(3),
                           X.at<double>(2) / X.at<double>(3));
    points.push_back(point);
    for (const auto& [c, pixel] : observations) {
      objects[c].emplace_back(point.at<double>(0), point.at<double>(1), point.at<double>(2));
      pixels[c].push_back(pixel);
    }
  }
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    cv::Mat rvec, projected;
    const cv::Mat camera_T_reference = poses[c].inv();
    cv::Rodrigues(camera_T_reference(cv::Rect(0, 0, 3, 3)), rvec);
    if (!objects[c].empty()) {
      cv::projectPoints(objects[c], rvec, camera_T_reference(cv::Rect(3, 0, 1, 3)).clone(), cameras[c].K,
                        cameras[c].D, projected);
    }
  }
  cv::Mat mean, w;
  cv::reduce(points, mean, 0, cv::REDUCE_AVG);
  cv::SVD::compute(points - cv::repeat(mean, points.rows, 1), w);
  return w.at<double>(2);
}

// Mean pair RMS of a rig calibrated against its first camera.
double calibrateRig(const std::vector<std::vector<cv::Mat>>& images, const cv::Ptr<cv::aruco::CharucoBoard>& board,
                    int checks) {
  std::vector<Camera> cameras;
  for (const auto& camera_images : images) cameras.push_back(calibrateCamera(camera_images, board));
  std::vector<cv::Mat> poses{cv::Mat::eye(4, 4, CV_64F)};
  double sum = 0.0;
  for (std::size_t c = 1; c < cameras.size(); ++c) {
    poses.emplace_back();
    sum += stereo(cameras[0], cameras[c], board, images[0][0].size(), poses.back());
  }
  for (int k = 0; k < checks; ++k) triangulateFrame(images, cameras, poses, board);
  return sum / static_cast<double>(cameras.size() - 1);
}

double run(const std::vector<std::vector<cv::Mat>>& images, const cv::Ptr<cv::aruco::CharucoBoard>& board,
           bool subsets) {
  if (!subsets) return calibrateRig(images, board, 1);
  double last = 0.0;
  const int n = static_cast<int>(images.size());
  for (int size : {2, 3}) {
    for (int mask = 0; mask < (1 << n); ++mask) {
      if (__builtin_popcount(static_cast<unsigned>(mask)) != size) continue;
      std::vector<std::vector<cv::Mat>> chosen;
      for (int c = 0; c < n; ++c) {
        if (mask & (1 << c)) chosen.push_back(images[static_cast<std::size_t>(c)]);
      }
      last = calibrateRig(chosen, board, 2);
    }
  }
  return last;
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 10) {
    std::printf("rig_calibrate_baseline: driven by bench/rig_calibrate.py, which renders its images\n");
    return 0;
  }
  const std::filesystem::path directory = argv[1];
  const int repeats = std::atoi(argv[2]);
  const int camera_count = std::atoi(argv[3]);
  const bool subsets = std::string(argv[4]) == "subsets";
  const auto board = cv::aruco::CharucoBoard::create(std::atoi(argv[5]), std::atoi(argv[6]), std::stof(argv[7]),
                                                      std::stof(argv[8]),
                                                      cv::aruco::getPredefinedDictionary(std::atoi(argv[9])));
  std::vector<std::vector<cv::Mat>> images(static_cast<std::size_t>(camera_count));
  for (int c = 0; c < camera_count; ++c) {
    char name[16];
    std::snprintf(name, sizeof name, "cam_%02d", c);
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(directory / name)) {
      if (entry.path().extension() == ".png") paths.push_back(entry.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) images[static_cast<std::size_t>(c)].push_back(cv::imread(path.string()));
  }

  double rms = run(images, board, subsets);
  std::vector<double> wall, cpu;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = threadCpuSeconds();
    rms = run(images, board, subsets);
    cpu.push_back(threadCpuSeconds() - cpu_start);
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%.6f %.6f %.6f\n", median(wall), median(cpu), rms);
  return 0;
}
