#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <random>
#include <stdexcept>
#include <vector>

#include "vemo/calibration/rig/rig_refinement.hpp"
#include "vemo/tf/tf.hpp"

using vemo::calibration::CameraViews;
using vemo::calibration::MultiCameraResult;
using vemo::calibration::RigRefinement;

namespace {

const cv::Size kImageSize(1280, 960);
constexpr int kFrames = 20;

// A three-camera rig converging 0.65 m ahead on a 20 x 13 grid of 20 mm, whose corners carry
// Gaussian noise (0.5 px unless given); camera 1 misses frame 5 and each camera keeps only what falls
// inside its image.
struct Rig {
  std::vector<cv::Mat> camera_matrices, distortions, reference_T_camera;
  std::vector<CameraViews> views;
  std::vector<std::vector<bool>> visible;  // per camera, frame-major over every corner
  std::vector<cv::Point3f> board;
};

cv::Mat lookingAt(cv::Vec3d position, cv::Vec3d point) {
  cv::Vec3d z = cv::normalize(point - position);
  cv::Vec3d x = cv::normalize(cv::Vec3d(0, 1, 0).cross(z));
  cv::Vec3d y = z.cross(x);
  cv::Mat pose = cv::Mat::eye(4, 4, CV_64F);
  for (int r = 0; r < 3; ++r) {
    pose.at<double>(r, 0) = x[r];
    pose.at<double>(r, 1) = y[r];
    pose.at<double>(r, 2) = z[r];
    pose.at<double>(r, 3) = position[r];
  }
  return pose;
}

Rig renderRig(unsigned seed, double noise_px = 0.5) {
  Rig rig;
  for (int row = 0; row < 13; ++row) {
    for (int col = 0; col < 20; ++col) rig.board.emplace_back(0.02f * col, 0.02f * row, 0.0f);
  }
  const cv::Vec3d centre(0.15, 0.0, 0.65);
  const double focal[3] = {1100.0, 950.0, 1150.0};
  const cv::Vec3d positions[3] = {{0.0, 0.0, 0.0}, {0.12, 0.02, 0.01}, {0.30, -0.02, 0.03}};
  rig.distortions = {(cv::Mat_<double>(1, 5) << -0.12, 0.05, 0.0005, -0.0003, 0.0),
                     (cv::Mat_<double>(1, 5) << -0.21, 0.09, -0.0004, 0.0006, 0.0),
                     (cv::Mat_<double>(1, 5) << 0.04, -0.03, 0.0002, 0.0002, 0.0)};
  std::vector<cv::Mat> rig_T_camera;
  for (int k = 0; k < 3; ++k) {
    rig.camera_matrices.push_back((cv::Mat_<double>(3, 3) << focal[k], 0, 640 + 3 * k, 0, focal[k], 480 - 2 * k, 0, 0, 1));
    rig_T_camera.push_back(lookingAt(positions[k], centre));
  }
  for (int k = 0; k < 3; ++k) rig.reference_T_camera.push_back(rig_T_camera[0].inv() * rig_T_camera[k]);

  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, noise_px);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  rig.views.resize(3);
  rig.visible.resize(3);
  for (int frame = 0; frame < kFrames; ++frame) {
    const double angle = 2 * CV_PI * frame / kFrames;
    const double tilt = 12.0 + 11.5 * (frame % 3);
    cv::Mat rig_T_board = vemo::tf::poseToTransformationMatrix(
        {0, 0, 0, tilt * std::cos(angle), tilt * std::sin(angle), 30.0 * uniform(random)});
    const cv::Vec3d where = centre + cv::Vec3d(0.1 * std::cos(1.7 * angle), 0.08 * std::sin(2.3 * angle),
                                               0.1 * uniform(random));
    const cv::Mat rotation = rig_T_board(cv::Rect(0, 0, 3, 3));
    const cv::Mat offset = cv::Mat(where) - rotation * (cv::Mat_<double>(3, 1) << 0.19, 0.12, 0.0);
    offset.copyTo(rig_T_board(cv::Rect(3, 0, 1, 3)));
    for (int k = 0; k < 3; ++k) {
      const cv::Mat camera_T_board = rig_T_camera[static_cast<std::size_t>(k)].inv() * rig_T_board;
      cv::Mat rvec;
      cv::Rodrigues(camera_T_board(cv::Rect(0, 0, 3, 3)), rvec);
      std::vector<cv::Point2f> projected;
      cv::projectPoints(rig.board, rvec, camera_T_board(cv::Rect(3, 0, 1, 3)), rig.camera_matrices[k],
                        rig.distortions[k], projected);
      cv::Mat object(0, 3, CV_32F), image(0, 1, CV_32FC2);
      for (std::size_t j = 0; j < projected.size(); ++j) {
        const cv::Point2f pixel = projected[j];
        const bool inside = !(k == 1 && frame == 5) && pixel.x > 5 && pixel.y > 5 && pixel.x < 1275 && pixel.y < 955;
        rig.visible[k].push_back(inside);
        if (!inside) continue;
        object.push_back(cv::Mat(cv::Matx13f(rig.board[j].x, rig.board[j].y, 0.0f)));
        image.push_back(cv::Vec2f(pixel.x + static_cast<float>(noise(random)), pixel.y + static_cast<float>(noise(random))));
      }
      if (object.rows < 30) continue;
      rig.views[k].frames.push_back(frame);
      rig.views[k].object_points.push_back(object);
      rig.views[k].image_points.push_back(image);
    }
  }
  return rig;
}

// What the pairwise run does: each camera's intrinsics alone, then one stereoCalibrate per
// camera against camera 0 with them fixed, on the corners both saw.
MultiCameraResult pairwise(const Rig& rig) {
  MultiCameraResult result;
  result.ok = true;
  result.reference_index = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    cv::Mat matrix, distortion;
    cv::calibrateCamera(rig.views[k].object_points, rig.views[k].image_points, kImageSize, matrix, distortion,
                        cv::noArray(), cv::noArray());
    result.intrinsic_matrices.push_back(matrix);
    result.distortion_coefficients.push_back(distortion);
  }
  result.reference_T_camera_list = {cv::Mat::eye(4, 4, CV_64F), cv::Mat(), cv::Mat()};
  const auto pixelOf = [&](std::size_t camera, int frame, std::size_t corner) {
    std::size_t view = 0, row = 0;
    while (rig.views[camera].frames[view] != frame) ++view;
    for (std::size_t j = 0; j < corner; ++j) row += rig.visible[camera][frame * rig.board.size() + j];
    return rig.views[camera].image_points[view].at<cv::Vec2f>(static_cast<int>(row));
  };
  for (std::size_t k = 1; k < 3; ++k) {
    std::vector<std::vector<cv::Point3f>> object;
    std::vector<std::vector<cv::Vec2f>> reference_pixels, camera_pixels;
    for (int frame : rig.views[k].frames) {
      if (std::find(rig.views[0].frames.begin(), rig.views[0].frames.end(), frame) == rig.views[0].frames.end()) continue;
      object.emplace_back();
      reference_pixels.emplace_back();
      camera_pixels.emplace_back();
      for (std::size_t j = 0; j < rig.board.size(); ++j) {
        const std::size_t at = frame * rig.board.size() + j;
        if (!rig.visible[0][at] || !rig.visible[k][at]) continue;
        object.back().push_back(rig.board[j]);
        reference_pixels.back().push_back(pixelOf(0, frame, j));
        camera_pixels.back().push_back(pixelOf(k, frame, j));
      }
    }
    cv::Mat rotation, translation, essential, fundamental;
    cv::stereoCalibrate(object, reference_pixels, camera_pixels, result.intrinsic_matrices[0].clone(),
                        result.distortion_coefficients[0].clone(), result.intrinsic_matrices[k].clone(),
                        result.distortion_coefficients[k].clone(), kImageSize, rotation, translation, essential,
                        fundamental, cv::CALIB_FIX_INTRINSIC);
    result.reference_T_camera_list[k] = vemo::tf::composeTransformationMatrix(rotation, translation).inv();
  }
  return result;
}

// Every corner's reprojection distance at the refined rig, computed with OpenCV's projection.
std::vector<double> distances(const Rig& rig, const RigRefinement& refined) {
  std::vector<double> result;
  for (std::size_t k = 0; k < 3; ++k) {
    for (std::size_t view = 0; view < rig.views[k].frames.size(); ++view) {
      const cv::Mat camera_T_board = refined.reference_T_camera_list[k].inv() *
                                     refined.reference_T_board_list[static_cast<std::size_t>(rig.views[k].frames[view])];
      cv::Mat rvec;
      cv::Rodrigues(camera_T_board(cv::Rect(0, 0, 3, 3)), rvec);
      std::vector<cv::Point2d> projected;
      cv::Mat object;
      rig.views[k].object_points[view].convertTo(object, CV_64F);
      cv::projectPoints(object.reshape(3), rvec, camera_T_board(cv::Rect(3, 0, 1, 3)).clone(),
                        refined.intrinsic_matrices[k], refined.distortion_coefficients[k], projected);
      for (std::size_t j = 0; j < projected.size(); ++j) {
        const cv::Vec2f seen = rig.views[k].image_points[view].at<cv::Vec2f>(static_cast<int>(j));
        result.push_back(std::hypot(projected[j].x - seen[0], projected[j].y - seen[1]));
      }
    }
  }
  return result;
}

// The cost the refinement states: 1/2 sum of Huber (of the scale it reports) of each
// corner's squared distance.
double huberCost(const Rig& rig, const RigRefinement& refined) {
  const double a = refined.loss_scale_px;
  double cost = 0.0;
  for (double distance : distances(rig, refined)) {
    cost += 0.5 * (distance <= a ? distance * distance : 2.0 * a * distance - a * a);
  }
  return cost;
}

double translationErrorMm(const RigRefinement& refined, const Rig& rig, std::size_t camera) {
  return 1000.0 * cv::norm(vemo::tf::translationOf(refined.reference_T_camera_list[camera]),
                           vemo::tf::translationOf(rig.reference_T_camera[camera]));
}

}  // namespace

// Per seed a camera's error is as likely to be lucky in the pairwise solve as in the joint
// one; over eight seeds the joint solve's errors are well below, and its sigma covers them.
TEST(RigRefinement, BeatsThePairwiseRigWithSigmaThatCoversTheTruth) {
  double pairwise_squares = 0.0, refined_squares = 0.0;
  int within_3_sigma = 0, within_4_sigma = 0, checked = 0;
  for (unsigned seed = 1; seed <= 8; ++seed) {
    const Rig rig = renderRig(seed);
    const MultiCameraResult start = pairwise(rig);
    const RigRefinement refined = vemo::calibration::refineRig(rig.views, start);
    ASSERT_TRUE(refined.ok && refined.converged) << seed;
    EXPECT_LE(refined.rms_after_px, refined.rms_before_px) << seed;
    EXPECT_NEAR(refined.image_noise_px, 0.5, 0.03) << seed;
    for (std::size_t k = 1; k < 3; ++k) {
      const cv::Mat& truth = rig.reference_T_camera[k];
      pairwise_squares += std::pow(cv::norm(vemo::tf::translationOf(start.reference_T_camera_list[k]),
                                            vemo::tf::translationOf(truth)), 2);
      const cv::Mat error =
          vemo::tf::translationOf(refined.reference_T_camera_list[k]) - vemo::tf::translationOf(truth);
      refined_squares += std::pow(cv::norm(error), 2);
      // Rotation error as the refinement perturbs: refined = exp(error) * truth, reference axes.
      cv::Mat rotation_error;
      cv::Rodrigues(cv::Mat(refined.reference_T_camera_list[k](cv::Rect(0, 0, 3, 3)) *
                            truth(cv::Rect(0, 0, 3, 3)).t()),
                    rotation_error);
      for (int axis = 0; axis < 3; ++axis) {
        for (double ratio : {std::abs(1000.0 * error.at<double>(axis)) / refined.sigma_translation_mm[k][axis],
                             std::abs(rotation_error.at<double>(axis) * 180.0 / CV_PI) /
                                 refined.sigma_rotation_deg[k][axis]}) {
          within_3_sigma += ratio < 3.0;
          within_4_sigma += ratio < 4.0;
          ++checked;
        }
      }
    }
  }
  EXPECT_LT(std::sqrt(refined_squares), 0.65 * std::sqrt(pairwise_squares));
  EXPECT_GE(within_3_sigma, 0.95 * checked);
  EXPECT_EQ(within_4_sigma, checked);
}

TEST(RigRefinement, ReachesTheMinimumOfItsCost) {
  const Rig rig = renderRig(7);
  const MultiCameraResult start = pairwise(rig);
  const RigRefinement refined = vemo::calibration::refineRig(rig.views, start);
  ASSERT_TRUE(refined.ok);
  // Frame 5 has no terms for camera 1, and nothing else is lost.
  std::size_t corners = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    int seen = 0;
    for (const cv::Mat& points : rig.views[k].image_points) seen += points.rows;
    EXPECT_EQ(refined.per_camera_corner_count[k], seen);
    corners += static_cast<std::size_t>(seen);
  }
  EXPECT_EQ(refined.corner_count, corners);
  EXPECT_TRUE(refined.reference_T_board_list[5].size() == cv::Size(4, 4));

  // A minimum of the stated cost, computed independently: moving any camera's position or
  // focal length a little either way never lowers it.
  const double cost = huberCost(rig, refined);
  for (std::size_t k = 0; k < 3; ++k) {
    for (double step : {-1e-5, 1e-5}) {
      for (int axis = 0; axis < 3; ++axis) {
        if (k == 0) break;
        RigRefinement moved = refined;
        moved.reference_T_camera_list[k] = refined.reference_T_camera_list[k].clone();
        moved.reference_T_camera_list[k].at<double>(axis, 3) += step;
        EXPECT_GT(huberCost(rig, moved), cost) << k << axis << step;
      }
      RigRefinement moved = refined;
      moved.intrinsic_matrices[k] = refined.intrinsic_matrices[k].clone();
      moved.intrinsic_matrices[k].at<double>(0, 0) += 2000.0 * step;
      EXPECT_GT(huberCost(rig, moved), cost) << k << step;
    }
  }

  MultiCameraResult incomplete = start;
  incomplete.ok = false;
  EXPECT_THROW(
      {
        try {
          vemo::calibration::refineRig(rig.views, incomplete);
        } catch (const std::invalid_argument& error) {
          EXPECT_STREQ(error.what(), "refineRig: the start must be a complete rig (ok)");
          throw;
        }
      },
      std::invalid_argument);
}

// The calibration flags hold what they fix: a principal point stays, and a fixed aspect
// ratio keeps fy / fx while fx itself moves.
TEST(RigRefinement, HoldsWhatTheCalibrationFlagsFix) {
  const Rig rig = renderRig(3);
  const MultiCameraResult start = pairwise(rig);
  vemo::calibration::RigRefinementOptions options;
  options.calibrate_camera_flags = cv::CALIB_FIX_ASPECT_RATIO | cv::CALIB_FIX_PRINCIPAL_POINT;
  const RigRefinement refined = vemo::calibration::refineRig(rig.views, start, options);
  ASSERT_TRUE(refined.ok);
  for (std::size_t k = 0; k < 3; ++k) {
    const cv::Mat& before = start.intrinsic_matrices[k];
    const cv::Mat& after = refined.intrinsic_matrices[k];
    EXPECT_NEAR(after.at<double>(1, 1) / after.at<double>(0, 0), before.at<double>(1, 1) / before.at<double>(0, 0),
                1e-12) << k;
    EXPECT_GT(std::abs(after.at<double>(0, 0) - before.at<double>(0, 0)), 1e-3) << k;
    EXPECT_EQ(after.at<double>(0, 2), before.at<double>(0, 2)) << k;
    EXPECT_EQ(after.at<double>(1, 2), before.at<double>(1, 2)) << k;
  }
}

// Without a scale the refinement picks 1.345 robust sigmas of a pilot fit at 1 px: the sigma
// comes out as the corners' noise at every level, the fit is the one given that scale, and
// corners 30 px off count linearly: they move the rig far less than they move the
// least-squares fit.
TEST(RigRefinement, ChoosesItsLossScaleFromTheData) {
  vemo::calibration::RigRefinementOptions least_squares;
  least_squares.loss_scale_px = 1e6;
  for (double noise_px : {0.1, 0.5, 1.0}) {
    const Rig rig = renderRig(4, noise_px);
    const MultiCameraResult start = pairwise(rig);
    const RigRefinement chosen = vemo::calibration::refineRig(rig.views, start);
    ASSERT_TRUE(chosen.ok && chosen.converged) << noise_px;
    EXPECT_TRUE(chosen.loss_scale_from_data);
    EXPECT_NEAR(chosen.robust_noise_px, noise_px, 0.05 * noise_px);
    EXPECT_DOUBLE_EQ(chosen.loss_scale_px, 1.345 * chosen.robust_noise_px);
    vemo::calibration::RigRefinementOptions given;
    given.loss_scale_px = chosen.loss_scale_px;
    const RigRefinement at_that_scale = vemo::calibration::refineRig(rig.views, start, given);
    EXPECT_FALSE(at_that_scale.loss_scale_from_data);
    EXPECT_TRUE(std::isnan(at_that_scale.robust_noise_px));
    for (std::size_t k = 1; k < 3; ++k) {
      EXPECT_LT(cv::norm(chosen.reference_T_camera_list[k], at_that_scale.reference_T_camera_list[k], cv::NORM_INF),
                1e-12);
    }
  }

  // Three corners of every view of camera 1 found 30 px to the right.
  const Rig clean = renderRig(4);
  Rig displaced = clean;
  for (cv::Mat& pixels : displaced.views[1].image_points) {
    pixels = pixels.clone();
    for (int row : {0, pixels.rows / 2, pixels.rows - 1}) pixels.at<cv::Vec2f>(row) += cv::Vec2f(30.0f, 0.0f);
  }
  const RigRefinement clean_fit = vemo::calibration::refineRig(clean.views, pairwise(clean));
  const MultiCameraResult start = pairwise(displaced);
  const RigRefinement chosen = vemo::calibration::refineRig(displaced.views, start);
  const RigRefinement plain = vemo::calibration::refineRig(displaced.views, start, least_squares);
  ASSERT_TRUE(chosen.ok && plain.ok && clean_fit.ok);
  EXPECT_NEAR(chosen.robust_noise_px, clean_fit.robust_noise_px, 0.02);
  const double chosen_mm = translationErrorMm(chosen, displaced, 1), plain_mm = translationErrorMm(plain, displaced, 1);
  EXPECT_LT(chosen_mm, 0.15 * plain_mm);
  EXPECT_LT(chosen_mm, 1.5 * cv::norm(clean_fit.sigma_translation_mm[1]));
}
