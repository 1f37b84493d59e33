#include "vemo/calibration/rig/sparse_stereo_calibration.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "vemo/calibration/intrinsic/view_block_least_squares.hpp"

namespace vemo::calibration {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::invalid_argument("stereo solve: " + what); }

cv::Mat pointRows(const cv::Mat& points, int width, const char* name, std::size_t frame) {
  const std::size_t numbers = points.total() * static_cast<std::size_t>(points.channels());
  if (points.empty() || numbers % static_cast<std::size_t>(width) != 0 ||
      (points.depth() != CV_32F && points.depth() != CV_64F)) {
    fail(std::string(name) + " of frame " + std::to_string(frame) + " must be float or double with " +
         std::to_string(width) + " numbers per point");
  }
  cv::Mat rows;
  (points.isContinuous() ? points : points.clone())
      .reshape(1, static_cast<int>(numbers / static_cast<std::size_t>(width)))
      .convertTo(rows, CV_64F);
  return rows;
}

struct Camera {
  cv::Matx33d matrix;
  cv::Mat coefficients;  // 1 x 14, as OpenCV's stereo solve projects
};

Camera cameraOf(const cv::Mat& matrix, const cv::Mat& distortion) {
  if (matrix.rows != 3 || matrix.cols != 3) fail("camera matrices must be 3x3");
  Camera camera;
  cv::Mat as_double;
  matrix.convertTo(as_double, CV_64F);
  camera.matrix = cv::Matx33d(as_double.ptr<double>());
  camera.coefficients = cv::Mat::zeros(1, 14, CV_64F);
  if (!distortion.empty()) {
    const int count = static_cast<int>(distortion.total());
    if (count != 4 && count != 5 && count != 8 && count != 12 && count != 14) {
      fail("distortion coefficients must hold 4, 5, 8, 12 or 14 values");
    }
    distortion.reshape(1, 1).convertTo(camera.coefficients.colRange(0, count), CV_64F);
  }
  return camera;
}

struct Frame {
  cv::Mat board;  // N x 3
  cv::Mat first;  // N x 2
  cv::Mat second;
};

class StereoProblem final : public ViewBlockProblem {
 public:
  StereoProblem(const std::vector<Frame>& frames, Camera first, Camera second)
      : frames_(frames), first_(std::move(first)), second_(std::move(second)) {}

  std::size_t viewCount() const override { return frames_.size(); }
  const std::vector<int>& freeShared() const override { return free_; }

  // The shared block holds the relative pose (rvec, tvec); each view's pose is the board's
  // in the first camera.
  ViewNormals evaluateView(std::size_t index, const SharedParameters& shared, const ViewPose& pose,
                           bool with_derivatives) const override {
    const Frame& frame = frames_[index];
    const cv::Mat r1(3, 1, CV_64F, const_cast<double*>(pose.val)), t1(3, 1, CV_64F, const_cast<double*>(pose.val) + 3);
    const cv::Mat r2(3, 1, CV_64F, const_cast<double*>(shared.val)), t2(3, 1, CV_64F, const_cast<double*>(shared.val) + 3);
    cv::Mat r3, t3, dr3dr1, dr3dt1, dr3dr2, dr3dt2, dt3dr1, dt3dt1, dt3dr2, dt3dt2;
    cv::composeRT(r1, t1, r2, t2, r3, t3, dr3dr1, dr3dt1, dr3dr2, dr3dt2, dt3dr1, dt3dt1, dt3dr2, dt3dt2);
    const int rows = 2 * frame.board.rows;
    cv::Mat projected1, projected2, jacobian1, jacobian2;
    if (with_derivatives) {
      cv::projectPoints(frame.board, r1, t1, first_.matrix, first_.coefficients, projected1, jacobian1);
      cv::projectPoints(frame.board, r3, t3, second_.matrix, second_.coefficients, projected2, jacobian2);
    } else {
      cv::projectPoints(frame.board, r1, t1, first_.matrix, first_.coefficients, projected1);
      cv::projectPoints(frame.board, r3, t3, second_.matrix, second_.coefficients, projected2);
    }
    cv::Mat errors;
    cv::vconcat(projected1.reshape(1, rows) - frame.first.reshape(1, rows),
                projected2.reshape(1, rows) - frame.second.reshape(1, rows), errors);
    if (!with_derivatives) {
      ViewNormals normals;
      normals.squared_error = errors.dot(errors);
      return normals;
    }
    // The second camera's derivatives over the composed pose, carried to the frame's pose and
    // the relative pose (t3 does not depend on r1, nor r3 on t1).
    const cv::Mat by_r3 = jacobian2.colRange(0, 3), by_t3 = jacobian2.colRange(3, 6);
    cv::Mat jacobian = cv::Mat::zeros(2 * rows, 12, CV_64F);  // frame pose, then relative pose
    jacobian1.colRange(0, 6).copyTo(jacobian.rowRange(0, rows).colRange(0, 6));
    const cv::Mat second = jacobian.rowRange(rows, 2 * rows);
    cv::Mat(by_r3 * dr3dr1).copyTo(second.colRange(0, 3));
    cv::Mat(by_t3 * dt3dt1).copyTo(second.colRange(3, 6));
    cv::Mat(by_r3 * dr3dr2 + by_t3 * dt3dr2).copyTo(second.colRange(6, 9));
    cv::Mat(by_t3 * dt3dt2).copyTo(second.colRange(9, 12));
    return normalsOf(jacobian, errors);
  }

 private:
  const std::vector<Frame>& frames_;
  Camera first_, second_;
  std::vector<int> free_{0, 1, 2, 3, 4, 5};
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) * 0.5;
}

}  // namespace

double stereoCalibrateSparse(const std::vector<cv::Mat>& object_points, const std::vector<cv::Mat>& image_points1,
                             const std::vector<cv::Mat>& image_points2, const cv::Mat& camera_matrix1,
                             const cv::Mat& distortion1, const cv::Mat& camera_matrix2, const cv::Mat& distortion2,
                             cv::Mat& rotation, cv::Mat& translation, cv::TermCriteria criteria) {
  if (object_points.empty()) fail("no frames");
  if (image_points1.size() != object_points.size() || image_points2.size() != object_points.size()) {
    fail("every frame needs board points and both cameras' detections");
  }
  std::vector<Frame> frames;
  int points = 0;
  for (std::size_t i = 0; i < object_points.size(); ++i) {
    Frame frame{pointRows(object_points[i], 3, "board points", i), pointRows(image_points1[i], 2, "detections", i),
                pointRows(image_points2[i], 2, "detections", i)};
    if (frame.first.rows != frame.board.rows || frame.second.rows != frame.board.rows || frame.board.rows < 4) {
      fail("frame " + std::to_string(i) + " needs at least 4 board points, each detected in both cameras");
    }
    points += frame.board.rows;
    frames.push_back(std::move(frame));
  }
  const Camera first = cameraOf(camera_matrix1, distortion1), second = cameraOf(camera_matrix2, distortion2);

  BlockParameters parameters{SharedParameters::all(0.0), std::vector<ViewPose>(frames.size())};
  std::vector<std::vector<double>> relative(6);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    cv::Mat r1, t1, r2, t2, rotation1, rotation2, between;
    cv::solvePnP(frames[i].board, frames[i].first, first.matrix, first.coefficients, r1, t1);
    cv::solvePnP(frames[i].board, frames[i].second, second.matrix, second.coefficients, r2, t2);
    for (int k = 0; k < 3; ++k) {
      parameters.poses[i][k] = r1.at<double>(k);
      parameters.poses[i][k + 3] = t1.at<double>(k);
    }
    cv::Rodrigues(r1, rotation1);
    cv::Rodrigues(r2, rotation2);
    const cv::Mat relative_rotation = rotation2 * rotation1.t();
    const cv::Mat relative_translation = t2 - relative_rotation * t1;
    cv::Rodrigues(relative_rotation, between);
    for (int k = 0; k < 3; ++k) {
      relative[static_cast<std::size_t>(k)].push_back(between.at<double>(k));
      relative[static_cast<std::size_t>(k) + 3].push_back(relative_translation.at<double>(k));
    }
  }
  for (int k = 0; k < 6; ++k) parameters.shared[k] = median(relative[static_cast<std::size_t>(k)]);

  const StereoProblem problem(frames, first, second);
  const double squared_error = minimiseAsOpenCv(problem, parameters, criteria);
  cv::Rodrigues(cv::Mat(3, 1, CV_64F, parameters.shared.val), rotation);
  translation = cv::Mat(3, 1, CV_64F, parameters.shared.val + 3).clone();
  return std::sqrt(squared_error / (2.0 * points));
}

}  // namespace vemo::calibration
