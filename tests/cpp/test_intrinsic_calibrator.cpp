#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <stdexcept>
#include <string>
#include <vector>

#include "vemo/calibration/intrinsic/intrinsic_calibrator.hpp"
#include "vemo/synthetic/poses.hpp"
#include "vemo/synthetic/renderer.hpp"

using vemo::calibration::IntrinsicCalibrator;
using vemo::calibration::IntrinsicOptions;

namespace {

const vemo::ChessboardTarget kBoard{cv::Size(7, 5), 0.03};

cv::Mat trueCameraMatrix() { return (cv::Mat_<double>(3, 3) << 610, 0, 318, 0, 605, 243, 0, 0, 1); }

// Eight tilted views of the chessboard through a mildly distorted 640x480 camera.
std::vector<cv::Mat> renderedViews() {
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.1, 0.04, 0.0, 0.0, 0.0);
  const vemo::synthetic::Renderer renderer(kBoard, trueCameraMatrix(), distortion, cv::Size(640, 480));
  std::vector<cv::Mat> views;
  for (int k = 0; k < 8; ++k) {
    const double angle = k * CV_PI / 4;
    const cv::Point3d position(0.09 + 0.16 * std::cos(angle), 0.06 + 0.12 * std::sin(angle), -0.42);
    views.push_back(renderer.render(vemo::synthetic::cameraTTargetLookingAt(kBoard, position, 10.0 * k)));
  }
  return views;
}

// Detections of kBoard in `count` views through the true camera, with 0.2 px of noise; the
// images only carry the size.
vemo::calibration::TargetDetections projectedDetections(int count, std::vector<cv::Mat>& images) {
  const cv::Mat corners = kBoard.objectPoints();
  const cv::Mat distortion = (cv::Mat_<double>(1, 5) << -0.1, 0.04, 0.0, 0.0, 0.0);
  cv::RNG random(11);
  vemo::calibration::TargetDetections detections;
  images.assign(static_cast<std::size_t>(count), cv::Mat(480, 640, CV_8UC3, cv::Scalar::all(255)));
  for (int k = 0; k < count; ++k) {
    const cv::Vec3d rotation(random.uniform(-0.5, 0.5), random.uniform(-0.5, 0.5), random.uniform(-0.5, 0.5));
    const cv::Vec3d translation(random.uniform(-0.15, -0.02), random.uniform(-0.1, 0.0), random.uniform(0.35, 0.5));
    cv::Mat projected, noise, observed;
    cv::projectPoints(corners, rotation, translation, trueCameraMatrix(), distortion, projected);
    noise.create(projected.size(), projected.type());
    random.fill(noise, cv::RNG::NORMAL, 0.0, 0.2);
    cv::Mat(projected + noise).convertTo(observed, CV_32FC2);
    detections.successful_indices.push_back(k);
    detections.image_points.push_back(observed);
    detections.object_points.push_back(corners.clone());
  }
  return detections;
}

}  // namespace

// "auto" hands 50 views and more to the sparse solve and fewer to OpenCV's, whose answers
// agree; an unknown solver, and released object points for the sparse solve, are refused.
TEST(IntrinsicCalibrator, CameraSolverChoosesTheSolve) {
  const auto solve = [](const std::string& solver, int views, const std::string& method = "Default") {
    IntrinsicOptions options;
    options.camera_solver = solver;
    options.calibrate_camera_method = method;
    options.index_of_fixed_3d_point = 5;
    std::vector<cv::Mat> images;
    vemo::calibration::TargetDetections detections = projectedDetections(views, images);
    return IntrinsicCalibrator(kBoard, options).calibrateWithDetections(images, std::move(detections));
  };
  for (int views : {49, 50}) {
    const auto chosen = solve("auto", views);
    const auto dense = solve("opencv", views);
    const auto sparse = solve("sparse", views);
    ASSERT_TRUE(chosen.ok && dense.ok && sparse.ok);
    const auto& expected = views >= 50 ? sparse : dense;
    EXPECT_EQ(cv::norm(chosen.intrinsic_matrix, expected.intrinsic_matrix, cv::NORM_INF), 0.0) << views;
    EXPECT_EQ(chosen.per_view_errors, expected.per_view_errors) << views;
    EXPECT_LE(cv::norm(sparse.intrinsic_matrix, dense.intrinsic_matrix, cv::NORM_INF), 1e-6 * 610) << views;
    EXPECT_LE(cv::norm(sparse.distortion_coefficients, dense.distortion_coefficients, cv::NORM_INF), 1e-6) << views;
  }
  EXPECT_THROW(solve("dense", 10), std::invalid_argument);
  EXPECT_THROW(solve("sparse", 10, "Release Object"), std::invalid_argument);
  EXPECT_TRUE(solve("auto", 60, "Release Object").ok);  // OpenCV's solve releases them
}

// cv::Mat copies share pixels, so a calibrator that solved in place on its copy of the
// options would overwrite the caller's own guess matrices.
TEST(IntrinsicCalibrator, SolvesOnCopiesOfTheGuesses) {
  IntrinsicOptions options;
  const cv::Mat guess = (cv::Mat_<double>(3, 3) << 500, 0, 300, 0, 500, 260, 0, 0, 1);
  const cv::Mat distortion_guess = cv::Mat::zeros(1, 5, CV_64F);
  const cv::Mat guess_before = guess.clone();
  options.intrinsic_matrix_guess = guess;
  options.distortion_coefficients_guess = distortion_guess;
  options.calibrate_camera_flags = cv::CALIB_USE_INTRINSIC_GUESS;

  IntrinsicCalibrator calibrator(kBoard, options);
  const auto result = calibrator.calibrate(renderedViews());
  ASSERT_TRUE(result.ok);
  EXPECT_NEAR(result.intrinsic_matrix.at<double>(0, 0), 610, 610 * 0.005);
  EXPECT_EQ(cv::norm(guess, guess_before, cv::NORM_INF), 0.0);
  EXPECT_EQ(cv::countNonZero(distortion_guess), 0);
  EXPECT_EQ(cv::norm(*calibrator.options().intrinsic_matrix_guess, guess_before, cv::NORM_INF), 0.0);
}

TEST(IntrinsicCalibrator, MeanReprojectionErrorNeedsASolveAndGrowsWithAWrongCamera) {
  IntrinsicCalibrator calibrator(kBoard, IntrinsicOptions());
  EXPECT_THROW(calibrator.meanReprojectionError(trueCameraMatrix(), cv::Mat()), std::invalid_argument);

  const auto result = calibrator.calibrate(renderedViews());
  ASSERT_TRUE(result.ok);
  EXPECT_DOUBLE_EQ(calibrator.meanReprojectionError(result.intrinsic_matrix, result.distortion_coefficients),
                   result.reprojection_error);
  cv::Mat shifted = result.intrinsic_matrix.clone();
  shifted.at<double>(0, 2) += 3.0;
  // A uniform 3 px offset over N = 35 points adds about 3 / sqrt(35) = 0.51 per view.
  EXPECT_GT(calibrator.meanReprojectionError(shifted, result.distortion_coefficients),
            result.reprojection_error + 0.4);

  // Stored detections but no image to take the size from: a caller error, not a crash.
  EXPECT_THROW(calibrator.solve({}), std::invalid_argument);
}
