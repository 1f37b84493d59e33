#pragma once

// The part of a rig run that depends on one camera's frames alone: its intrinsic
// calibration, its detections and its ChArUco corners in a frame. Each is done once per
// camera and kept, so
// that the rigs calibrateSubsets builds over every combination of cameras share it instead
// of repeating it per combination. A reuse logs again the lines the work logged and
// rethrows what it threw: every run reads exactly as if it had done the work itself.

#include <opencv2/core.hpp>

#include <cstddef>
#include <memory>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/intrinsic_result.hpp"
#include "vemo/calibration/intrinsic/target_detections.hpp"
#include "vemo/geometry/corner_observations.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::calibration {

// One camera's intrinsic calibration and the detections it solved from.
struct CameraIntrinsics {
  IntrinsicResult result;
  TargetDetections detections;
};

class PerCameraWork {
 public:
  // image_lists[c]: the frames of camera c. The intrinsic calibrations and detections run
  // with target and options.
  PerCameraWork(const std::vector<std::vector<cv::Mat>>& image_lists, Target target, IntrinsicOptions options);

  // The cameras at the given indices of this view, in that order, sharing its kept work.
  PerCameraWork subset(const std::vector<int>& cameras) const;

  // The frames of each camera of this view, by position.
  const std::vector<std::vector<cv::Mat>>& imageLists() const { return image_lists_; }

  // IntrinsicCalibrator::calibrate on the frames of the camera at this position.
  const CameraIntrinsics& intrinsics(std::size_t position);

  // The detections of the camera at this position: those of its intrinsic calibration when
  // intrinsics() ran, else IntrinsicCalibrator::findCorners on its frames.
  const TargetDetections& detections(std::size_t position);

  // The ChArUco corners of one frame of the camera at this position (target: a
  // CharucoTarget): read from the camera's detections when the work has them (the
  // detection is the same, whatever the intrinsic options), else detected in that frame
  // alone by geometry::detectCharucoCorners.
  geometry::CornerDetection charucoCorners(std::size_t position, int frame);

 private:
  struct Kept;
  // The camera's detections when the work already has them, else nullptr.
  const TargetDetections* knownDetections(std::size_t position) const;
  PerCameraWork(std::vector<std::vector<cv::Mat>> image_lists, std::vector<int> cameras, std::shared_ptr<Kept> kept);

  std::vector<std::vector<cv::Mat>> image_lists_;  // headers of the caller's images
  std::vector<int> cameras_;                        // camera index of each position in the full list
  std::shared_ptr<Kept> kept_;
};

}  // namespace vemo::calibration
