#pragma once

// The five hand-eye solvers side by side on the same captures, with a consensus verdict
// on the rotation about the camera's z axis (rz), the component most often poorly
// constrained. Agreement means the data determines the transform; one deviating solver
// hit a local optimum of its formulation; scattered results mean under-determined data.
//
// Folder evaluation/: the part of namespace vemo::quality that runs calibrations to judge
// them (this comparison, the benchmark, the verdicts). It is a folder of its own because
// it sits above calibration/, which prints quality/'s rotation variety: one folder for
// both parts would include calibration/ and be included by it, a loop.

#include <opencv2/core.hpp>

#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "vemo/calibration/hand_eye/hand_eye_result.hpp"
#include "vemo/targets/targets.hpp"

namespace vemo::quality {

struct HandEyeMethodResult {
  std::string method_name;        // key of calibration::handEyeMethodByNameMap
  cv::Mat tcp_T_camera;           // 4x4 CV_64F
  std::vector<double> pose_deg;   // tf::transformationMatrixToPose(tcp_T_camera): metres, degrees
  // The run's target consistency residual (world_T_target scatter over the captures).
  calibration::TargetConsistencyStats consistency;
  Verdict verdict;  // the run's verdict on its tcp_T_camera
  // RMS over every corner of the intrinsic calibration the runs share, pixels; NaN when the
  // intrinsics were given.
  double intrinsic_rms_px = std::numeric_limits<double>::quiet_NaN();
};

// Keyed by method name in byte order; an empty entry is a run that failed or threw.
using HandEyeMethodResults = std::map<std::string, std::optional<HandEyeMethodResult>>;

// Runs EyeInHandCalibrator::calibrate once per method of the table, in its key order, with
// the arguments' meaning there and default IntrinsicOptions but per_view_error_threshold.
// Every run logs its lines and prints its report exactly as an independent run would, but
// the captures (detections, intrinsics, target poses) are prepared once and shared: their
// inputs do not depend on the method. A run that throws a std::exception logs
// "[diag] method NAME failed: WHAT" and leaves its entry empty. Saves nothing.
HandEyeMethodResults compareHandEyeMethods(const Target& target, const std::vector<cv::Mat>& robot_T_tcp_list,
                                           const std::vector<cv::Mat>& image_list,
                                           const std::vector<cv::Mat>& camera_T_target_list,
                                           const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients,
                                           double per_view_error_threshold);

// The table (x, y, z in metres with 4 decimals, rx, ry, rz in degrees with 2) and, with two
// or more results, the rz spread, the translation spread and the verdict: all agree, one
// outlier, or no consensus. A method agrees when its rz lies within consensus_threshold_deg
// of the median rz (inclusive).
std::string formatMethodComparison(const HandEyeMethodResults& method_results, double consensus_threshold_deg);

}  // namespace vemo::quality
