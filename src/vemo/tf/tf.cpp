#include "vemo/tf/tf.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace vemo::tf {

cv::Mat poseToTransformationMatrix(const std::vector<double>& pose_xyzrpy_deg) {
  if (pose_xyzrpy_deg.size() != 6) {
    throw std::invalid_argument("poseToTransformationMatrix: expected 6 elements [x,y,z,rx,ry,rz]");
  }
  const double rx = radiansFromDegrees(pose_xyzrpy_deg[3]);
  const double ry = radiansFromDegrees(pose_xyzrpy_deg[4]);
  const double rz = radiansFromDegrees(pose_xyzrpy_deg[5]);
  const double cx = std::cos(rx), sx = std::sin(rx);
  const double cy = std::cos(ry), sy = std::sin(ry);
  const double cz = std::cos(rz), sz = std::sin(rz);

  cv::Mat transform = cv::Mat::eye(4, 4, CV_64F);
  auto T = [&](int r, int c) -> double& { return transform.at<double>(r, c); };
  T(0, 0) = cy * cz;
  T(0, 1) = sy * sx * cz - cx * sz;
  T(0, 2) = sy * cx * cz + sx * sz;
  T(1, 0) = cy * sz;
  T(1, 1) = sy * sx * sz + cx * cz;
  T(1, 2) = sy * cx * sz - sx * cz;
  T(2, 0) = -sy;
  T(2, 1) = sx * cy;
  T(2, 2) = cx * cy;
  T(0, 3) = pose_xyzrpy_deg[0];
  T(1, 3) = pose_xyzrpy_deg[1];
  T(2, 3) = pose_xyzrpy_deg[2];
  return transform;
}

std::vector<double> transformationMatrixToPose(const cv::Mat& transformation) {
  if (findPoseDefect(transformation, PoseRequirements{false, false, false, false}) != PoseDefect::None) {
    throw std::invalid_argument("transformationMatrixToPose: expected a 4x4 matrix");
  }
  cv::Mat m;
  transformation.convertTo(m, CV_64F);
  auto M = [&](int r, int c) { return m.at<double>(r, c); };

  // Out of a non-finite rotation block the branches below would pick finite angles, a
  // made-up pose; NaN says that the angles are unknown.
  if (!cv::checkRange(rotationOf(m))) {
    const double unknown = std::numeric_limits<double>::quiet_NaN();
    return {M(0, 3), M(1, 3), M(2, 3), unknown, unknown, unknown};
  }
  double rx = 0.0, ry = 0.0, rz = 0.0;
  const double r20 = M(2, 0);
  if (r20 > 1.0) {
    ry = -kPi / 2.0;
    rz = std::atan2(-M(0, 1), M(1, 1));
  } else {
    ry = r20 < -1.0 ? std::asin(1.0) : std::asin(-r20);
    if (std::abs(std::cos(ry)) > 1e-9) {
      rx = std::atan2(M(2, 1), M(2, 2));
      rz = std::atan2(M(1, 0), M(0, 0));
    } else {
      rz = std::atan2(-M(0, 1), M(1, 1));
    }
  }
  return {M(0, 3), M(1, 3), M(2, 3), degreesFromRadians(rx), degreesFromRadians(ry), degreesFromRadians(rz)};
}

cv::Mat composeTransformationMatrix(const cv::Mat& rotation, const cv::Mat& translation) {
  cv::Mat transform = cv::Mat::eye(4, 4, CV_64F);
  rotation.convertTo(rotationOf(transform), CV_64F);
  cv::Mat translation_64f;
  translation.convertTo(translation_64f, CV_64F);
  for (int r = 0; r < 3; ++r) transform.at<double>(r, 3) = translation_64f.at<double>(r);
  return transform;
}

cv::Mat averagePose(const std::vector<cv::Mat>& poses) {
  if (poses.empty()) throw std::invalid_argument("averagePose: poses must be non-empty");

  cv::Mat rotation_sum = cv::Mat::zeros(3, 3, CV_64F);
  cv::Mat translation_sum = cv::Mat::zeros(3, 1, CV_64F);
  for (const cv::Mat& pose : poses) {
    if (pose.rows < 3 || pose.cols < 4 || pose.channels() != 1) {
      throw std::invalid_argument("averagePose: expected 4x4 matrices");
    }
    cv::Mat m;
    pose.convertTo(m, CV_64F);
    rotation_sum += rotationOf(m);
    translation_sum += translationOf(m);
  }

  cv::Mat w, u, vt;
  cv::SVD::compute(rotation_sum, w, u, vt, cv::SVD::FULL_UV);
  cv::Mat rotation = u * vt;
  if (cv::determinant(rotation) < 0) {
    vt.row(2) *= -1.0;
    rotation = u * vt;
  }

  cv::Mat mean = cv::Mat::eye(4, 4, CV_64F);
  rotation.copyTo(rotationOf(mean));
  cv::Mat mean_translation = translation_sum * (1.0 / static_cast<double>(poses.size()));
  mean_translation.copyTo(translationOf(mean));
  return mean;
}

cv::Mat rotationOf(const cv::Mat& a_T_b) { return a_T_b(cv::Rect(0, 0, 3, 3)); }

cv::Mat translationOf(const cv::Mat& a_T_b) { return a_T_b(cv::Rect(3, 0, 1, 3)); }

cv::Mat rvecTvecToTransformationMatrix(const cv::Mat& rvec, const cv::Mat& tvec) {
  cv::Mat rotation;
  cv::Rodrigues(rvec, rotation);
  return composeTransformationMatrix(rotation, tvec);
}

void transformationMatrixToRvecTvec(const cv::Mat& a_T_b, cv::Mat& rvec, cv::Mat& tvec) {
  cv::Rodrigues(rotationOf(a_T_b), rvec);
  tvec = translationOf(a_T_b).clone();
}

double rotationAngleDeg(const cv::Mat& a_T_b, const cv::Mat& a_T_c) {
  const cv::Mat b_R_c = rotationOf(a_T_b).t() * rotationOf(a_T_c);
  const double cosine = std::clamp((cv::trace(b_R_c)[0] - 1.0) * 0.5, -1.0, 1.0);
  return degreesFromRadians(std::acos(cosine));
}

PoseDefect findPoseDefect(const cv::Mat& pose, const PoseRequirements& requirements) {
  if (pose.dims != 2 || pose.rows != 4 || pose.cols != 4 || pose.channels() != 1) {
    return PoseDefect::NotSingleChannel4x4;
  }
  if (requirements.finite && !cv::checkRange(pose)) return PoseDefect::NotFinite;
  cv::Mat pose_64f;
  pose.convertTo(pose_64f, CV_64F);
  const cv::Mat homogeneous_last_row = (cv::Mat_<double>(1, 4) << 0, 0, 0, 1);
  if (requirements.homogeneous_last_row &&
      !(cv::norm(pose_64f.row(3), homogeneous_last_row, cv::NORM_INF) < 1e-6)) {
    return PoseDefect::LastRowNotHomogeneous;
  }
  const cv::Mat rotation = rotationOf(pose_64f);
  if (requirements.invertible_rotation && !(std::abs(cv::determinant(rotation)) > 1e-6)) {
    return PoseDefect::SingularRotation;
  }
  if (requirements.orthonormal_rotation &&
      !(cv::norm(rotation.t() * rotation, cv::Mat::eye(3, 3, CV_64F), cv::NORM_INF) <= kOrthonormalityTolerance &&
        cv::determinant(rotation) > 0.0)) {
    return PoseDefect::NotRotation;
  }
  return PoseDefect::None;
}

std::string describePoseDefect(PoseDefect defect) {
  switch (defect) {
    case PoseDefect::None: return "is a valid pose";
    case PoseDefect::NotSingleChannel4x4: return "must be a single-channel 4x4 matrix";
    case PoseDefect::NotFinite: return "must hold finite values only";
    case PoseDefect::LastRowNotHomogeneous: return "must have the last row (0, 0, 0, 1)";
    case PoseDefect::SingularRotation: return "must have an invertible rotation block";
    case PoseDefect::NotRotation: return "must have a rotation block that is a proper rotation (orthonormal, det +1)";
  }
  return "is not a pose";
}

}  // namespace vemo::tf
