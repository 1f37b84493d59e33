#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cfloat>
#include <vector>

#include "vemo/calibration/rig/sparse_stereo_calibration.hpp"

// Two cameras 12 cm apart, converging by 8 degrees, see a 9x6 board in 20 frames with 0.3 px of
// detection noise: the sparse solve reaches OpenCV's relative pose and RMS, for fixed
// intrinsics (the rig's pairwise solve), with the board's points in float as the rig keeps
// them.
TEST(SparseStereoCalibration, EqualsOpenCvsStereoCalibrateWithFixedIntrinsics) {
  const cv::Mat camera1 = (cv::Mat_<double>(3, 3) << 910, 0, 642, 0, 905, 478, 0, 0, 1);
  const cv::Mat camera2 = (cv::Mat_<double>(3, 3) << 880, 0, 630, 0, 884, 470, 0, 0, 1);
  const cv::Mat distortion1 = (cv::Mat_<double>(1, 5) << -0.15, 0.06, 0.0007, -0.0005, -0.01);
  const cv::Mat distortion2 = (cv::Mat_<double>(1, 5) << -0.12, 0.05, -0.0004, 0.0006, -0.008);
  const cv::Vec3d relative_rotation(0.01, -0.14, 0.02), relative_translation(-0.12, 0.004, 0.01);
  std::vector<cv::Point3f> board;
  for (int row = 0; row < 6; ++row) {
    for (int column = 0; column < 9; ++column) board.emplace_back(0.03f * column, 0.03f * row, 0.0f);
  }
  cv::RNG random(9);
  std::vector<cv::Mat> object_points, points1, points2;
  for (int frame = 0; frame < 20; ++frame) {
    const cv::Vec3d rotation(random.uniform(-0.5, 0.5), random.uniform(-0.5, 0.5), random.uniform(-0.4, 0.4));
    const cv::Vec3d translation(random.uniform(-0.2, 0.0), random.uniform(-0.15, 0.0), random.uniform(0.5, 0.9));
    cv::Vec3d rotation2, translation2;
    cv::composeRT(rotation, translation, relative_rotation, relative_translation, rotation2, translation2);
    cv::Mat projected1, projected2, observed1, observed2;
    cv::projectPoints(board, rotation, translation, camera1, distortion1, projected1);
    cv::projectPoints(board, rotation2, translation2, camera2, distortion2, projected2);
    cv::Mat noise1(54, 1, projected1.type()), noise2(54, 1, projected2.type());
    random.fill(noise1, cv::RNG::NORMAL, 0.0, 0.3);
    random.fill(noise2, cv::RNG::NORMAL, 0.0, 0.3);
    cv::Mat(projected1.reshape(2, 54) + noise1).convertTo(observed1, CV_32FC2);
    cv::Mat(projected2.reshape(2, 54) + noise2).convertTo(observed2, CV_32FC2);
    object_points.push_back(cv::Mat(board, true));
    points1.push_back(observed1);
    points2.push_back(observed2);
  }
  const cv::TermCriteria until_converged(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, DBL_EPSILON);
  cv::Mat m1 = camera1.clone(), d1 = distortion1.clone(), m2 = camera2.clone(), d2 = distortion2.clone();
  cv::Mat theirs_rotation, theirs_translation, essential, fundamental;
  const double theirs_rms = cv::stereoCalibrate(object_points, points1, points2, m1, d1, m2, d2, cv::Size(1280, 960),
                                                theirs_rotation, theirs_translation, essential, fundamental,
                                                cv::CALIB_FIX_INTRINSIC, until_converged);
  cv::Mat rotation, translation;
  const double rms = vemo::calibration::stereoCalibrateSparse(object_points, points1, points2, camera1, distortion1,
                                                              camera2, distortion2, rotation, translation,
                                                              until_converged);
  EXPECT_NEAR(rms, theirs_rms, 1e-9 * theirs_rms);
  EXPECT_LE(cv::norm(rotation, theirs_rotation, cv::NORM_INF), 1e-9);
  EXPECT_LE(cv::norm(translation, theirs_translation, cv::NORM_INF), 1e-9 * cv::norm(theirs_translation));
  // And the truth, to what 0.3 px of noise allows.
  cv::Mat true_rotation;
  cv::Rodrigues(relative_rotation, true_rotation);
  EXPECT_LE(cv::norm(rotation, true_rotation, cv::NORM_INF), 1e-3);
  EXPECT_LE(cv::norm(translation, cv::Mat(relative_translation), cv::NORM_INF), 1e-3);
}
