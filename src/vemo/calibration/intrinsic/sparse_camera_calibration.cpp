#include "vemo/calibration/intrinsic/sparse_camera_calibration.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>


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

// OpenCV's intrinsic parameter vector: fx fy cx cy, then 14 distortion coefficients.
constexpr int kIntrinsics = 4 + kAllCoefficients;
using Intrinsics = cv::Vec<double, kIntrinsics>;
using Pose = cv::Vec<double, 6>;  // rvec, tvec
using PoseMatrix = cv::Matx<double, 6, 6>;
using PoseIntrinsics = cv::Matx<double, 6, kIntrinsics>;
using IntrinsicMatrix = cv::Matx<double, kIntrinsics, kIntrinsics>;

struct Parameters {
  Intrinsics intrinsics;
  std::vector<Pose> poses;
};

// One view's part of the normal equations J'J d = J'e at the current parameters: its pose
// block U, the pose-intrinsic block W, the intrinsic block V and the right-hand sides.
struct ViewNormals {
  PoseMatrix pose_pose;
  PoseIntrinsics pose_intrinsics;
  IntrinsicMatrix intrinsics_intrinsics;
  Pose pose_gradient;
  Intrinsics intrinsic_gradient;
  double squared_error = 0.0;
};

// The problem as OpenCV's solver sees it: which intrinsics move, the coefficient count its
// projection uses, and the aspect ratio that ties fx to fy.
class CameraProblem {
 public:
  CameraProblem(const std::vector<ViewPoints>& views, int coefficient_count, int flags, double aspect_ratio)
      : views_(views), coefficient_count_(coefficient_count), aspect_ratio_(aspect_ratio) {
    std::vector<bool> free(kIntrinsics, true);
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
    for (int k = 0; k < kIntrinsics; ++k) {
      if (free[static_cast<std::size_t>(k)] && k < 4 + coefficient_count) free_indices_.push_back(k);
    }
  }

  // The squared error of every view, and with derivatives its normal equations.
  std::vector<ViewNormals> evaluate(const Parameters& parameters, bool with_derivatives) const {
    std::vector<ViewNormals> normals(views_.size());
    cv::parallel_for_(cv::Range(0, static_cast<int>(views_.size())), [&](const cv::Range& range) {
      for (int i = range.start; i < range.end; ++i) {
        const auto view = static_cast<std::size_t>(i);
        normals[view] = evaluateView(views_[view], parameters.intrinsics, parameters.poses[view], with_derivatives);
      }
    });
    return normals;
  }

  // The Levenberg-Marquardt step of OpenCV's solver, J'J with its diagonal scaled by
  // 1 + lambda, solved through the Schur complement over the view poses instead of as one
  // dense matrix: the parameters minus the solution.
  Parameters step(const Parameters& from, const std::vector<ViewNormals>& normals, double lambda) const {
    const int free_count = static_cast<int>(free_indices_.size());
    const auto index = [&](int k) { return free_indices_[static_cast<std::size_t>(k)]; };
    cv::Mat complement = cv::Mat::zeros(free_count, free_count, CV_64F);
    cv::Mat reduced = cv::Mat::zeros(free_count, 1, CV_64F);
    for (const ViewNormals& view : normals) {
      for (int r = 0; r < free_count; ++r) {
        reduced.at<double>(r) += view.intrinsic_gradient[index(r)];
        for (int c = 0; c < free_count; ++c) {
          complement.at<double>(r, c) += view.intrinsics_intrinsics(index(r), index(c));
        }
      }
    }
    for (int k = 0; k < free_count; ++k) complement.at<double>(k, k) *= 1.0 + lambda;
    std::vector<cv::Mat> pose_inverses, couplings;  // U'^-1 and the free columns of W, per view
    for (const ViewNormals& view : normals) {
      cv::Mat damped(view.pose_pose, true);
      for (int k = 0; k < 6; ++k) damped.at<double>(k, k) *= 1.0 + lambda;
      cv::Mat inverse;
      if (cv::invert(damped, inverse, cv::DECOMP_CHOLESKY) == 0.0) cv::invert(damped, inverse, cv::DECOMP_SVD);
      cv::Mat coupling = cv::Mat::zeros(6, std::max(free_count, 1), CV_64F);  // a zero column when nothing is free
      for (int c = 0; c < free_count; ++c) {
        for (int r = 0; r < 6; ++r) coupling.at<double>(r, c) = view.pose_intrinsics(r, index(c));
      }
      if (free_count > 0) {
        complement -= coupling.t() * inverse * coupling;
        reduced -= coupling.t() * (inverse * cv::Mat(view.pose_gradient));
      }
      pose_inverses.push_back(inverse);
      couplings.push_back(coupling);
    }
    cv::Mat intrinsic_step = cv::Mat::zeros(std::max(free_count, 1), 1, CV_64F);
    if (free_count > 0) cv::solve(complement, reduced, intrinsic_step, cv::DECOMP_SVD);
    Parameters next = from;
    for (int k = 0; k < free_count; ++k) next.intrinsics[index(k)] -= intrinsic_step.at<double>(k);
    for (std::size_t i = 0; i < normals.size(); ++i) {
      const cv::Mat pose_step = pose_inverses[i] * (cv::Mat(normals[i].pose_gradient) - couplings[i] * intrinsic_step);
      for (int k = 0; k < 6; ++k) next.poses[i][k] -= pose_step.at<double>(k);
    }
    tieFocalLengths(next);
    return next;
  }

  void tieFocalLengths(Parameters& parameters) const {
    if (aspect_ratio_ > 0.0) parameters.intrinsics[0] = parameters.intrinsics[1] * aspect_ratio_;
  }

 private:
  ViewNormals evaluateView(const ViewPoints& view, const Intrinsics& intrinsics, const Pose& pose,
                           bool with_derivatives) const {
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
    ViewNormals normals;
    normals.squared_error = errors.dot(errors);
    if (!with_derivatives) return normals;
    // projectPoints' columns: rvec, tvec, f, c, then the coefficients; the intrinsics beyond
    // the projection's coefficients have zero derivatives, as in OpenCV's solver.
    cv::Mat full = cv::Mat::zeros(rows, 6 + kIntrinsics, CV_64F);
    jacobian.copyTo(full.colRange(0, jacobian.cols));
    const cv::Mat pose_part = full.colRange(0, 6), intrinsic_part = full.colRange(6, 6 + kIntrinsics);
    normals.pose_pose = PoseMatrix(cv::Mat(pose_part.t() * pose_part).ptr<double>());
    normals.pose_intrinsics = PoseIntrinsics(cv::Mat(pose_part.t() * intrinsic_part).ptr<double>());
    normals.intrinsics_intrinsics = IntrinsicMatrix(cv::Mat(intrinsic_part.t() * intrinsic_part).ptr<double>());
    normals.pose_gradient = Pose(cv::Mat(pose_part.t() * errors).ptr<double>());
    normals.intrinsic_gradient = Intrinsics(cv::Mat(intrinsic_part.t() * errors).ptr<double>());
    return normals;
  }

  const std::vector<ViewPoints>& views_;
  int coefficient_count_;
  double aspect_ratio_;
  std::vector<int> free_indices_;
};

double squaredErrorOf(const std::vector<ViewNormals>& normals) {
  double sum = 0.0;
  for (const ViewNormals& view : normals) sum += view.squared_error;
  return sum;
}

double relativeChange(const Parameters& now, const Parameters& before) {
  double change = cv::norm(now.intrinsics, before.intrinsics, cv::NORM_L2SQR);
  double size = cv::norm(before.intrinsics, cv::NORM_L2SQR);
  for (std::size_t i = 0; i < now.poses.size(); ++i) {
    change += cv::norm(now.poses[i], before.poses[i], cv::NORM_L2SQR);
    size += cv::norm(before.poses[i], cv::NORM_L2SQR);
  }
  return std::sqrt(change) / std::max(std::sqrt(size), DBL_EPSILON);
}

// Where OpenCV's schedule ends on a step too small to lower the error, the error's
// rounding (about 1e-14 of it) hides the last gains, and the point reached depends on which
// steps rounding let through: on weakly determined coefficients up to 1e-7 away from the
// stationary point. Gauss-Newton steps then go on towards it, taken while each is at most
// half the one before; a step that no longer shrinks is rounding, and stops them.
constexpr double kRoundingStep = 1e-12;  // a step this small was let through by the error's rounding

void settle(const CameraProblem& problem, Parameters& parameters) {
  double previous_change = std::numeric_limits<double>::infinity();
  for (int step = 0; step < 40; ++step) {
    const Parameters next = problem.step(parameters, problem.evaluate(parameters, true), 0.0);
    const double change = relativeChange(next, parameters);
    if (!(change <= 0.9 * previous_change)) return;
    parameters = next;
    previous_change = change;
  }
}

// OpenCV's Levenberg-Marquardt schedule: lambda starts at 1e-3, is multiplied by 10 while a
// step raises the error (up to 1e16) and divided by 10 after each step taken (down to
// 1e-16); the solve stops after the iteration limit (30 when not given, at most 1000) or a
// step that changes the parameters by less than epsilon of their length (DBL_EPSILON when not
// given). Returns the squared error at the end.
double minimise(const CameraProblem& problem, Parameters& parameters, const cv::TermCriteria& criteria) {
  const int max_iterations = (criteria.type & cv::TermCriteria::COUNT) ? std::clamp(criteria.maxCount, 1, 1000) : 30;
  const double epsilon = (criteria.type & cv::TermCriteria::EPS) ? std::max(criteria.epsilon, 0.0) : DBL_EPSILON;
  int lambda_exponent = -3;
  std::vector<ViewNormals> normals = problem.evaluate(parameters, true);
  double error = squaredErrorOf(normals);
  for (int iteration = 1;; ++iteration) {
    const Parameters before = parameters;
    const double error_before = error;
    parameters = problem.step(before, normals, std::pow(10.0, lambda_exponent));
    error = squaredErrorOf(problem.evaluate(parameters, false));
    while (error > error_before && ++lambda_exponent <= 16) {
      parameters = problem.step(before, normals, std::pow(10.0, lambda_exponent));
      error = squaredErrorOf(problem.evaluate(parameters, false));
    }
    lambda_exponent = std::max(lambda_exponent - 1, -16);
    const double change = relativeChange(parameters, before);
    if (change < std::min(epsilon, kRoundingStep)) {
      settle(problem, parameters);
      return squaredErrorOf(problem.evaluate(parameters, false));
    }
    if (iteration >= max_iterations || change < epsilon) return error;
    normals = problem.evaluate(parameters, true);
    error = squaredErrorOf(normals);
  }
}

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
  Parameters parameters{startingIntrinsics(views, image_size, camera_matrix, distortion, flags),
                        std::vector<Pose>(views.size())};
  const cv::Matx33d start_camera(parameters.intrinsics[0], 0.0, parameters.intrinsics[2], 0.0,
                                 parameters.intrinsics[1], parameters.intrinsics[3], 0.0, 0.0, 1.0);
  const cv::Mat start_coefficients = coefficientRow(parameters.intrinsics, coefficient_count);
  for (std::size_t i = 0; i < views.size(); ++i) {
    cv::Mat rvec, tvec;
    cv::solvePnP(views[i].board, views[i].pixels, start_camera, start_coefficients, rvec, tvec, false,
                 cv::SOLVEPNP_ITERATIVE);
    for (int k = 0; k < 3; ++k) {
      parameters.poses[i][k] = rvec.at<double>(k);
      parameters.poses[i][k + 3] = tvec.at<double>(k);
    }
  }

  const double aspect = (flags & cv::CALIB_FIX_ASPECT_RATIO) ? parameters.intrinsics[0] / parameters.intrinsics[1] : 0.0;
  const CameraProblem problem(views, coefficient_count, heldByModel(flags), aspect);
  const double squared_error = minimise(problem, parameters, criteria);

  int points = 0;
  for (const ViewPoints& view : views) points += view.board.rows;
  const Intrinsics& solved = parameters.intrinsics;
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

}  // namespace vemo::calibration
