#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string>

#include "vemo/calibration/intrinsic/intrinsic_options.hpp"
#include "vemo/calibration/intrinsic/view_block_least_squares.hpp"

namespace vemo::calibration {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::invalid_argument("IntrinsicCalibrator (sparse solve): " + what);
}

constexpr int kAllCoefficients = 14;  // OpenCV's distortion vector, tilt included

std::array<double, kAllCoefficients> coefficientsOf(const cv::Mat& distortion) {
  std::array<double, kAllCoefficients> values{};
  if (distortion.empty()) return values;
  cv::Mat as_double;
  distortion.reshape(1, 1).convertTo(as_double, CV_64F);
  const int count = as_double.cols;
  if (count != 4 && count != 5 && count != 8 && count != 12 && count != kAllCoefficients) {
    fail("distortion coefficients must hold 4, 5, 8, 12 or 14 values, got " + std::to_string(count));
  }
  std::copy(as_double.ptr<double>(), as_double.ptr<double>() + count, values.begin());
  return values;
}

struct ViewPoints {
  cv::Mat board;   // N x 3 CV_64F
  cv::Mat pixels;  // N x 2 CV_64F
};

cv::Mat pointRows(const cv::Mat& points, int width, const std::string& name, std::size_t view) {
  const std::size_t numbers = points.total() * static_cast<std::size_t>(points.channels());
  if (points.empty() || numbers % static_cast<std::size_t>(width) != 0 ||
      (points.depth() != CV_32F && points.depth() != CV_64F)) {
    fail(name + " of view " + std::to_string(view) + " must be float or double with " + std::to_string(width) +
         " numbers per point");
  }
  cv::Mat rows;
  (points.isContinuous() ? points : points.clone())
      .reshape(1, static_cast<int>(numbers / static_cast<std::size_t>(width)))
      .convertTo(rows, CV_64F);
  if (!cv::checkRange(rows)) fail(name + " of view " + std::to_string(view) + " hold a value that is not finite");
  return rows;
}

std::vector<ViewPoints> viewPointsOf(const std::vector<cv::Mat>& object_points,
                                     const std::vector<cv::Mat>& image_points) {
  if (object_points.empty()) fail("no views to calibrate from");
  if (object_points.size() != image_points.size()) {
    fail(std::to_string(object_points.size()) + " views of board points but " + std::to_string(image_points.size()) +
         " of detections");
  }
  std::vector<ViewPoints> views;
  for (std::size_t i = 0; i < object_points.size(); ++i) {
    ViewPoints view{pointRows(object_points[i], 3, "board points", i), pointRows(image_points[i], 2, "detections", i)};
    if (view.board.rows != view.pixels.rows) {
      fail("view " + std::to_string(i) + " has " + std::to_string(view.board.rows) + " board points but " +
           std::to_string(view.pixels.rows) + " detections");
    }
    if (view.board.rows < 4) fail("view " + std::to_string(i) + " has fewer than 4 points");
    views.push_back(std::move(view));
  }
  return views;
}

// OpenCV's start without a guess needs a flat board, which it then treats as exactly flat.
void flattenBoard(std::vector<ViewPoints>& views) {
  double sum = 0.0, squares = 0.0;
  int count = 0;
  for (const ViewPoints& view : views) {
    for (int p = 0; p < view.board.rows; ++p) {
      const double z = view.board.at<double>(p, 2);
      sum += z;
      squares += z * z;
      ++count;
    }
  }
  const double mean = sum / count;
  const double deviation = std::sqrt(std::max(0.0, squares / count - mean * mean));
  if (std::fabs(mean) > 1e-5 || deviation > 1e-5) {
    fail("for a board that is not flat, give a camera matrix guess and CALIB_USE_INTRINSIC_GUESS");
  }
  for (ViewPoints& view : views) view.board.col(2).setTo(0.0);
}

cv::Matx33d matx33Of(const cv::Mat& matrix) {
  cv::Mat as_double;
  matrix.convertTo(as_double, CV_64F);
  return cv::Matx33d(as_double.ptr<double>());
}

cv::Matx33d guessedCamera(const cv::Mat& camera_matrix, cv::Size image_size) {
  if (camera_matrix.rows != 3 || camera_matrix.cols != 3 || camera_matrix.channels() != 1) {
    fail("CALIB_USE_INTRINSIC_GUESS is set, but the camera matrix is not 3x3");
  }
  const cv::Matx33d a = matx33Of(camera_matrix);
  if (!(a(0, 0) > 0 && a(1, 1) > 0)) fail("the guessed focal lengths (fx and fy) must be positive");
  if (!(a(0, 2) >= 0 && a(0, 2) < image_size.width && a(1, 2) >= 0 && a(1, 2) < image_size.height)) {
    fail("the guessed principal point must lie within the image");
  }
  if (std::fabs(a(0, 1)) > 1e-5) fail("a camera matrix with skew is not supported");
  if (std::fabs(a(1, 0)) > 1e-5 || std::fabs(a(2, 0)) > 1e-5 || std::fabs(a(2, 1)) > 1e-5 ||
      std::fabs(a(2, 2) - 1) > 1e-5) {
    fail("the guessed camera matrix must have the shape [fx 0 cx; 0 fy cy; 0 0 1]");
  }
  return a;
}

double aspectRatioOf(const cv::Mat& camera_matrix) {
  if (camera_matrix.rows != 3 || camera_matrix.cols != 3) return 1.0;  // OpenCV reads an identity then
  cv::Mat a;
  camera_matrix.convertTo(a, CV_64F);
  const double ratio = a.at<double>(0, 0) / a.at<double>(1, 1);
  if (!(ratio >= 0.01 && ratio <= 100.0)) {
    fail("under CALIB_FIX_ASPECT_RATIO the camera matrix's fx / fy must lie within 0.01 to 100");
  }
  return ratio;
}

using Intrinsics = SharedParameters;  // fx fy cx cy, then OpenCV's 14 distortion coefficients

// cv::calibrateCamera's problem: which intrinsics move, the coefficient count its projection
// uses, and the aspect ratio that ties fx to fy.
class CameraProblem final : public ViewBlockProblem {
 public:
  CameraProblem(const std::vector<ViewPoints>& views, int coefficient_count, int flags, double aspect_ratio)
      : views_(views), coefficient_count_(coefficient_count), aspect_ratio_(aspect_ratio) {
    std::vector<bool> free(kSharedParameterCount, true);
    if (flags & cv::CALIB_FIX_ASPECT_RATIO) free[0] = false;
    if (flags & cv::CALIB_FIX_FOCAL_LENGTH) free[0] = free[1] = false;
    if (flags & cv::CALIB_FIX_PRINCIPAL_POINT) free[2] = free[3] = false;
    if (flags & (cv::CALIB_ZERO_TANGENT_DIST | cv::CALIB_FIX_TANGENT_DIST)) free[6] = free[7] = false;
    const int fixed_by[] = {cv::CALIB_FIX_K1, cv::CALIB_FIX_K2, 0, 0, cv::CALIB_FIX_K3, cv::CALIB_FIX_K4,
                            cv::CALIB_FIX_K5, cv::CALIB_FIX_K6};
    for (int k = 0; k < 8; ++k) {
      if (fixed_by[k] != 0 && (flags & fixed_by[k])) free[static_cast<std::size_t>(4 + k)] = false;
    }
    if (flags & cv::CALIB_FIX_S1_S2_S3_S4) std::fill(free.begin() + 12, free.begin() + 16, false);
    if (flags & cv::CALIB_FIX_TAUX_TAUY) free[16] = free[17] = false;
    for (int k = 0; k < 4 + coefficient_count; ++k) {
      if (free[static_cast<std::size_t>(k)]) free_.push_back(k);
    }
  }

  std::size_t viewCount() const override { return views_.size(); }
  const std::vector<int>& freeShared() const override { return free_; }
  void tie(Intrinsics& intrinsics) const override {
    if (aspect_ratio_ > 0.0) intrinsics[0] = intrinsics[1] * aspect_ratio_;
  }

  ViewNormals evaluateView(std::size_t index, const Intrinsics& intrinsics, const ViewPose& pose,
                           bool with_derivatives) const override {
    const ViewPoints& view = views_[index];
    const cv::Matx33d camera(intrinsics[0], 0.0, intrinsics[2], 0.0, intrinsics[1], intrinsics[3], 0.0, 0.0, 1.0);
    const cv::Mat coefficients(1, coefficient_count_, CV_64F, const_cast<double*>(intrinsics.val) + 4);
    const cv::Mat rvec(3, 1, CV_64F, const_cast<double*>(pose.val));
    const cv::Mat tvec(3, 1, CV_64F, const_cast<double*>(pose.val) + 3);
    cv::Mat projected, jacobian;
    if (with_derivatives) {
      cv::projectPoints(view.board, rvec, tvec, camera, coefficients, projected, jacobian, aspect_ratio_);
    } else {
      cv::projectPoints(view.board, rvec, tvec, camera, coefficients, projected);
    }
    const int rows = 2 * view.board.rows;
    const cv::Mat errors = projected.reshape(1, rows) - view.pixels.reshape(1, rows);
    if (!with_derivatives) {
      ViewNormals normals;
      normals.squared_error = errors.dot(errors);
      return normals;
    }
    // projectPoints' columns: rvec, tvec, then f, c and the coefficients, which are the
    // intrinsics' order; those beyond the projection's coefficients have zero derivatives.
    return normalsOf(jacobian, errors);
  }

 private:
  const std::vector<ViewPoints>& views_;
  int coefficient_count_;
  double aspect_ratio_;
  std::vector<int> free_;
};

// The coefficient count OpenCV's solve projects with, and returns: its distortion vector as
// cv::calibrateCamera shapes it for the flags.
int coefficientCountFor(int flags) {
  if (flags & cv::CALIB_TILTED_MODEL) return kAllCoefficients;
  if (flags & cv::CALIB_THIN_PRISM_MODEL) return 12;
  if (flags & cv::CALIB_RATIONAL_MODEL) return kAllCoefficients;
  return 5;
}

// What the flags hold, with what the model leaves out, as cv::calibrateCamera adds it.
int heldByModel(int flags) {
  if (!(flags & cv::CALIB_RATIONAL_MODEL)) flags |= cv::CALIB_FIX_K4 | cv::CALIB_FIX_K5 | cv::CALIB_FIX_K6;
  if (!(flags & cv::CALIB_THIN_PRISM_MODEL)) flags |= cv::CALIB_FIX_S1_S2_S3_S4;
  if (!(flags & cv::CALIB_TILTED_MODEL)) flags |= cv::CALIB_FIX_TAUX_TAUY;
  return flags;
}

Intrinsics startingIntrinsics(std::vector<ViewPoints>& views, cv::Size image_size, const cv::Mat& camera_matrix,
                              const cv::Mat& distortion, int flags) {
  cv::Matx33d camera;
  Intrinsics intrinsics;
  if (flags & cv::CALIB_USE_INTRINSIC_GUESS) {
    camera = guessedCamera(camera_matrix, image_size);
    if (flags & cv::CALIB_FIX_ASPECT_RATIO) aspectRatioOf(camera_matrix);
    const std::array<double, kAllCoefficients> guess = coefficientsOf(distortion);
    std::copy(guess.begin(), guess.begin() + coefficientCountFor(flags), intrinsics.val + 4);
  } else {
    flattenBoard(views);
    const double aspect = (flags & cv::CALIB_FIX_ASPECT_RATIO) ? aspectRatioOf(camera_matrix) : 0.0;
    std::vector<cv::Mat> boards(views.size()), pixels(views.size());  // in the single precision it takes
    for (std::size_t i = 0; i < views.size(); ++i) {
      views[i].board.reshape(3).convertTo(boards[i], CV_32F);
      views[i].pixels.reshape(2).convertTo(pixels[i], CV_32F);
    }
    camera = matx33Of(cv::initCameraMatrix2D(boards, pixels, image_size, aspect));
  }
  intrinsics[0] = camera(0, 0);
  intrinsics[1] = camera(1, 1);
  intrinsics[2] = camera(0, 2);
  intrinsics[3] = camera(1, 2);
  if (flags & cv::CALIB_ZERO_TANGENT_DIST) intrinsics[6] = intrinsics[7] = 0.0;
  return intrinsics;
}

cv::Mat coefficientRow(const Intrinsics& intrinsics, int count) {
  return cv::Mat(1, count, CV_64F, const_cast<double*>(intrinsics.val) + 4).clone();
}

}  // namespace

double calibrateCameraSparse(const std::vector<cv::Mat>& object_points, const std::vector<cv::Mat>& image_points,
                             cv::Size image_size, cv::Mat& camera_matrix, cv::Mat& distortion,
                             std::vector<cv::Mat>& rotation_vectors, std::vector<cv::Mat>& translation_vectors,
                             int flags, cv::TermCriteria criteria) {
  if (image_size.width <= 0 || image_size.height <= 0) fail("the image size must be positive");
  std::vector<ViewPoints> views = viewPointsOf(object_points, image_points);
  const int coefficient_count = coefficientCountFor(flags);
  BlockParameters parameters{startingIntrinsics(views, image_size, camera_matrix, distortion, flags),
                             std::vector<ViewPose>(views.size())};
  const cv::Matx33d start_camera(parameters.shared[0], 0.0, parameters.shared[2], 0.0,
                                 parameters.shared[1], parameters.shared[3], 0.0, 0.0, 1.0);
  const cv::Mat start_coefficients = coefficientRow(parameters.shared, coefficient_count);
  for (std::size_t i = 0; i < views.size(); ++i) {
    cv::Mat rvec, tvec;
    cv::solvePnP(views[i].board, views[i].pixels, start_camera, start_coefficients, rvec, tvec, false,
                 cv::SOLVEPNP_ITERATIVE);
    for (int k = 0; k < 3; ++k) {
      parameters.poses[i][k] = rvec.at<double>(k);
      parameters.poses[i][k + 3] = tvec.at<double>(k);
    }
  }

  const double aspect = (flags & cv::CALIB_FIX_ASPECT_RATIO) ? parameters.shared[0] / parameters.shared[1] : 0.0;
  const CameraProblem problem(views, coefficient_count, heldByModel(flags), aspect);
  const double squared_error = minimiseAsOpenCv(problem, parameters, criteria);

  int points = 0;
  for (const ViewPoints& view : views) points += view.board.rows;
  const Intrinsics& solved = parameters.shared;
  camera_matrix = (cv::Mat_<double>(3, 3) << solved[0], 0.0, solved[2], 0.0, solved[1], solved[3], 0.0, 0.0, 1.0);
  const bool column = !distortion.empty() && distortion.cols == 1;
  distortion = coefficientRow(solved, coefficient_count);
  if (column) distortion = distortion.t();
  rotation_vectors.assign(views.size(), cv::Mat());
  translation_vectors.assign(views.size(), cv::Mat());
  for (std::size_t i = 0; i < views.size(); ++i) {
    rotation_vectors[i] = cv::Mat(3, 1, CV_64F, parameters.poses[i].val).clone();
    translation_vectors[i] = cv::Mat(3, 1, CV_64F, parameters.poses[i].val + 3).clone();
  }
  return std::sqrt(squared_error / points);
}

bool sparseSolveChosen(const std::string& camera_solver, bool releases_points, std::size_t views) {
  if (camera_solver == "opencv") return false;
  if (camera_solver == "sparse") {
    if (releases_points) {
      throw std::invalid_argument(
          "IntrinsicCalibrator: the sparse solve does not release object points; use camera_solver 'opencv' or "
          "'auto' with calibrate_camera_method 'Release Object'");
    }
    return true;
  }
  if (camera_solver == "auto") return !releases_points && views >= static_cast<std::size_t>(kSparseSolveFromViews);
  throw std::invalid_argument("IntrinsicCalibrator: camera_solver must be 'opencv', 'sparse' or 'auto', got '" +
                              camera_solver + "'");
}


}  // namespace vemo::calibration
