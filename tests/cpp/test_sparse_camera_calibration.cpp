#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"

namespace {

using vemo::calibration::calibrateCameraSparse;

const cv::Size kImageSize(1280, 960);
const cv::TermCriteria kUntilConverged(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, DBL_EPSILON);

struct Views {
  std::vector<cv::Mat> object_points;
  std::vector<cv::Mat> image_points;
};

// A 9x6 board seen from varied poses through a lens with every kind of distortion the
// models can fit, plus 0.3 px of detection noise.
Views views(int count, int seed, bool wide = false) {
  const cv::Mat camera_matrix = wide ? (cv::Mat_<double>(3, 3) << 520, 0, 642, 0, 518, 478, 0, 0, 1)
                                     : (cv::Mat_<double>(3, 3) << 910, 0, 642, 0, 905, 478, 0, 0, 1);
  const cv::Mat distortion = wide ? (cv::Mat_<double>(1, 12) << 0.9, -0.05, 0.0007, -0.0005, 0.01, 1.2, 0.2, 0.03, 0, 0, 0, 0)
      : (cv::Mat_<double>(1, 12) << -0.15, 0.06, 0.0007, -0.0005, -0.01, 0.02, -0.01, 0.003, 0.001, -0.0005, 0.0008, 0.0002);
  std::vector<cv::Point3f> board;
  for (int row = 0; row < 6; ++row) {
    for (int column = 0; column < 9; ++column) board.emplace_back(0.03f * column, 0.03f * row, 0.0f);
  }
  cv::RNG random(static_cast<std::uint64_t>(seed));
  Views result;
  for (int k = 0; k < count; ++k) {
    const cv::Vec3d rotation(random.uniform(-0.6, 0.6), random.uniform(-0.6, 0.6), random.uniform(-0.4, 0.4));
    const cv::Vec3d translation(random.uniform(-0.25, 0.05), random.uniform(-0.2, 0.0), random.uniform(0.45, 0.9));
    cv::Mat projected;
    cv::projectPoints(board, rotation, translation, camera_matrix, distortion, projected);
    cv::Mat noise(projected.size(), projected.type());
    random.fill(noise, cv::RNG::NORMAL, 0.0, 0.3);
    cv::Mat observed;
    cv::Mat(projected + noise).convertTo(observed, CV_32FC2);
    result.object_points.push_back(cv::Mat(board, true));
    result.image_points.push_back(observed);
  }
  return result;
}

struct Solution {
  double rms = 0.0;
  cv::Mat camera_matrix;
  cv::Mat distortion;
  std::vector<cv::Mat> rotations, translations;
};

Solution guessFor(int flags) {
  Solution start;
  if (flags & (cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_ASPECT_RATIO)) {
    start.camera_matrix = (cv::Mat_<double>(3, 3) << 880, 0, 630, 0, 890, 470, 0, 0, 1);
  }
  if (flags & cv::CALIB_USE_INTRINSIC_GUESS) {
    start.distortion = (flags & cv::CALIB_THIN_PRISM_MODEL) ? cv::Mat::zeros(1, 12, CV_64F) : cv::Mat::zeros(1, 5, CV_64F);
    start.distortion.at<double>(0) = -0.1;
    start.distortion.at<double>(2) = 0.0004;
  }
  return start;
}

double relativeDifference(const cv::Mat& ours, const cv::Mat& theirs) {
  return cv::norm(ours.reshape(1, 1), theirs.reshape(1, 1), cv::NORM_INF) /
         std::max(1.0, cv::norm(theirs, cv::NORM_INF));
}

// OpenCV's solution, and which intrinsics it left free (a fixed one has no deviation).
Solution solveWithOpenCv(const Views& data, int flags, std::vector<bool>& free) {
  cv::Mat deviations;
  Solution solution = guessFor(flags);
  solution.rms = cv::calibrateCamera(data.object_points, data.image_points, kImageSize, solution.camera_matrix,
                                     solution.distortion, solution.rotations, solution.translations, flags,
                                     kUntilConverged);
  // The extended solve reports which parameters the flags leave free; one step is enough to ask.
  Solution probe = guessFor(flags);
  cv::Mat unused;
  cv::calibrateCamera(data.object_points, data.image_points, kImageSize, probe.camera_matrix, probe.distortion,
                      probe.rotations, probe.translations, deviations, unused, unused, flags,
                      cv::TermCriteria(cv::TermCriteria::COUNT, 1, 0));
  free.assign(18, false);
  for (int k = 0; k < 18; ++k) free[static_cast<std::size_t>(k)] = deviations.at<double>(k) != 0.0;
  return solution;
}

// OpenCV stops where the error's rounding hides further gains, on weakly determined
// coefficients up to 1e-6 short of the stationary point (its gradient there up to 1e-6, for
// 1e-10 at the point it approaches). Gauss-Newton steps on the whole dense normal matrix
// take its solution the rest of the way.
// Also gives the intrinsics' standard deviations there (0 where held).
Solution settled(const Views& data, Solution solution, int flags, const std::vector<bool>& free,
                 std::vector<double>& deviations) {
  const double aspect = (flags & cv::CALIB_FIX_ASPECT_RATIO)
                            ? solution.camera_matrix.at<double>(0, 0) / solution.camera_matrix.at<double>(1, 1)
                            : 0.0;
  std::vector<int> columns;  // of projectPoints' intrinsic columns (f, c, coefficients) that move
  const int coefficients = static_cast<int>(solution.distortion.total());
  for (int k = 0; k < 4 + coefficients; ++k) {
    if (free[static_cast<std::size_t>(k)]) columns.push_back(k);
  }
  const int views = static_cast<int>(data.object_points.size());
  const int size = static_cast<int>(columns.size()) + 6 * views;
  for (int iteration = 0; iteration < 12; ++iteration) {
    cv::Mat normal = cv::Mat::zeros(size, size, CV_64F), gradient = cv::Mat::zeros(size, 1, CV_64F);
    double squared_errors = 0.0;
    int residuals = 0;
    for (int i = 0; i < views; ++i) {
      cv::Mat board, observed, projected, jacobian;
      data.object_points[static_cast<std::size_t>(i)].convertTo(board, CV_64F);
      data.image_points[static_cast<std::size_t>(i)].convertTo(observed, CV_64FC2);
      cv::projectPoints(board, solution.rotations[static_cast<std::size_t>(i)],
                        solution.translations[static_cast<std::size_t>(i)], solution.camera_matrix,
                        solution.distortion, projected, jacobian, aspect);
      const cv::Mat errors = cv::Mat(projected - observed).reshape(1, jacobian.rows);
      cv::Mat rows = cv::Mat::zeros(jacobian.rows, size, CV_64F);
      for (std::size_t c = 0; c < columns.size(); ++c) jacobian.col(6 + columns[c]).copyTo(rows.col(static_cast<int>(c)));
      jacobian.colRange(0, 6).copyTo(rows.colRange(static_cast<int>(columns.size()) + 6 * i,
                                                   static_cast<int>(columns.size()) + 6 * i + 6));
      normal += rows.t() * rows;
      gradient += rows.t() * errors;
      squared_errors += errors.dot(errors);
      residuals += errors.rows;
    }
    const cv::Mat covariance = normal.inv(cv::DECOMP_SVD) * (squared_errors / (residuals - size));
    deviations.assign(18, 0.0);
    for (std::size_t c = 0; c < columns.size(); ++c) {
      deviations[static_cast<std::size_t>(columns[c])] = std::sqrt(covariance.at<double>(static_cast<int>(c), static_cast<int>(c)));
    }
    cv::Mat step;
    cv::solve(normal, gradient, step, cv::DECOMP_SVD);
    std::vector<double> intrinsics{solution.camera_matrix.at<double>(0, 0), solution.camera_matrix.at<double>(1, 1),
                                   solution.camera_matrix.at<double>(0, 2), solution.camera_matrix.at<double>(1, 2)};
    for (int k = 0; k < coefficients; ++k) intrinsics.push_back(solution.distortion.at<double>(k));
    for (std::size_t c = 0; c < columns.size(); ++c) intrinsics[static_cast<std::size_t>(columns[c])] -= step.at<double>(static_cast<int>(c));
    if (aspect > 0.0) intrinsics[0] = intrinsics[1] * aspect;
    solution.camera_matrix = (cv::Mat_<double>(3, 3) << intrinsics[0], 0, intrinsics[2], 0, intrinsics[1], intrinsics[3], 0, 0, 1);
    for (int k = 0; k < coefficients; ++k) solution.distortion.at<double>(k) = intrinsics[static_cast<std::size_t>(4 + k)];
    for (int i = 0; i < views; ++i) {
      const int offset = static_cast<int>(columns.size()) + 6 * i;
      solution.rotations[static_cast<std::size_t>(i)] -= step.rowRange(offset, offset + 3);
      solution.translations[static_cast<std::size_t>(i)] -= step.rowRange(offset + 3, offset + 6);
    }
  }
  return solution;
}

// Where OpenCV's solve converges, the sparse solve reaches the same camera, coefficients and
// view poses: within 1e-9 relative of the stationary point OpenCV's solution settles on, or,
// for a model whose terms are nearly degenerate (standard deviations up to 100 for the
// rational model's coefficients), within `sigma_fraction` of each intrinsic's standard
// deviation and 1e-5 relative on the poses.
void expectSameSolution(const Views& data, int flags, const std::string& what, double sigma_fraction = 0.0) {
  SCOPED_TRACE(what + " flags " + std::to_string(flags));
  std::vector<bool> free;
  std::vector<double> deviations;
  const Solution theirs = solveWithOpenCv(data, flags, free);
  const Solution reference = settled(data, theirs, flags, free, deviations);
  Solution ours = guessFor(flags);
  ours.rms = calibrateCameraSparse(data.object_points, data.image_points, kImageSize, ours.camera_matrix,
                                   ours.distortion, ours.rotations, ours.translations, flags, kUntilConverged);
  EXPECT_NEAR(ours.rms, theirs.rms, 1e-9 * theirs.rms);
  ASSERT_EQ(ours.distortion.size(), theirs.distortion.size());
  ASSERT_EQ(ours.rotations.size(), theirs.rotations.size());
  const double* camera = ours.camera_matrix.ptr<double>();
  const double* reference_camera = reference.camera_matrix.ptr<double>();
  const int camera_entries[] = {0, 4, 2, 5};  // fx fy cx cy in the 3x3 matrix
  for (int k = 0; k < 4; ++k) {
    const int entry = camera_entries[k];
    EXPECT_NEAR(camera[entry], reference_camera[entry],
                std::max(1e-9 * reference_camera[0], sigma_fraction * deviations[static_cast<std::size_t>(k)]))
        << "camera parameter " << k;
  }
  for (int k = 0; k < static_cast<int>(ours.distortion.total()); ++k) {
    const double value = reference.distortion.at<double>(k);
    EXPECT_NEAR(ours.distortion.at<double>(k), value,
                std::max(1e-9 * std::max(1.0, std::abs(value)), sigma_fraction * deviations[static_cast<std::size_t>(4 + k)]))
        << "coefficient " << k;
  }
  EXPECT_LE(relativeDifference(ours.camera_matrix, theirs.camera_matrix), 1e-6);
  const double pose_tolerance = sigma_fraction > 0.0 ? 1e-5 : 1e-9;
  for (std::size_t view = 0; view < ours.rotations.size(); ++view) {
    EXPECT_LE(relativeDifference(ours.rotations[view], reference.rotations[view]), pose_tolerance) << "view " << view;
    EXPECT_LE(relativeDifference(ours.translations[view], reference.translations[view]), pose_tolerance)
        << "view " << view;
  }
}

}  // namespace

// Every combination of the flags that free or hold parameters on a normal lens with the
// five-coefficient model, and each larger model on a strongly distorting wide lens (a normal
// lens leaves their extra terms undetermined, and OpenCV's solve does not converge there).
TEST(SparseCameraCalibration, EqualsOpenCvOnEveryFlagCombination) {
  const int shared[] = {cv::CALIB_USE_INTRINSIC_GUESS, cv::CALIB_FIX_PRINCIPAL_POINT, cv::CALIB_FIX_ASPECT_RATIO,
                        cv::CALIB_ZERO_TANGENT_DIST};
  const auto combinations = [&](int extra) {
    std::vector<int> all;
    for (int subset = 0; subset < 16; ++subset) {
      int flags = extra;
      for (int bit = 0; bit < 4; ++bit) {
        if (subset & (1 << bit)) flags |= shared[bit];
      }
      all.push_back(flags);
    }
    return all;
  };
  const Views normal = views(12, 3);
  for (int extra : {0, int{cv::CALIB_FIX_K3}}) {
    for (int flags : combinations(extra)) expectSameSolution(normal, flags, "normal lens");
  }
  for (int flags : std::vector<int>{cv::CALIB_FIX_K1, cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3,
                                    cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_FOCAL_LENGTH,
                                    cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_TANGENT_DIST,
                                    cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_FOCAL_LENGTH |
                                        cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_K1 |
                                        cv::CALIB_FIX_K2 | cv::CALIB_FIX_K3}) {
    expectSameSolution(normal, flags, "normal lens");
  }
  const Views wide = views(25, 4, true);
  for (int flags : std::vector<int>{cv::CALIB_RATIONAL_MODEL,
                                    cv::CALIB_RATIONAL_MODEL | cv::CALIB_USE_INTRINSIC_GUESS | cv::CALIB_FIX_ASPECT_RATIO,
                                    cv::CALIB_RATIONAL_MODEL | cv::CALIB_FIX_PRINCIPAL_POINT | cv::CALIB_ZERO_TANGENT_DIST,
                                    cv::CALIB_THIN_PRISM_MODEL,
                                    cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL,
                                    cv::CALIB_RATIONAL_MODEL | cv::CALIB_THIN_PRISM_MODEL | cv::CALIB_FIX_S1_S2_S3_S4,
                                    cv::CALIB_RATIONAL_MODEL | cv::CALIB_TILTED_MODEL}) {
    expectSameSolution(wide, flags, "wide lens", 1e-3);
  }
}
