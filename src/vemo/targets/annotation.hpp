#pragma once

// Copies of images with a detection drawn on them, drawn when first asked for. Until then
// an annotation holds a header of the image (no pixels are copied) and what to draw, so
// that a batch of detections whose drawings nobody looks at does not double the memory of
// its images, nor spend the time to copy them.

#include <opencv2/core.hpp>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vemo {

class Annotation {
 public:
  Annotation() = default;  // no image: image() is empty
  // draw gets a deep copy of image to draw on.
  Annotation(cv::Mat image, std::function<void(cv::Mat&)> draw);

  // The annotated copy, drawn at the first call (on whichever thread makes it; copies of an
  // annotation share the drawing). Its pixels are those of the image at that time: the
  // library never writes into the images it detects in.
  const cv::Mat& image() const;

 private:
  struct Drawing {
    cv::Mat source;
    std::function<void(cv::Mat&)> draw;
    std::once_flag once;
    cv::Mat drawn;
  };
  std::shared_ptr<Drawing> drawing_;
};

// The annotated images of a batch, one per accepted view, read like a vector of images.
class AnnotatedImages {
 public:
  void push_back(Annotation annotation) { annotations_.push_back(std::move(annotation)); }
  std::size_t size() const { return annotations_.size(); }
  bool empty() const { return annotations_.empty(); }
  const cv::Mat& operator[](std::size_t index) const { return annotations_.at(index).image(); }
  // The annotation itself, not drawn yet if nobody asked for it.
  const Annotation& annotation(std::size_t index) const { return annotations_.at(index); }
  // All of them, drawn on OpenCV's threads.
  operator std::vector<cv::Mat>() const;

 private:
  std::vector<Annotation> annotations_;
};

}  // namespace vemo
