#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/calibration/rig/multi_camera_calibrator.hpp"
#include "vemo/core/report_output.hpp"
#include "vemo/tf/tf.hpp"

using vemo::calibration::MultiCameraCalibrator;
using vemo::calibration::TargetDetections;

namespace {

const vemo::CharucoTarget kCharuco(8, 6, 0.03, 0.022, "DICT_4X4_50");  // 7 x 5 = 35 corners

// A detection of the given ChArUco corner ids in one frame: pixel (10 * id, id + 0.5).
void addCharucoFrame(TargetDetections& detections, int frame, const std::vector<int>& ids) {
  cv::Mat points(static_cast<int>(ids.size()), 1, CV_32FC2);
  for (int k = 0; k < points.rows; ++k) points.at<cv::Vec2f>(k) = cv::Vec2f(10.0f * ids[k], ids[k] + 0.5f);
  detections.successful_indices.push_back(frame);
  detections.image_points.push_back(points);
  detections.object_points.push_back(cv::Mat(static_cast<int>(ids.size()), 3, CV_32F, cv::Scalar(0)));
  detections.point_ids.push_back(cv::Mat(ids, true));
}

std::vector<int> idRange(int first, int count) {
  std::vector<int> ids(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) ids[static_cast<std::size_t>(k)] = first + k;
  return ids;
}

std::string capturedErr(const std::function<void()>& action) {
  std::ostringstream err;
  std::streambuf* old = std::cerr.rdbuf(err.rdbuf());
  action();
  std::cerr.rdbuf(old);
  return err.str();
}

}  // namespace

TEST(MultiCameraCalibrator, PairsCharucoFramesByCornerIdWhenTheyShareAtLeast15) {
  const MultiCameraCalibrator calibrator(kCharuco, 2);
  std::vector<TargetDetections> detections(2);
  // Frame 0: 16 ids in the reference, 15 of them (in another order, with extra ids) in
  // camera 1. Frame 2: only 14 shared.
  std::vector<int> camera_ids = idRange(1, 15);
  std::reverse(camera_ids.begin(), camera_ids.end());
  camera_ids.insert(camera_ids.begin(), {30, 31});
  addCharucoFrame(detections[0], 0, idRange(0, 16));
  addCharucoFrame(detections[1], 0, camera_ids);
  addCharucoFrame(detections[0], 2, idRange(10, 20));
  addCharucoFrame(detections[1], 2, idRange(16, 14));

  MultiCameraCalibrator::PairPoints pair;
  const std::string log = capturedErr([&] { pair = calibrator.gatherPairPoints(detections, 0, 1, {0, 2}); });
  EXPECT_EQ(log, "[vemo][WARNING] [MultiCameraCalibrator] Frame 2: only 14 corners shared between ref (cam 0) and "
                 "cam 1; dropping from pair.\n");
  ASSERT_EQ(pair.object_points.size(), 1u);
  ASSERT_EQ(pair.object_points[0].rows, 15);
  const std::vector<cv::Point3f> board = kCharuco.buildBoard().getChessboardCorners();
  for (int k = 0; k < 15; ++k) {  // ascending ids 1 .. 15, the same corner in all three
    const int id = k + 1;
    EXPECT_EQ(pair.reference_image_points[0].at<cv::Vec2f>(k), cv::Vec2f(10.0f * id, id + 0.5f));
    EXPECT_EQ(pair.camera_image_points[0].at<cv::Vec2f>(k), cv::Vec2f(10.0f * id, id + 0.5f));
    EXPECT_EQ(pair.object_points[0].at<float>(k, 0), board[static_cast<std::size_t>(id)].x);
    EXPECT_EQ(pair.object_points[0].at<float>(k, 1), board[static_cast<std::size_t>(id)].y);
  }

  EXPECT_TRUE(calibrator.gatherPairPoints(detections, 0, 1, {}).object_points.empty());
  EXPECT_THROW(calibrator.gatherPairPoints(detections, 0, 1, {1}), std::runtime_error);
}

TEST(MultiCameraCalibrator, PairsOtherTargetsByPositionWhenTheCountsAgree) {
  const MultiCameraCalibrator calibrator(vemo::ChessboardTarget{cv::Size(4, 3), 0.02}, 3, 2);
  std::vector<TargetDetections> detections(3);
  for (int camera : {0, 2}) {
    for (int frame : {3, 4}) {
      const int rows = camera == 0 && frame == 4 ? 11 : 12;
      detections[static_cast<std::size_t>(camera)].successful_indices.push_back(frame);
      detections[static_cast<std::size_t>(camera)].image_points.push_back(
          cv::Mat(rows, 1, CV_32FC2, cv::Scalar(camera, frame)));
      detections[static_cast<std::size_t>(camera)].object_points.push_back(cv::Mat(rows, 3, CV_32F, cv::Scalar(camera)));
    }
  }
  MultiCameraCalibrator::PairPoints pair;
  const std::string log = capturedErr([&] { pair = calibrator.gatherPairPoints(detections, 2, 0, {3, 4}); });
  EXPECT_EQ(log, "[vemo][WARNING] [MultiCameraCalibrator] Frame 4: ref has 12 pts, cam 0 has 11 pts; dropping from "
                 "pair.\n");
  ASSERT_EQ(pair.object_points.size(), 1u);
  // The object points are the reference camera's (camera 2), the image points shared headers.
  EXPECT_EQ(pair.object_points[0].at<float>(0, 0), 2.0f);
  EXPECT_EQ(pair.reference_image_points[0].data, detections[2].image_points[0].data);
  EXPECT_EQ(pair.camera_image_points[0].data, detections[0].image_points[0].data);
}

TEST(MultiCameraCalibrator, ReportsGoThroughTheReplaceableSink) {
  std::string written;
  vemo::report::setSink([&](const std::string& text) { written += text; });
  const MultiCameraCalibrator calibrator(kCharuco, 2);
  calibrator.printResults();
  vemo::report::setSink({});
  EXPECT_EQ(written, calibrator.formatResults());
}

// OpenCV's sample stereo pair (Debian package opencv-doc): the rig's result must be what
// cv::stereoCalibrate gives for the same corners, frames and intrinsics.
TEST(MultiCameraCalibrator, RealStereoPairMatchesADirectStereoCalibrate) {
  const std::filesystem::path data = "/usr/share/doc/opencv-doc/examples/data";
  if (!std::filesystem::exists(data / "left01.jpg")) GTEST_SKIP() << "opencv-doc is not installed: no left01.jpg";
  std::vector<std::vector<cv::Mat>> images(2);
  for (int k = 1; k <= 14; ++k) {
    if (k == 10) continue;  // the sample has no pair 10
    const std::string number = (k < 10 ? "0" : "") + std::to_string(k) + ".jpg";
    images[0].push_back(cv::imread((data / ("left" + number)).string()));
    images[1].push_back(cv::imread((data / ("right" + number)).string()));
  }
  const vemo::ChessboardTarget board{cv::Size(9, 6), 0.025};
  const auto options = MultiCameraCalibrator::defaultOptions();

  for (int flags : {vemo::calibration::kCalibFixIntrinsic, vemo::calibration::kCalibUseIntrinsicGuess}) {
    MultiCameraCalibrator calibrator(board, 2, 0, options, flags);
    const auto result = calibrator.calibrate(images);
    ASSERT_TRUE(result.ok);

    // The same work done directly: each camera's intrinsics, the frames both found whose
    // per-view error passed, then one stereoCalibrate.
    std::vector<vemo::calibration::IntrinsicResult> intrinsics;
    for (const auto& camera_images : images) {
      intrinsics.push_back(vemo::calibration::IntrinsicCalibrator(board, options).calibrate(camera_images));
    }
    std::vector<cv::Mat> objects, left_points, right_points;
    const cv::Mat object_points = board.objectPoints();
    for (std::size_t l = 0; l < intrinsics[0].successful_indices.size(); ++l) {
      for (std::size_t r = 0; r < intrinsics[1].successful_indices.size(); ++r) {
        const auto good = [&](int camera, std::size_t view) {
          return intrinsics[camera].per_view_errors[view] <= options.per_view_error_threshold;
        };
        if (intrinsics[0].successful_indices[l] != intrinsics[1].successful_indices[r] || !good(0, l) || !good(1, r)) {
          continue;
        }
        objects.push_back(object_points);
        left_points.push_back(intrinsics[0].image_points[l]);
        right_points.push_back(intrinsics[1].image_points[r]);
      }
    }
    cv::Mat left_matrix = intrinsics[0].intrinsic_matrix.clone(), left_distortion = intrinsics[0].distortion_coefficients.clone();
    cv::Mat right_matrix = intrinsics[1].intrinsic_matrix.clone(), right_distortion = intrinsics[1].distortion_coefficients.clone();
    cv::Mat rotation, translation, essential, fundamental;
    const double rms = cv::stereoCalibrate(objects, left_points, right_points, left_matrix, left_distortion,
                                           right_matrix, right_distortion, images[0][0].size(), rotation, translation,
                                           essential, fundamental, flags, options.criteria);
    const cv::Mat right_T_left = vemo::tf::composeTransformationMatrix(rotation, translation);
    EXPECT_GE(objects.size(), 10u);
    EXPECT_NEAR(result.pair_reprojection_errors[1], rms, 1e-12);
    EXPECT_LT(cv::norm(result.reference_T_camera_list[1], right_T_left.inv(), cv::NORM_INF), 1e-12);
    EXPECT_LT(cv::norm(result.intrinsic_matrices[1], right_matrix, cv::NORM_INF), 1e-9);
    EXPECT_LT(cv::norm(result.distortion_coefficients[0], left_distortion.reshape(1, 1), cv::NORM_INF), 1e-12);
    std::cout << "sample stereo pair, flags " << flags << ": RMS " << rms << " px over " << objects.size()
              << " frames, baseline " << cv::norm(translation) * 1000 << " mm\n";
  }
}
