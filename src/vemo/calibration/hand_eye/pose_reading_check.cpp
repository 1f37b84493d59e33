#include "vemo/calibration/hand_eye/pose_reading_check.hpp"

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>

#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/core/parallel_map.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::calibration {

namespace {

constexpr double kMillimetre = 0.001;

// Rotation angle (radians) and translation along the screw axis of a motion.
struct Screw {
  double angle = 0.0;
  double along_axis = 0.0;
};

Screw screwOf(const cv::Mat& motion) {
  cv::Mat rotation_vector;
  cv::Rodrigues(tf::rotationOf(motion), rotation_vector);
  Screw screw;
  screw.angle = cv::norm(rotation_vector);
  if (screw.angle > 0.0) screw.along_axis = tf::translationOf(motion).dot(rotation_vector) / screw.angle;
  return screw;
}

std::vector<cv::Mat> scaledTranslations(const std::vector<cv::Mat>& poses, double scale) {
  std::vector<cv::Mat> scaled;
  for (const cv::Mat& pose : poses) {
    cv::Mat copy = pose.clone();
    tf::translationOf(copy) *= scale;
    scaled.push_back(copy);
  }
  return scaled;
}

std::vector<cv::Mat> inverted(const std::vector<cv::Mat>& poses) {
  std::vector<cv::Mat> inverses;
  for (const cv::Mat& pose : poses) inverses.push_back(pose.inv());
  return inverses;
}

// Root mean square of robot - scale * camera screw translations over the motions between
// every two captures whose camera motion has a screw axis, with the robot translations
// multiplied by robot_scale.
double screwMismatch(const std::vector<Screw>& robot, const std::vector<Screw>& camera, double robot_scale,
                     double camera_scale) {
  const double low = tf::radiansFromDegrees(kScrewAxisMinRotationDeg);
  double sum = 0.0;
  std::size_t count = 0;
  for (std::size_t k = 0; k < robot.size(); ++k) {
    if (camera[k].angle < low || camera[k].angle > tf::kPi - low) continue;
    const double difference = robot_scale * robot[k].along_axis - camera_scale * camera[k].along_axis;
    sum += difference * difference;
    ++count;
  }
  return count >= 2 ? std::sqrt(sum / static_cast<double>(count)) : std::numeric_limits<double>::quiet_NaN();
}

// How a reading explains the captures: the mean distance of the target's position in the
// base frame from its mean, under the solution of AX = XB for these poses (infinite without
// one), and how far the solved transform and the target's mean pose reach.
struct ReadingFit {
  double spread = std::numeric_limits<double>::infinity();
  double hand_eye_reach = 0.0;  // |translation of the solved X|
  double target_reach = 0.0;    // |mean target position in the chain's base frame|
};

// The solution of a reading, empty when the solver finds none: under a wrong reading some
// solvers fail to normalise their rotation and throw, and TSAI may find too few informative
// motions.
template <class Solve>
cv::Mat solvedOrEmpty(Solve solve) {
  try {
    return solve();
  } catch (const cv::Exception&) {
    return cv::Mat();
  }
}

ReadingFit fitReading(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& camera_T_target_list,
                      const cv::Mat& tcp_T_camera) {
  ReadingFit fit;
  if (tcp_T_camera.empty() || !cv::checkRange(tcp_T_camera)) return fit;
  std::vector<cv::Vec3d> positions;
  cv::Vec3d mean(0, 0, 0);
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    const cv::Mat base_T_target = robot_T_tcp_list[i] * tcp_T_camera * camera_T_target_list[i];
    positions.emplace_back(tf::translationOf(base_T_target));
    mean += positions.back();
  }
  mean *= 1.0 / static_cast<double>(positions.size());
  double sum = 0.0;
  for (const cv::Vec3d& position : positions) sum += cv::norm(position - mean);
  fit.spread = sum / static_cast<double>(positions.size());
  fit.hand_eye_reach = cv::norm(tf::translationOf(tcp_T_camera));
  fit.target_reach = cv::norm(mean);
  return fit;
}

ReadingFit solveReading(const std::vector<cv::Mat>& robot_T_tcp_list, const std::vector<cv::Mat>& camera_T_target_list,
                        int method) {
  return fitReading(robot_T_tcp_list, camera_T_target_list,
                    solvedOrEmpty([&] { return solveHandEyeEquation(robot_T_tcp_list, camera_T_target_list, method); }));
}

// A length as the warnings give it: millimetres, one decimal below 100 mm.
std::string millimetres(double metres) {
  const double mm = metres / kMillimetre;
  std::ostringstream text;
  text << std::fixed << std::setprecision(mm < 100.0 ? 1 : 0) << mm << " mm";
  return text.str();
}

bool explainsMuchBetter(double alternative, double as_given) {
  return alternative <= kPlausibleReadingResidualM && alternative * kBetterReadingFactor <= as_given;
}

}  // namespace

PoseReadingResiduals measurePoseReadings(HandEyeSolutions& solutions, int method, FlangeHolds holder) {
  const std::vector<cv::Mat>& robot_T_tcp_list = solutions.robotTTcpList();
  const std::vector<cv::Mat>& camera_T_target_list = solutions.cameraTTargetList();
  std::vector<Screw> robot_screws, camera_screws;
  for (std::size_t i = 0; i < robot_T_tcp_list.size(); ++i) {
    for (std::size_t j = i + 1; j < robot_T_tcp_list.size(); ++j) {
      robot_screws.push_back(screwOf(robot_T_tcp_list[j].inv() * robot_T_tcp_list[i]));
      camera_screws.push_back(screwOf(camera_T_target_list[j] * camera_T_target_list[i].inv()));
    }
  }
  PoseReadingResiduals residuals;
  residuals.screw_as_given_m = screwMismatch(robot_screws, camera_screws, 1.0, 1.0);
  residuals.screw_robot_millimetres_m = screwMismatch(robot_screws, camera_screws, kMillimetre, 1.0);
  residuals.screw_camera_millimetres_m = screwMismatch(robot_screws, camera_screws, 1.0, kMillimetre);
  if (explainsMuchBetter(residuals.screw_robot_millimetres_m, residuals.screw_as_given_m)) {
    residuals.robot_scale = kMillimetre;
  } else if (explainsMuchBetter(residuals.screw_camera_millimetres_m, residuals.screw_as_given_m)) {
    residuals.camera_scale = kMillimetre;
  }

  const std::vector<cv::Mat> robot = scaledTranslations(robot_T_tcp_list, residuals.robot_scale);
  const std::vector<cv::Mat> camera = scaledTranslations(camera_T_target_list, residuals.camera_scale);
  // Unscaled, the reading as given is the run's own solve.
  const bool as_given = residuals.robot_scale == 1.0 && residuals.camera_scale == 1.0;
  residuals.spread_as_given_m =
      as_given ? fitReading(robot, camera, solvedOrEmpty([&] { return solutions.solution(method); })).spread
               : solveReading(robot, camera, method).spread;
  // The two inversions are solves of their own, each quadratic in the captures: side by side.
  std::vector<Outcome<ReadingFit>> inversions = parallelMap(2, [&](std::size_t k) {
    return k == 0 ? solveReading(inverted(robot), camera, method) : solveReading(robot, inverted(camera), method);
  });
  const ReadingFit robot_inverted = inversions[0].take();
  const ReadingFit camera_inverted = inversions[1].take();
  residuals.spread_robot_inverted_m = robot_inverted.spread;
  residuals.spread_camera_inverted_m = camera_inverted.spread;
  // The two inverted readings explain the same captures equally well, with the roles of the
  // hand-eye transform and the target's pose swapped; what is held by the flange sits near it.
  const auto flange_reach = [&](const ReadingFit& fit) {
    return holder == FlangeHolds::camera ? fit.hand_eye_reach : fit.target_reach;
  };
  residuals.flange_reach_robot_inverted_m = flange_reach(robot_inverted);
  residuals.flange_reach_camera_inverted_m = flange_reach(camera_inverted);
  return residuals;
}

std::vector<std::string> findPoseMisreadings(HandEyeSolutions& solutions, int method, FlangeHolds holder,
                                             const std::string& class_name) {
  const PoseReadingResiduals r = measurePoseReadings(solutions, method, holder);
  const std::string prefix = "[" + class_name + "] ";
  std::vector<std::string> warnings;
  const auto screw_agreement = [&](double alternative) {
    return ": the robot and camera motions agree to " + millimetres(alternative) +
           " along their screw axes with them read as millimetres, " + millimetres(r.screw_as_given_m) + " as given";
  };
  if (r.robot_scale != 1.0) {
    warnings.push_back(prefix + "robot translations look like millimetres (metres expected)" +
                       screw_agreement(r.screw_robot_millimetres_m));
  }
  if (r.camera_scale != 1.0) {
    warnings.push_back(prefix +
                       "camera_T_target translations look like millimetres (metres expected; are the target's "
                       "lengths in millimetres?)" +
                       screw_agreement(r.screw_camera_millimetres_m));
  }
  const auto position_agreement = [&](double alternative) {
    return ": the target's position agrees to " + millimetres(alternative) + " with them inverted, " +
           millimetres(r.spread_as_given_m) + " as given";
  };
  const bool robot_inverted = explainsMuchBetter(r.spread_robot_inverted_m, r.spread_as_given_m);
  const bool camera_inverted = explainsMuchBetter(r.spread_camera_inverted_m, r.spread_as_given_m);
  if (robot_inverted && (!camera_inverted || r.flange_reach_robot_inverted_m <= r.flange_reach_camera_inverted_m)) {
    warnings.push_back(prefix + "robot poses look inverted (flange_T_base given instead of base_T_flange)" +
                       position_agreement(r.spread_robot_inverted_m));
  } else if (camera_inverted) {
    warnings.push_back(prefix + "camera poses look inverted (target_T_camera given instead of camera_T_target)" +
                       position_agreement(r.spread_camera_inverted_m));
  }
  return warnings;
}

}  // namespace vemo::calibration
