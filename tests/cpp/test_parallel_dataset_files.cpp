// The dataset folders are decoded and encoded on OpenCV's threads. With one thread or two,
// the files written, the images loaded, their order, the log lines and the exception that
// escapes must be those of a serial loop.

#include <gtest/gtest.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "io_test_support.hpp"
#include "vemo/io/hand_eye_dataset.hpp"
#include "vemo/io/multi_camera_dataset.hpp"

namespace {

namespace fs = std::filesystem;
using vemo::testing::fileBytes;

class ParallelDatasetFiles : public vemo::testing::ScratchDirectory {};

class ThreadCount {
 public:
  explicit ThreadCount(int count) : previous_(cv::getNumThreads()) { cv::setNumThreads(count); }
  ~ThreadCount() { cv::setNumThreads(previous_); }

 private:
  int previous_;
};

// Noise images, each of another size, so that any mix-up of order shows.
std::vector<cv::Mat> noiseImages(int count) {
  cv::RNG rng(7);
  std::vector<cv::Mat> images;
  for (int i = 0; i < count; ++i) {
    cv::Mat image(40 + i, 60 + 2 * i, CV_8UC3);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    images.push_back(image);
  }
  return images;
}

bool samePixels(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size() || a[i].type() != b[i].type() || cv::norm(a[i], b[i], cv::NORM_INF) != 0.0) {
      return false;
    }
  }
  return true;
}

// The standard-error lines of `call`, run with the given number of threads.
template <class Call>
std::string linesWithThreads(int threads, const Call& call) {
  const ThreadCount thread_count(threads);
  std::ostringstream lines;
  std::streambuf* err = std::cerr.rdbuf(lines.rdbuf());
  try {
    call();
  } catch (...) {
    std::cerr.rdbuf(err);
    throw;
  }
  std::cerr.rdbuf(err);
  return lines.str();
}

}  // namespace

TEST_F(ParallelDatasetFiles, OneThreadOrTwoWriteAndReadTheSameFilesImagesAndLines) {
  const std::vector<cv::Mat> images = noiseImages(7);
  const std::vector<cv::Mat> poses(images.size(), cv::Mat::eye(4, 4, CV_64F));
  std::vector<cv::Mat> annotated;
  for (const cv::Mat& image : images) annotated.push_back(255 - image);

  std::string lines[2];
  std::vector<cv::Mat> loaded[2];
  std::vector<std::vector<cv::Mat>> rig_loaded[2];
  for (int threads : {1, 2}) {
    // The same folder name for both runs, so that the lines name the same paths.
    const fs::path hand_eye = dir_ / "hand_eye", rig = dir_ / "rig";
    if (threads == 2) fs::rename(dir_, dir_.string() + "_one_thread");
    const int run = threads - 1;
    lines[run] = linesWithThreads(threads, [&] {
      vemo::io::saveHandEyeDataset(hand_eye, images, poses, annotated);
      vemo::io::saveMultiCameraCapture(rig, {images[0], images[1]}, 0, {annotated[0], annotated[1]});
      vemo::io::saveMultiCameraCapture(rig, {images[2], images[3]}, 1, {});
      loaded[run] = vemo::io::loadHandEyeDataset(hand_eye, "png").first;
      rig_loaded[run] = vemo::io::loadMultiCameraDataset(rig, 2);
    });
  }
  const fs::path one_thread = dir_.string() + "_one_thread";
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(one_thread)) {
    if (!entry.is_regular_file()) continue;
    ++files;
    EXPECT_EQ(fileBytes(entry.path()), fileBytes(dir_ / fs::relative(entry.path(), one_thread))) << entry.path();
  }
  fs::remove_all(one_thread);
  EXPECT_EQ(files, 1u + 2 * images.size() + 2 + 2 + 2);  // poses, images and copies; two captures
  EXPECT_EQ(lines[0], lines[1]);
  for (int run : {0, 1}) {
    EXPECT_TRUE(samePixels(loaded[run], images));
    ASSERT_EQ(rig_loaded[run].size(), 2u);
    EXPECT_TRUE(samePixels(rig_loaded[run][0], {images[0], images[2]}));
    EXPECT_TRUE(samePixels(rig_loaded[run][1], {images[1], images[3]}));
  }
  // The files written decode to the images given, under their own names.
  for (std::size_t i = 0; i < images.size(); ++i) {
    const fs::path copy = dir_ / "hand_eye" / ("image_0" + std::to_string(i) + "_annotated.png");
    EXPECT_TRUE(samePixels({cv::imread(copy.string())}, {annotated[i]})) << copy;
  }
}

TEST_F(ParallelDatasetFiles, TheLowestUnreadableImageIsTheOneReported) {
  const std::vector<cv::Mat> images = noiseImages(6);
  vemo::io::saveHandEyeDataset(dir_, images, std::vector<cv::Mat>(images.size(), cv::Mat::eye(4, 4, CV_64F)), {});
  for (const char* name : {"image_04.png", "image_02.png"}) vemo::testing::writeBytes(dir_ / name, "not a png");
  for (int threads : {1, 2}) {
    const ThreadCount thread_count(threads);
    EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, vemo::io::loadHandEyeDataset(dir_, "png")),
              "io: cv::imread returned an empty image for " + (dir_ / "image_02.png").string());
  }
}
