#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "vemo/tf/tf.hpp"

namespace {

constexpr double kPi = 3.141592653589793;

// R = Rz * Ry * Rx built from elementary rotations, independent of the closed form.
cv::Matx33d referenceRotation(double rx_deg, double ry_deg, double rz_deg) {
  const double a = rx_deg * kPi / 180, b = ry_deg * kPi / 180, c = rz_deg * kPi / 180;
  const cv::Matx33d rx(1, 0, 0, 0, std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a));
  const cv::Matx33d ry(std::cos(b), 0, std::sin(b), 0, 1, 0, -std::sin(b), 0, std::cos(b));
  const cv::Matx33d rz(std::cos(c), -std::sin(c), 0, std::sin(c), std::cos(c), 0, 0, 0, 1);
  return rz * ry * rx;
}

}  // namespace

TEST(Tf, PoseToMatrixMatchesElementaryRotationProduct) {
  const std::vector<double> pose{0.1, -0.2, 0.3, 25.0, -40.0, 130.0};
  const cv::Mat T = vemo::tf::poseToTransformationMatrix(pose);
  ASSERT_EQ(T.type(), CV_64F);
  const cv::Matx33d R = referenceRotation(25.0, -40.0, 130.0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(T.at<double>(r, c), R(r, c), 1e-12);
  EXPECT_DOUBLE_EQ(T.at<double>(0, 3), 0.1);
  EXPECT_DOUBLE_EQ(T.at<double>(2, 3), 0.3);
  EXPECT_EQ(T.at<double>(3, 3), 1.0);
  EXPECT_EQ(T.at<double>(3, 0), 0.0);
}

TEST(Tf, RoundTripAndGimbalLock) {
  for (double rx : {-170.0, -30.0, 0.0, 45.0, 179.0})
    for (double ry : {-89.0, -10.0, 0.0, 60.0, 89.0})
      for (double rz : {-120.0, 0.0, 90.0, 180.0}) {
        const std::vector<double> pose{1, 2, 3, rx, ry, rz};
        const auto back = vemo::tf::transformationMatrixToPose(vemo::tf::poseToTransformationMatrix(pose));
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(back[i], pose[i], 1e-9) << rx << " " << ry << " " << rz;
      }

  // At ry = 90 the rotation about X and Z collapse into one: rx is reported 0 and the
  // rotation is carried by rz.
  const cv::Mat locked = vemo::tf::poseToTransformationMatrix({0, 0, 0, 20.0, 90.0, 50.0});
  EXPECT_NEAR(locked.at<double>(2, 0), -1.0, 1e-12);
  const auto pose = vemo::tf::transformationMatrixToPose(locked);
  EXPECT_NEAR(pose[4], 90.0, 1e-6);
  EXPECT_EQ(pose[3], 0.0);
  const cv::Mat again = vemo::tf::poseToTransformationMatrix(pose);
  EXPECT_LT(cv::norm(again, locked, cv::NORM_INF), 1e-6);

  // Elements just outside [-1, 1] from rounding are clamped instead of giving NaN.
  cv::Mat beyond = cv::Mat::eye(4, 4, CV_64F);
  beyond.at<double>(2, 0) = -1.0000001;
  EXPECT_DOUBLE_EQ(vemo::tf::transformationMatrixToPose(beyond)[4], 90.0);
  beyond.at<double>(2, 0) = 1.0000001;
  EXPECT_DOUBLE_EQ(vemo::tf::transformationMatrixToPose(beyond)[4], -90.0);
}

TEST(Tf, AveragePoseProjectsOntoRotationsAndAveragesTranslations) {
  const cv::Mat a = vemo::tf::poseToTransformationMatrix({1, 0, 0, 0, 0, 30});
  const cv::Mat b = vemo::tf::poseToTransformationMatrix({3, 2, -4, 0, 0, -30});
  const cv::Mat mean = vemo::tf::averagePose({a, b});
  EXPECT_LT(cv::norm(mean(cv::Rect(0, 0, 3, 3)), cv::Mat::eye(3, 3, CV_64F), cv::NORM_INF), 1e-12);
  EXPECT_DOUBLE_EQ(mean.at<double>(0, 3), 2.0);
  EXPECT_DOUBLE_EQ(mean.at<double>(1, 3), 1.0);
  EXPECT_DOUBLE_EQ(mean.at<double>(2, 3), -2.0);

  // A reflection-dominated sum still yields a proper rotation.
  cv::Mat reflection = cv::Mat::eye(4, 4, CV_64F);
  reflection.at<double>(2, 2) = -1.0;
  const cv::Mat proper = vemo::tf::averagePose({reflection});
  EXPECT_NEAR(cv::determinant(proper(cv::Rect(0, 0, 3, 3))), 1.0, 1e-12);
}

TEST(Tf, RejectsMalformedInput) {
  EXPECT_THROW(vemo::tf::poseToTransformationMatrix({1, 2, 3}), std::invalid_argument);
  EXPECT_THROW(vemo::tf::transformationMatrixToPose(cv::Mat::eye(3, 4, CV_64F)), std::invalid_argument);
  EXPECT_THROW(vemo::tf::averagePose({}), std::invalid_argument);
  try {
    vemo::tf::averagePose({cv::Mat::eye(2, 2, CV_64F)});
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "averagePose: expected 4x4 matrices");
  }
}

TEST(Tf, PoseCheckBoundaries) {
  using vemo::tf::findPoseDefect;
  using vemo::tf::PoseDefect;
  const vemo::tf::PoseRequirements rigid{true, true, true, true};
  const cv::Mat pose = vemo::tf::poseToTransformationMatrix({0.1, 0.2, 0.3, 10, 20, 30});
  EXPECT_EQ(findPoseDefect(pose, rigid), PoseDefect::None);

  // Exported with 4 decimals: |R^T R - I| near 1e-3 still counts as a rotation.
  cv::Mat rounded = pose.clone();
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rounded.at<double>(r, c) = std::round(rounded.at<double>(r, c) * 1e4) / 1e4;
  EXPECT_EQ(findPoseDefect(rounded, rigid), PoseDefect::None);

  cv::Mat scaled = pose.clone();
  scaled(cv::Rect(0, 0, 3, 3)) *= 1.01;
  EXPECT_EQ(findPoseDefect(scaled, rigid), PoseDefect::NotRotation);
  EXPECT_EQ(findPoseDefect(scaled), PoseDefect::None);  // the default asks only for an invertible block

  cv::Mat reflected = pose.clone();
  reflected.col(0).rowRange(0, 3) *= -1.0;
  EXPECT_EQ(findPoseDefect(reflected, rigid), PoseDefect::NotRotation);

  cv::Mat last_row = pose.clone();
  last_row.at<double>(3, 0) = 1e-6;  // the tolerance is strict
  EXPECT_EQ(findPoseDefect(last_row), PoseDefect::LastRowNotHomogeneous);
  last_row.at<double>(3, 0) = 0.9e-6;
  EXPECT_EQ(findPoseDefect(last_row), PoseDefect::None);

  cv::Mat singular = pose.clone();
  singular(cv::Rect(0, 0, 3, 3)) *= 0.0;
  EXPECT_EQ(findPoseDefect(singular), PoseDefect::SingularRotation);

  cv::Mat not_finite = pose.clone();
  not_finite.at<double>(1, 3) = std::numeric_limits<double>::infinity();
  EXPECT_EQ(findPoseDefect(not_finite), PoseDefect::NotFinite);
  EXPECT_EQ(findPoseDefect(not_finite, {false, true, true, false}), PoseDefect::None);

  EXPECT_EQ(findPoseDefect(cv::Mat::eye(3, 4, CV_64F)), PoseDefect::NotSingleChannel4x4);
  EXPECT_EQ(findPoseDefect(cv::Mat::zeros(4, 4, CV_64FC2)), PoseDefect::NotSingleChannel4x4);
  EXPECT_EQ(findPoseDefect(cv::Mat::eye(4, 4, CV_32F), rigid), PoseDefect::None);
}
