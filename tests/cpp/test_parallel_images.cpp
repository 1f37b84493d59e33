// The work over images runs on OpenCV's threads. With one thread or two, the results, their
// order, the log lines and the exception that escapes must be those of a serial loop.

#include <gtest/gtest.h>

#include <opencv2/core/utility.hpp>

#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "rendered_views.hpp"
#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/synthetic/renderer.hpp"

namespace views = vemo::test_views;
using vemo::calibration::EyeInHandCalibrator;
using vemo::calibration::IntrinsicCalibrator;
using vemo::calibration::IntrinsicOptions;

namespace {

class ThreadCount {
 public:
  explicit ThreadCount(int count) : previous_(cv::getNumThreads()) { cv::setNumThreads(count); }
  ~ThreadCount() { cv::setNumThreads(previous_); }

 private:
  int previous_;
};

// What `call` writes to standard error and standard output.
template <class Call>
std::string linesOf(const Call& call) {
  std::ostringstream lines;
  std::streambuf* err = std::cerr.rdbuf(lines.rdbuf());
  std::streambuf* out = std::cout.rdbuf(lines.rdbuf());
  try {
    call();
  } catch (...) {
    std::cerr.rdbuf(err);
    std::cout.rdbuf(out);
    throw;
  }
  std::cerr.rdbuf(err);
  std::cout.rdbuf(out);
  return lines.str();
}

// Five views of the target with an empty grey frame (no target: a warning) at index 2.
std::vector<cv::Mat> imagesOf(const vemo::Target& target) {
  const vemo::synthetic::Renderer renderer(target, views::testCameraMatrix(), views::testDistCoeffs(),
                                           views::testImageSize());
  std::vector<cv::Mat> images;
  for (const cv::Mat& camera_T_target : views::testViews(target, 0.6)) {
    images.push_back(renderer.render(camera_T_target));
  }
  images.insert(images.begin() + 2, cv::Mat(views::testImageSize(), CV_8UC3, cv::Scalar::all(128)));
  return images;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
  return a.size == b.size && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

bool same(const std::vector<cv::Mat>& a, const std::vector<cv::Mat>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same(a[i], b[i])) return false;
  }
  return true;
}

struct Outputs {
  std::string lines;
  vemo::calibration::TargetDetections detections;
  vemo::calibration::IntrinsicResult intrinsics;
  EyeInHandCalibrator::TargetPoses poses;
  EyeInHandCalibrator::AlignedTargetPoses aligned;
};

Outputs runWithThreads(const vemo::Target& target, const std::vector<cv::Mat>& images, int threads) {
  const ThreadCount thread_count(threads);
  Outputs outputs;
  outputs.lines = linesOf([&] {
    IntrinsicCalibrator intrinsic(target, IntrinsicOptions());
    outputs.intrinsics = intrinsic.calibrate(images);
    outputs.detections = intrinsic.detections();
    const EyeInHandCalibrator eye_in_hand(target, IntrinsicOptions());
    const cv::Mat& camera_matrix = outputs.intrinsics.intrinsic_matrix;
    const cv::Mat& distortion = outputs.intrinsics.distortion_coefficients;
    outputs.poses = eye_in_hand.computeTargetPoses(images, outputs.intrinsics.image_points, camera_matrix, distortion);
    if (std::holds_alternative<vemo::CharucoTarget>(target)) {
      const std::vector<cv::Mat> robot_poses(images.size(), cv::Mat::eye(4, 4, CV_64F));
      outputs.aligned = eye_in_hand.computeCameraTTargetList(images, robot_poses, camera_matrix, distortion);
    }
  });
  return outputs;
}

}  // namespace

TEST(ParallelImages, OneThreadOrTwoGiveTheSameResultsAndLogLines) {
  const std::vector<vemo::Target> targets{
      vemo::ChessboardTarget{cv::Size(9, 6), 0.03},
      vemo::CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100"),
      vemo::ArucoTarget(cv::Size(5, 4), 0.04, 0.01, "DICT_4X4_50"),
  };
  for (const vemo::Target& target : targets) {
    const std::vector<cv::Mat> images = imagesOf(target);
    const Outputs serial = runWithThreads(target, images, 1);
    const Outputs parallel = runWithThreads(target, images, 2);
    SCOPED_TRACE(serial.lines);

    ASSERT_TRUE(serial.intrinsics.ok);
    EXPECT_NE(serial.lines.find("in image 2\n"), std::string::npos);
    EXPECT_EQ(parallel.lines, serial.lines);
    EXPECT_EQ(parallel.detections.successful_indices, (std::vector<int>{0, 1, 3, 4, 5}));
    EXPECT_EQ(parallel.detections.successful_indices, serial.detections.successful_indices);
    EXPECT_TRUE(same(parallel.detections.image_points, serial.detections.image_points));
    EXPECT_TRUE(same(parallel.detections.object_points, serial.detections.object_points));
    EXPECT_TRUE(same(parallel.detections.point_ids, serial.detections.point_ids));
    EXPECT_TRUE(same(parallel.detections.annotated_images, serial.detections.annotated_images));
    EXPECT_TRUE(same(parallel.intrinsics.intrinsic_matrix, serial.intrinsics.intrinsic_matrix));
    EXPECT_TRUE(same(parallel.intrinsics.distortion_coefficients, serial.intrinsics.distortion_coefficients));
    EXPECT_EQ(parallel.intrinsics.per_view_errors, serial.intrinsics.per_view_errors);
    EXPECT_TRUE(same(parallel.intrinsics.std_deviations_intrinsics, serial.intrinsics.std_deviations_intrinsics));
    EXPECT_FALSE(serial.poses.camera_T_target_list.empty());
    EXPECT_EQ(parallel.poses.image_indices, serial.poses.image_indices);
    EXPECT_TRUE(same(parallel.poses.camera_T_target_list, serial.poses.camera_T_target_list));
    EXPECT_TRUE(same(parallel.aligned.camera_T_target_list, serial.aligned.camera_T_target_list));
    EXPECT_TRUE(same(parallel.aligned.valid_image_list, serial.aligned.valid_image_list));
  }
}

// Image 1 has one channel and image 3 is empty: both are refused, each with its index. The
// serial loop warned about image 0 and then raised image 1's error.
TEST(ParallelImages, TheLowestFailingImageRaisesAfterTheLinesOfTheImagesBeforeIt) {
  const vemo::ChessboardTarget board{cv::Size(9, 6), 0.03};
  std::vector<cv::Mat> images = imagesOf(board);
  images[0] = images[2].clone();  // no board
  images[1] = cv::Mat(views::testImageSize(), CV_8UC1, cv::Scalar(0));
  images[3] = cv::Mat();

  const ThreadCount two(2);
  std::string raised;
  const std::string lines = linesOf([&] {
    try {
      IntrinsicCalibrator(board, IntrinsicOptions()).findCorners(images);
    } catch (const std::runtime_error& error) {
      raised = error.what();
    }
  });
  EXPECT_EQ(raised, "IntrinsicCalibrator: image 1 must be an 8-bit BGR image (3 or 4 channels), got 8-bit unsigned "
                    "with 1 channel(s)");
  EXPECT_EQ(lines, "[vemo][WARNING] [IntrinsicCalibrator] Chessboard not found in image 0\n");
}
