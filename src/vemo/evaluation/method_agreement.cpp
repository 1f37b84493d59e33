#include "vemo/evaluation/method_agreement.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "vemo/tf/quaternion.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::quality {

namespace {

using tf::Quaternion;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double norm(const Quaternion& q) { return std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]); }

// Rotation angle between two unit quaternions, degrees: twice the angle between them as
// vectors (of the nearer sign), by atan2, which stays exact for small angles.
double angleBetweenDeg(const Quaternion& a, const Quaternion& b) {
  const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  const double sign = dot < 0 ? -1.0 : 1.0;
  Quaternion difference, sum;
  for (std::size_t i = 0; i < 4; ++i) {
    difference[i] = a[i] - sign * b[i];
    sum[i] = a[i] + sign * b[i];
  }
  return tf::degreesFromRadians(4.0 * std::atan2(norm(difference), norm(sum)));
}

void checkThreshold(double threshold, const char* name) {
  if (!(threshold >= 0.0)) {
    throw std::invalid_argument(std::string("assessMethodAgreement: ") + name + " must be 0 or more");
  }
}

}  // namespace

std::optional<MethodAgreement> assessMethodAgreement(const HandEyeMethodResults& method_results,
                                                     double translation_threshold_mm,
                                                     double rotation_threshold_deg) {
  checkThreshold(translation_threshold_mm, "translation_threshold_mm");
  checkThreshold(rotation_threshold_deg, "rotation_threshold_deg");
  std::vector<const HandEyeMethodResult*> solved;
  for (const auto& [name, entry] : method_results) {
    if (entry) solved.push_back(&*entry);
  }
  if (solved.size() < 2) return std::nullopt;

  std::array<std::vector<double>, 3> translations;
  std::array<std::vector<double>, 4> quaternion_components;
  std::vector<Quaternion> quaternions;
  for (const HandEyeMethodResult* entry : solved) {
    cv::Vec3d t;
    tf::translationOf(entry->tcp_T_camera).convertTo(t, CV_64F);
    cv::Matx33d rotation;
    tf::rotationOf(entry->tcp_T_camera).convertTo(rotation, CV_64F);
    Quaternion q = tf::quaternionOf(rotation);
    // q and -q are one rotation: take each on the side of the first so that medians mean something.
    if (!quaternions.empty()) {
      const Quaternion& first = quaternions.front();
      if (q[0] * first[0] + q[1] * first[1] + q[2] * first[2] + q[3] * first[3] < 0) {
        for (double& component : q) component = -component;
      }
    }
    quaternions.push_back(q);
    for (std::size_t i = 0; i < 3; ++i) translations[i].push_back(t[static_cast<int>(i)]);
    for (std::size_t i = 0; i < 4; ++i) quaternion_components[i].push_back(q[i]);
  }
  const cv::Vec3d median_translation(median(translations[0]), median(translations[1]), median(translations[2]));
  Quaternion median_rotation;
  for (std::size_t i = 0; i < 4; ++i) median_rotation[i] = median(quaternion_components[i]);
  const double length = norm(median_rotation);
  for (double& component : median_rotation) component /= length;

  MethodAgreement agreement;
  agreement.median_tcp_T_camera = tf::composeTransformationMatrix(cv::Mat(tf::rotationOf(median_rotation)),
                                                                  cv::Mat(median_translation));
  agreement.translation_threshold_mm = translation_threshold_mm;
  agreement.rotation_threshold_deg = rotation_threshold_deg;
  for (std::size_t k = 0; k < solved.size(); ++k) {
    const cv::Vec3d t(translations[0][k], translations[1][k], translations[2][k]);
    MethodDeviation deviation{solved[k]->method_name, 1000.0 * cv::norm(t - median_translation),
                              angleBetweenDeg(quaternions[k], median_rotation)};
    if (!(deviation.translation_mm <= translation_threshold_mm)) {
      agreement.translation_outliers.push_back(deviation.method_name);
    }
    if (!(deviation.rotation_deg <= rotation_threshold_deg)) agreement.rotation_outliers.push_back(deviation.method_name);
    agreement.deviations.push_back(std::move(deviation));
  }
  return agreement;
}

std::string formatMethodAgreement(const std::optional<MethodAgreement>& agreement) {
  std::ostringstream out;
  out << "  Deviation from the median of the methods:\n";
  if (!agreement) {
    out << "  Fewer than 2 methods succeeded: nothing to compare.\n";
    return out.str();
  }
  out << "  " << std::left << std::setw(12) << "Method" << std::right << std::setw(10) << "dt (mm)" << std::setw(10)
      << "dR (deg)" << "\n";
  out << std::fixed << std::setprecision(2);
  for (const MethodDeviation& deviation : agreement->deviations) {
    out << "  " << std::left << std::setw(12) << deviation.method_name << std::right << std::setw(10)
        << deviation.translation_mm << std::setw(10) << deviation.rotation_deg << "\n";
  }
  const auto verdict = [&](const char* what, const std::vector<std::string>& outliers, double threshold,
                           const char* unit) {
    out << "  >>> " << what << ": ";
    if (outliers.empty()) {
      out << "all " << agreement->deviations.size() << " methods within " << threshold << " " << unit
          << " of the median.\n";
      return;
    }
    out << "outlier(s) beyond " << threshold << " " << unit << ": ";
    for (std::size_t i = 0; i < outliers.size(); ++i) out << (i ? ", " : "") << outliers[i];
    out << ".\n";
  };
  verdict("Translation", agreement->translation_outliers, agreement->translation_threshold_mm, "mm");
  verdict("Rotation", agreement->rotation_outliers, agreement->rotation_threshold_deg, "deg");
  return out.str();
}

}  // namespace vemo::quality
