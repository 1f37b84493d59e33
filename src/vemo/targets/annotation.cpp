#include "vemo/targets/annotation.hpp"

#include <utility>

#include "vemo/core/parallel_map.hpp"

namespace vemo {

Annotation::Annotation(cv::Mat image, std::function<void(cv::Mat&)> draw)
    : drawing_(std::make_shared<Drawing>()) {
  drawing_->source = std::move(image);
  drawing_->draw = std::move(draw);
}

const cv::Mat& Annotation::image() const {
  static const cv::Mat none;
  if (!drawing_) return none;
  std::call_once(drawing_->once, [&] {
    drawing_->drawn = drawing_->source.clone();
    drawing_->draw(drawing_->drawn);
    // The source may be the only reference left to the image's pixels.
    drawing_->source.release();
    drawing_->draw = nullptr;
  });
  return drawing_->drawn;
}

AnnotatedImages::operator std::vector<cv::Mat>() const {
  auto drawn = parallelMap(annotations_.size(), [&](std::size_t i) { return annotations_[i].image(); });
  std::vector<cv::Mat> images;
  images.reserve(drawn.size());
  for (auto& image : drawn) images.push_back(image.take());
  return images;
}

}  // namespace vemo
