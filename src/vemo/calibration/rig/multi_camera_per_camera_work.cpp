#include "vemo/calibration/rig/multi_camera_per_camera_work.hpp"

#include <algorithm>
#include <exception>
#include <map>
#include <optional>
#include <utility>
#include <variant>

#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/core/logging.hpp"

namespace vemo::calibration {

namespace {

// Work done once: what it gave or threw, and the lines it logged meanwhile.
template <class T>
struct Done {
  std::optional<T> value;
  std::exception_ptr failure;
  std::vector<logging::LogLine> lines;
};

// The value kept under key, doing the work the first time (its lines logged as it runs)
// and logging its lines again every later time.
template <class Key, class T, class Work>
const T& once(std::map<Key, Done<T>>& kept, const Key& key, const Work& work) {
  const auto [entry, first_time] = kept.try_emplace(key);
  Done<T>& done = entry->second;
  if (first_time) {
    const logging::Transcript transcript;
    try {
      done.value.emplace(work());
    } catch (...) {
      done.failure = std::current_exception();
    }
    done.lines = transcript.lines();
  } else {
    logging::replay(done.lines);
  }
  if (done.failure) std::rethrow_exception(done.failure);
  return *done.value;
}

std::vector<int> allCameras(std::size_t count) {
  std::vector<int> cameras(count);
  for (std::size_t c = 0; c < count; ++c) cameras[c] = static_cast<int>(c);
  return cameras;
}

}  // namespace

struct PerCameraWork::Kept {
  Target target;
  IntrinsicOptions options;
  std::map<int, Done<CameraIntrinsics>> intrinsics;                        // by camera
  std::map<int, Done<TargetDetections>> detections;                        // by camera, without intrinsics
  std::map<std::pair<int, int>, Done<geometry::CornerDetection>> corners;  // by (camera, frame)
};

PerCameraWork::PerCameraWork(const std::vector<std::vector<cv::Mat>>& image_lists, Target target,
                             IntrinsicOptions options)
    : PerCameraWork(image_lists, allCameras(image_lists.size()),
                    std::make_shared<Kept>(Kept{std::move(target), std::move(options), {}, {}, {}})) {}

PerCameraWork::PerCameraWork(std::vector<std::vector<cv::Mat>> image_lists, std::vector<int> cameras,
                             std::shared_ptr<Kept> kept)
    : image_lists_(std::move(image_lists)), cameras_(std::move(cameras)), kept_(std::move(kept)) {}

PerCameraWork PerCameraWork::subset(const std::vector<int>& cameras) const {
  std::vector<std::vector<cv::Mat>> lists;
  std::vector<int> indices;
  for (int camera : cameras) {
    lists.push_back(image_lists_.at(static_cast<std::size_t>(camera)));
    indices.push_back(cameras_.at(static_cast<std::size_t>(camera)));
  }
  return PerCameraWork(std::move(lists), std::move(indices), kept_);
}

const CameraIntrinsics& PerCameraWork::intrinsics(std::size_t position) {
  const std::vector<cv::Mat>& images = image_lists_.at(position);
  return once(kept_->intrinsics, cameras_.at(position), [&] {
    IntrinsicCalibrator calibrator(kept_->target, kept_->options);
    CameraIntrinsics done;
    done.result = calibrator.calibrate(images);
    done.detections = calibrator.detections();
    return done;
  });
}

const TargetDetections* PerCameraWork::knownDetections(std::size_t position) const {
  const int camera = cameras_.at(position);
  const auto calibrated = kept_->intrinsics.find(camera);
  if (calibrated != kept_->intrinsics.end() && calibrated->second.value) return &calibrated->second.value->detections;
  const auto found = kept_->detections.find(camera);
  if (found != kept_->detections.end() && found->second.value) return &*found->second.value;
  return nullptr;
}

const TargetDetections& PerCameraWork::detections(std::size_t position) {
  if (const TargetDetections* known = knownDetections(position)) return *known;
  const std::vector<cv::Mat>& images = image_lists_.at(position);
  return once(kept_->detections, cameras_.at(position),
              [&] { return IntrinsicCalibrator(kept_->target, kept_->options).findCorners(images); });
}

geometry::CornerDetection PerCameraWork::charucoCorners(std::size_t position, int frame) {
  if (const TargetDetections* known = knownDetections(position)) {
    const auto& found = known->successful_indices;
    const auto view = std::lower_bound(found.begin(), found.end(), frame);
    if (view == found.end() || *view != frame) return {};
    const auto index = static_cast<std::size_t>(view - found.begin());
    geometry::CornerDetection detection;
    known->image_points[index].reshape(1).convertTo(detection.corners, CV_64F);
    detection.ids = known->point_ids[index].clone();
    return detection;
  }
  const cv::Mat& image = image_lists_.at(position).at(static_cast<std::size_t>(frame));
  return once(kept_->corners, std::make_pair(cameras_.at(position), frame), [&] {
    return geometry::detectCharucoCorners(image, std::get<CharucoTarget>(kept_->target));
  });
}

}  // namespace vemo::calibration
