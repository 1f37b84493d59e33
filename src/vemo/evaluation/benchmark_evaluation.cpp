// CalibrationBenchmark: the evaluation detection, the error on one image and the hand-eye
// round trip.

#include <opencv2/calib3d.hpp>

#include <limits>

#include "vemo/core/logging.hpp"
#include "vemo/evaluation/calibration_benchmark.hpp"
#include "vemo/evaluation/evaluation_views.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::quality {

namespace benchmark {

namespace {

constexpr int kMinimumPoints = 4;
constexpr int kChessboardEvaluationFlags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE;

std::optional<ReprojectionInputs> inputsOf(std::optional<TargetView> view) {
  if (!view || view->image_points.rows < kMinimumPoints) return std::nullopt;
  return ReprojectionInputs{std::move(view->image_points), std::move(view->object_points)};
}

}  // namespace

TargetDetector evaluationDetector(const Target& target) {
  DetectionSettings settings;  // cornerSubPix window, zero zone and criteria as the defaults
  settings.chessboard_flags = kChessboardEvaluationFlags;
  settings.minimum_count = kMinimumPoints;
  settings.refine_markers_against_board = false;
  settings.annotate = false;
  return TargetDetector(target, settings);
}

EvaluationViews::EvaluationViews(const std::vector<cv::Mat>& images, const Target& target)
    : images_(images), detector_(evaluationDetector(target)), views_(images.size()) {}

const std::optional<ReprojectionInputs>& EvaluationViews::at(std::size_t index) {
  auto& view = views_.at(index);
  if (!view) view = inputsOf(detector_.detect(images_[index]));
  return *view;
}

double viewError(const ReprojectionInputs& view, const cv::Mat& rvec, const cv::Mat& tvec,
                 const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients) {
  const auto& [image_points, object_points] = view;
  cv::Mat projected;
  cv::projectPoints(object_points, rvec, tvec, intrinsic_matrix, distortion_coefficients, projected);
  return cv::norm(image_points, projected.reshape(2, image_points.rows), cv::NORM_L2) / image_points.rows;
}

std::optional<double> solvedViewError(const std::optional<ReprojectionInputs>& view, const cv::Mat& intrinsic_matrix,
                                      const cv::Mat& distortion_coefficients) {
  if (!view || view->first.rows < kMinimumPoints) return std::nullopt;
  cv::Mat rvec, tvec;
  if (!cv::solvePnP(view->second, view->first, intrinsic_matrix, distortion_coefficients, rvec, tvec, false,
                    cv::SOLVEPNP_ITERATIVE)) {
    return std::nullopt;
  }
  return viewError(*view, rvec, tvec, intrinsic_matrix, distortion_coefficients);
}

double handEyeRoundtrip(EvaluationViews& views, std::size_t image_count, const std::vector<cv::Mat>& robot_poses,
                        const cv::Mat& tcp_T_camera, const cv::Mat& intrinsic_matrix,
                        const cv::Mat& distortion_coefficients, const std::vector<cv::Mat>& board_robot_poses,
                        const std::vector<cv::Mat>& camera_T_target_list) {
  const double none = std::numeric_limits<double>::infinity();
  if (camera_T_target_list.empty() || camera_T_target_list.size() != board_robot_poses.size()) {
    logging::log(logging::Level::Warning,
                 "[Benchmark] hand_eye_roundtrip: camera_T_target_list missing  -  cannot recover base_T_board; "
                 "skipping.");
    return none;
  }
  cv::Mat tcp_T_camera_64;
  tcp_T_camera.convertTo(tcp_T_camera_64, CV_64F);
  const auto asDouble = [](const cv::Mat& pose) {
    cv::Mat converted;
    pose.convertTo(converted, CV_64F);
    return converted;
  };
  std::vector<cv::Mat> base_T_boards;
  for (std::size_t i = 0; i < board_robot_poses.size(); ++i) {
    base_T_boards.push_back(asDouble(board_robot_poses[i]) * tcp_T_camera_64 * asDouble(camera_T_target_list[i]));
  }
  const cv::Mat base_T_board = tf::averagePose(base_T_boards);
  const cv::Mat camera_T_tcp = tcp_T_camera_64.inv();

  double sum = 0.0;
  std::size_t frames = 0;
  for (std::size_t i = 0; i < image_count && i < robot_poses.size(); ++i) {
    const std::optional<ReprojectionInputs>& view = views.at(i);
    if (!view) continue;
    const cv::Mat camera_T_board = camera_T_tcp * asDouble(robot_poses[i]).inv() * base_T_board;
    cv::Mat rvec, tvec;
    tf::transformationMatrixToRvecTvec(camera_T_board, rvec, tvec);
    sum += viewError(*view, rvec, tvec, intrinsic_matrix, distortion_coefficients);
    ++frames;
  }
  if (frames == 0) {
    logging::log(logging::Level::Warning, "[Benchmark] hand_eye_roundtrip: no valid frames.");
    return none;
  }
  return sum / static_cast<double>(frames);
}

}  // namespace benchmark

std::optional<ReprojectionInputs> CalibrationBenchmark::reprojectionErrorInputs(const cv::Mat& image,
                                                                                const Target& target) const {
  return benchmark::EvaluationViews({image}, target).at(0);
}

std::optional<double> CalibrationBenchmark::reprojectionErrorOnImage(const cv::Mat& image, const Target& target,
                                                                     const cv::Mat& intrinsic_matrix,
                                                                     const cv::Mat& distortion_coefficients) const {
  return benchmark::solvedViewError(reprojectionErrorInputs(image, target), intrinsic_matrix, distortion_coefficients);
}

double CalibrationBenchmark::handEyeRoundtrip(const std::vector<cv::Mat>& images,
                                              const std::vector<cv::Mat>& robot_poses, const cv::Mat& tcp_T_camera,
                                              const cv::Mat& intrinsic_matrix,
                                              const cv::Mat& distortion_coefficients, const Target& target,
                                              const std::vector<cv::Mat>& camera_T_target_list) const {
  benchmark::EvaluationViews views(images, target);
  return benchmark::handEyeRoundtrip(views, images.size(), robot_poses, tcp_T_camera, intrinsic_matrix,
                                     distortion_coefficients, robot_poses, camera_T_target_list);
}

}  // namespace vemo::quality
