#include "vemo/evaluation/hand_eye_method_comparison.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iomanip>
#include <sstream>
#include <utility>

#include "vemo/calibration/hand_eye/eye_in_hand_calibrator.hpp"
#include "vemo/calibration/hand_eye/hand_eye_methods.hpp"
#include "vemo/core/logging.hpp"
#include "vemo/tf/tf.hpp"

namespace vemo::quality {

namespace {

using calibration::EyeInHandCalibrator;

// The preparation of the first run, kept for the others: its outcome (captures or the
// exception it threw) and the lines it logged, which every later run logs again.
struct SharedPreparation {
  std::optional<EyeInHandCalibrator::PreparedCaptures> captures;
  std::exception_ptr failure;
  std::vector<logging::LogLine> log_lines;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace

HandEyeMethodResults compareHandEyeMethods(const Target& target, const std::vector<cv::Mat>& robot_T_tcp_list,
                                           const std::vector<cv::Mat>& image_list,
                                           const std::vector<cv::Mat>& camera_T_target_list,
                                           const cv::Mat& intrinsic_matrix, const cv::Mat& distortion_coefficients,
                                           double per_view_error_threshold) {
  calibration::IntrinsicOptions options;
  options.per_view_error_threshold = per_view_error_threshold;

  std::optional<SharedPreparation> shared;
  HandEyeMethodResults results;
  for (const auto& method : calibration::handEyeMethodByNameMap()) {
    const std::string& name = method.first;
    results[name] = std::nullopt;
    try {
      EyeInHandCalibrator calibrator(target, options);
      if (!shared) {
        shared.emplace();
        logging::Transcript transcript;
        try {
          shared->captures = calibrator.prepareCaptures(robot_T_tcp_list, image_list, camera_T_target_list,
                                                        intrinsic_matrix, distortion_coefficients);
        } catch (const std::exception&) {
          shared->failure = std::current_exception();
        }
        shared->log_lines = transcript.lines();
      } else {
        logging::replay(shared->log_lines);
      }
      if (shared->failure) std::rethrow_exception(shared->failure);

      const calibration::HandEyeResult result = calibrator.solvePreparedCaptures(*shared->captures, name);
      if (result.ok && !result.tcp_T_camera.empty()) {
        results[name] = HandEyeMethodResult{name, result.tcp_T_camera,
                                            tf::transformationMatrixToPose(result.tcp_T_camera), result.consistency,
                                            result.verdict, result.intrinsic_rms_px};
      }
    } catch (const std::exception& error) {
      logging::log(logging::Level::Warning, "[diag] method " + name + " failed: " + error.what());
    }
  }
  return results;
}

std::string formatMethodComparison(const HandEyeMethodResults& method_results, double consensus_threshold_deg) {
  const std::string rule(60, '=');
  const std::string thin_rule = "  " + std::string(58, '-') + "\n";
  std::ostringstream out;
  out << rule << "\nHAND-EYE CROSS-METHOD COMPARISON\n" << rule << "\n";
  out << "  " << std::left << std::setw(12) << "Method" << std::right << std::setw(8) << "x (m)" << std::setw(8)
      << "y (m)" << std::setw(8) << "z (m)" << std::setw(7) << "rx" << std::setw(7) << "ry" << std::setw(7) << "rz"
      << "\n";
  out << thin_rule;

  std::vector<const HandEyeMethodResult*> solved;
  for (const auto& [name, entry] : method_results) {
    out << "  " << std::left << std::setw(12) << name << std::right;
    if (!entry) {
      out << "(failed)\n";
      continue;
    }
    solved.push_back(&*entry);
    const std::vector<double>& pose = entry->pose_deg;
    out << std::fixed << std::setprecision(4);
    for (int i = 0; i < 3; ++i) out << std::setw(8) << pose.at(i);
    out << std::setprecision(2);
    for (int i = 3; i < 6; ++i) out << std::setw(7) << pose.at(i);
    out << "\n";
  }
  const std::size_t n = solved.size();
  if (n < 2) return out.str();

  std::vector<double> rz, xs, ys, zs;
  for (const HandEyeMethodResult* entry : solved) {
    xs.push_back(entry->pose_deg[0]);
    ys.push_back(entry->pose_deg[1]);
    zs.push_back(entry->pose_deg[2]);
    rz.push_back(entry->pose_deg[5]);
  }
  const double median_rz = median(rz);
  const auto spread = [](const std::vector<double>& values) {
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return *high - *low;
  };
  const double translation_spread_mm =
      1000.0 * std::sqrt(spread(xs) * spread(xs) + spread(ys) * spread(ys) + spread(zs) * spread(zs));
  std::vector<std::string> outliers;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(std::abs(rz[i] - median_rz) <= consensus_threshold_deg)) outliers.push_back(solved[i]->method_name);
  }
  const std::size_t agreeing = n - outliers.size();

  out << std::fixed << std::setprecision(2);
  out << thin_rule;
  out << "  rz total spread:      " << spread(rz) << " deg (median rz = " << median_rz << " deg)\n";
  out << "  translation spread:   " << translation_spread_mm << " mm\n";
  if (outliers.empty()) {
    out << "  >>> All " << n << " methods agree to within ~" << consensus_threshold_deg << " deg of median ("
        << median_rz << " deg).\n"
        << "      The data uniquely determines rz. If this differs from\n"
        << "      visual ground truth, the bias is in the *data* (robot\n"
        << "      kinematics or detection), not the solver.\n";
  } else if (agreeing + 1 == n) {
    out << "  >>> " << agreeing << "-of-" << n << " methods cluster near " << median_rz << " deg; outlier(s): ";
    for (std::size_t i = 0; i < outliers.size(); ++i) out << (i ? ", " : "") << outliers[i];
    out << ".\n"
        << "      Trust the consensus value (" << median_rz << " deg). The\n"
        << "      outlier likely hit a local optimum specific to its formulation.\n";
  } else {
    out << "  >>> No consensus  -  methods split into clusters with >" << consensus_threshold_deg
        << " deg spread.\n"
        << "      Solution is under-determined; capture more axis-diverse poses.\n";
  }
  return out.str();
}

}  // namespace vemo::quality
