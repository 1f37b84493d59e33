#pragma once

// OpenCV's Levenberg-Marquardt (the schedule of cv::calibrateCamera and cv::stereoCalibrate)
// for problems whose parameters are one shared block (up to 18, some held) and one 6-parameter
// pose per view, each view's residuals touching only its pose and the shared block. Each step
// solves J'J, its diagonal scaled by 1 + lambda, through the Schur complement over the view
// poses: time linear in the views where OpenCV's dense solve of the whole matrix is cubic.
// Where OpenCV's schedule ends on a step too small to lower the error, Gauss-Newton steps
// carry the solution on to the stationary point OpenCV's steps approach (see settle in the
// source).

#include <opencv2/core.hpp>

#include <vector>

namespace vemo::calibration {

inline constexpr int kSharedParameterCount = 18;
using SharedParameters = cv::Vec<double, kSharedParameterCount>;
using ViewPose = cv::Vec<double, 6>;  // rvec, tvec

struct BlockParameters {
  SharedParameters shared;
  std::vector<ViewPose> poses;
};

// One view's part of the normal equations J'J d = J'e, and its squared error.
struct ViewNormals {
  cv::Matx<double, 6, 6> pose_pose;
  cv::Matx<double, 6, kSharedParameterCount> pose_shared;
  cv::Matx<double, kSharedParameterCount, kSharedParameterCount> shared_shared;
  ViewPose pose_gradient;
  SharedParameters shared_gradient;
  double squared_error = 0.0;
};

// The normals of a view's residuals `errors` (rows x 1) from their derivatives (rows x (6 + k),
// CV_64F): over the view's pose, then the first k <= 18 shared parameters (the others' zero).
ViewNormals normalsOf(const cv::Mat& jacobian, const cv::Mat& errors);

class ViewBlockProblem {
 public:
  virtual ~ViewBlockProblem() = default;
  virtual std::size_t viewCount() const = 0;
  // The view's squared error (the sum over its residuals), and with derivatives its normals.
  virtual ViewNormals evaluateView(std::size_t view, const SharedParameters& shared, const ViewPose& pose,
                                   bool with_derivatives) const = 0;
  // The shared parameters that move, ascending.
  virtual const std::vector<int>& freeShared() const = 0;
  // Restores what ties shared parameters to others after a step.
  virtual void tie(SharedParameters& shared) const { (void)shared; }
};

// Minimises from `parameters` under OpenCV's criteria (at most maxCount steps, 30 when not
// given and never above 1000; stop on a step changing the parameter vector by less than
// epsilon of its length, DBL_EPSILON when not given). Returns the squared error at the end.
double minimiseAsOpenCv(const ViewBlockProblem& problem, BlockParameters& parameters,
                        const cv::TermCriteria& criteria);

}  // namespace vemo::calibration
