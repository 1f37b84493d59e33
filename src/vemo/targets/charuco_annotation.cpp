// CharucoTarget::detectAndAnnotate, apart from the target records: it runs the detection,
// which is built on the records, so that the records never include what sits above them.

#include <utility>

#include "vemo/targets/target_detection.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo {

std::pair<cv::Mat, int> CharucoTarget::detectAndAnnotate(const cv::Mat& image) const {
  requireColourImage(image, "CharucoTarget::detectAndAnnotate", 0);
  DetectionSettings settings;
  settings.minimum_count = 0;  // the caller judges the count; the drawing is wanted anyway
  settings.annotate = true;
  TargetView view = *TargetDetector(*this, settings).detect(image);
  return {view.annotation.image(), view.count};
}

}  // namespace vemo
