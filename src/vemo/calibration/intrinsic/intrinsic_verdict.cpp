#include "vemo/calibration/intrinsic/intrinsic_verdict.hpp"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <string>

#include "vemo/core/logging.hpp"
#include "vemo/targets/charuco_layout_check.hpp"

namespace vemo::calibration {

namespace {

bool sameCorners(const cv::Mat& a, const cv::Mat& b) {
  if (a.total() != b.total() || a.total() == 0) return false;
  cv::Mat a64, b64;
  a.reshape(1, static_cast<int>(a.total())).convertTo(a64, CV_64F);
  b.reshape(1, static_cast<int>(b.total())).convertTo(b64, CV_64F);
  return cv::norm(a64, b64, cv::NORM_INF) <= kRepeatedViewTolerancePx;
}

std::string imageList(const std::vector<int>& images) {
  std::string text;
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (i > 0) text += i + 1 == images.size() ? " and " : ", ";
    text += std::to_string(images[i]);
  }
  return text;
}

}  // namespace

double intrinsicRmsPx(const IntrinsicResult& result) {
  double sum = 0.0, count = 0.0;
  for (std::size_t view = 0; view < result.per_view_errors.size() && view < result.image_points.size(); ++view) {
    const double points = static_cast<double>(result.image_points[view].total());
    sum += result.per_view_errors[view] * result.per_view_errors[view] * points;
    count += points;
  }
  return count > 0.0 ? std::sqrt(sum / count) : std::numeric_limits<double>::quiet_NaN();
}

std::vector<std::size_t> firstOfSameView(const std::vector<cv::Mat>& image_points) {
  std::vector<std::size_t> first(image_points.size());
  for (std::size_t view = 0; view < image_points.size(); ++view) {
    first[view] = view;
    for (std::size_t earlier = 0; earlier < view; ++earlier) {
      if (first[earlier] == earlier && sameCorners(image_points[earlier], image_points[view])) {
        first[view] = earlier;
        break;
      }
    }
  }
  return first;
}

void warnOfChArUcoLayout(const Target& target, const std::vector<cv::Mat>& images) {
  const auto* charuco = std::get_if<CharucoTarget>(&target);
  if (charuco == nullptr || images.empty()) return;
  const CharucoLayoutCheck layout = checkCharucoLayout(*charuco, images);
  if (!layout.fits) logging::log(logging::Level::Warning, "[IntrinsicCalibrator] " + layout.warning);
}

quality::Verdict judgeIntrinsics(const IntrinsicResult& result, const Target& target,
                                 const TargetDetections& detections) {
  quality::Verdict verdict;
  if (const auto* charuco = std::get_if<CharucoTarget>(&target); charuco && !detections.markers.empty()) {
    const CharucoLayoutCheck layout = checkCharucoLayout(*charuco, detections.markers);
    if (!layout.fits) {
      logging::log(logging::Level::Warning, "[IntrinsicCalibrator] " + layout.warning);
      quality::distrust(verdict, layout.warning);
    }
  }
  const double rms = intrinsicRmsPx(result);
  if (rms > kMaximumIntrinsicRmsPx) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the corners lie %.2f px (RMS) from the calibrated camera; detection noise explains under %.0f px: "
                  "is the target's layout right?",
                  rms, kMaximumIntrinsicRmsPx);
    quality::distrust(verdict, text);
  }

  const std::vector<std::size_t> first = firstOfSameView(result.image_points);
  std::map<std::size_t, std::vector<int>> repeats;  // by the view repeated, input image indices
  std::size_t distinct = 0;
  for (std::size_t view = 0; view < first.size(); ++view) {
    if (first[view] == view) {
      ++distinct;
    } else {
      repeats[first[view]].push_back(result.successful_indices.at(view));
    }
  }
  for (const auto& [view, images] : repeats) {
    logging::log(logging::Level::Warning, "[IntrinsicCalibrator] image" + std::string(images.size() > 1 ? "s " : " ") +
                                              imageList(images) + (images.size() > 1 ? " repeat" : " repeats") +
                                              " image " + std::to_string(result.successful_indices.at(view)) +
                                              ": every corner within 0.5 px of it");
  }
  if (distinct < kMinimumDistinctViews) {
    quality::distrust(verdict, "only " + std::to_string(distinct) + " distinct view" + (distinct == 1 ? "" : "s") +
                                   " of the target (the others repeat them): a calibration needs at least " +
                                   std::to_string(kMinimumDistinctViews));
  }
  return verdict;
}

}  // namespace vemo::calibration
