#include "vemo/targets/charuco_layout_check.hpp"

#include <opencv2/calib3d.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "vemo/core/parallel_map.hpp"
#include "vemo/targets/target_check.hpp"
#include "vemo/targets/target_detection.hpp"

namespace vemo {

namespace {

constexpr char kOperation[] = "checkCharucoLayout";
// Candidates differ from the target's layout by up to this many squares per dimension.
constexpr int kLargestChange = 2;
constexpr double kUnfit = std::numeric_limits<double>::infinity();

struct Candidate {
  cv::Size squares;
  int changes;  // squares added or removed over both dimensions, plus one for a swap
};

std::string layoutText(cv::Size squares) {
  return std::to_string(squares.width) + "x" + std::to_string(squares.height);
}

// One marker in every white square; the top-left square is black (on OpenCV 4.6 and on
// the later versions alike, as the adapter never asks for their legacy pattern).
std::int64_t markersOnBoard(cv::Size squares) { return static_cast<std::int64_t>(squares.width) * squares.height / 2; }

// Board-frame (x, y) of the four corners of every marker of `target` laid out as `squares`,
// indexed by marker id, as OpenCV's board places them.
std::vector<std::vector<cv::Point2f>> markerCornersOnBoard(const CharucoTarget& target, cv::Size squares) {
  CharucoTarget layout = target;
  layout.squares_x = squares.width;
  layout.squares_y = squares.height;
  const aruco::CharucoBoard board = layout.buildBoard();
  const std::vector<std::vector<cv::Point3f>> markers = board.getObjPoints();
  const std::vector<int> ids = board.getIds();
  std::vector<std::vector<cv::Point2f>> by_id(markers.size());
  for (size_t i = 0; i < markers.size(); ++i) {
    for (const cv::Point3f& corner : markers[i]) by_id[static_cast<size_t>(ids[i])].emplace_back(corner.x, corner.y);
  }
  return by_id;
}

// Edge of one square in the image, pixels: the mean marker edge scaled to the square.
double squareEdgeInImage(const DetectedMarkers& view, const CharucoTarget& target) {
  double edges = 0.0;
  for (const std::vector<cv::Point2f>& corners : view.corners) {
    for (size_t k = 0; k < 4; ++k) edges += cv::norm(corners[(k + 1) % 4] - corners[k]);
  }
  return edges / (4.0 * static_cast<double>(view.corners.size())) * target.square_length / target.marker_length;
}

// RMS distance of the view's marker corners from the homography that best carries their
// board positions onto them, in square edges. Markers beyond the board are left out (strays,
// as measure() has made sure); kUnfit when fewer than the minimum are left.
double viewResidual(const DetectedMarkers& view, const std::vector<std::vector<cv::Point2f>>& board_corners,
                    const CharucoTarget& target) {
  std::vector<cv::Point2f> board_points;
  std::vector<cv::Point2f> image_points;
  for (size_t i = 0; i < view.ids.size(); ++i) {
    const auto id = static_cast<size_t>(view.ids[i]);
    if (id >= board_corners.size()) continue;
    board_points.insert(board_points.end(), board_corners[id].begin(), board_corners[id].end());
    image_points.insert(image_points.end(), view.corners[i].begin(), view.corners[i].end());
  }
  if (board_points.size() < 4 * static_cast<size_t>(kCharucoLayoutMinimumMarkers)) return kUnfit;
  // Least squares over every corner: a robust fit would explain away the misplaced markers.
  const cv::Mat homography = cv::findHomography(board_points, image_points);
  if (homography.empty()) return kUnfit;
  std::vector<cv::Point2f> mapped;
  cv::perspectiveTransform(board_points, mapped, homography);
  double squared = 0.0;
  for (size_t k = 0; k < mapped.size(); ++k) {
    const cv::Point2d difference = mapped[k] - image_points[k];
    squared += difference.dot(difference);
  }
  return std::sqrt(squared / static_cast<double>(mapped.size())) / squareEdgeInImage(view, target);
}

// The highest marker id seen in two or more of the views, or in the only one: an id seen
// in one view of several may be a stray detection elsewhere in the scene, and a single
// stray must not condemn the layout.
int highestConfirmedId(const std::vector<DetectedMarkers>& views) {
  std::map<int, int> views_by_id;
  for (const DetectedMarkers& view : views) {
    for (const int id : std::set<int>(view.ids.begin(), view.ids.end())) ++views_by_id[id];
  }
  const int needed = std::min(2, static_cast<int>(views.size()));
  int highest = -1;
  for (const auto& [id, count] : views_by_id) {
    if (count >= needed) highest = id;
  }
  return highest;
}

double median(std::vector<double> values) {
  const size_t middle = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle), values.end());
  const double upper = values[middle];
  if (values.size() % 2 == 1) return upper;
  const double lower = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(middle));
  return (lower + upper) / 2.0;
}

CharucoLayoutFit measure(const CharucoTarget& target, cv::Size squares, const std::vector<DetectedMarkers>& views,
                         int highest_confirmed_id) {
  CharucoLayoutFit fit{squares.width, squares.height, kUnfit};
  if (highest_confirmed_id >= markersOnBoard(squares)) return fit;
  const std::vector<std::vector<cv::Point2f>> board_corners = markerCornersOnBoard(target, squares);
  std::vector<double> residuals;
  for (const DetectedMarkers& view : views) residuals.push_back(viewResidual(view, board_corners, target));
  fit.residual_squares = median(std::move(residuals));
  return fit;
}

bool fits(const CharucoLayoutFit& fit) { return fit.residual_squares <= kCharucoLayoutFitLimitSquares; }

// Layouts a square or two larger or smaller in each dimension, also turned, that OpenCV
// can build with the dictionary, fewest changes first.
std::vector<Candidate> candidates(cv::Size given, int dictionary_markers) {
  std::map<std::pair<int, int>, int> changes_by_layout;
  for (int swapped = 0; swapped <= 1; ++swapped) {
    const cv::Size base = swapped ? cv::Size(given.height, given.width) : given;
    for (int dx = -kLargestChange; dx <= kLargestChange; ++dx) {
      for (int dy = -kLargestChange; dy <= kLargestChange; ++dy) {
        const cv::Size squares(base.width + dx, base.height + dy);
        if (squares == given || squares.width < 2 || squares.height < 2) continue;
        if (markersOnBoard(squares) > dictionary_markers) continue;
        const int changes = swapped + std::abs(dx) + std::abs(dy);
        const auto [entry, added] = changes_by_layout.emplace(std::make_pair(squares.width, squares.height), changes);
        if (!added) entry->second = std::min(entry->second, changes);
      }
    }
  }
  std::vector<Candidate> result;
  for (const auto& [layout, changes] : changes_by_layout) {
    result.push_back({cv::Size(layout.first, layout.second), changes});
  }
  std::stable_sort(result.begin(), result.end(),
                   [](const Candidate& a, const Candidate& b) { return a.changes < b.changes; });
  return result;
}

void requireWellFormed(const DetectedMarkers& view, size_t index) {
  const std::string image = std::string(kOperation) + ": image " + std::to_string(index);
  if (view.corners.size() != view.ids.size()) {
    throw std::invalid_argument(image + " has " + std::to_string(view.corners.size()) + " markers but " +
                                std::to_string(view.ids.size()) + " ids");
  }
  for (const std::vector<cv::Point2f>& corners : view.corners) {
    if (corners.size() != 4) {
      throw std::invalid_argument(image + " has a marker with " + std::to_string(corners.size()) +
                                  " corners, not 4");
    }
    for (const cv::Point2f& corner : corners) {
      if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) {
        throw std::invalid_argument(image + " has a marker corner that is not finite");
      }
    }
  }
  for (const int id : view.ids) {
    if (id < 0) throw std::invalid_argument(image + " has the negative marker id " + std::to_string(id));
  }
}

}  // namespace

CharucoLayoutCheck checkCharucoLayout(const CharucoTarget& target, const std::vector<DetectedMarkers>& markers) {
  requireUsableTarget(target);
  for (size_t i = 0; i < markers.size(); ++i) requireWellFormed(markers[i], i);
  const cv::Size given(target.squares_x, target.squares_y);
  // Builds the target's own board first: one the dictionary cannot fill is refused even
  // when no image has markers.
  markerCornersOnBoard(target, given);

  CharucoLayoutCheck check;
  std::vector<DetectedMarkers> views;
  for (const DetectedMarkers& view : markers) {
    if (static_cast<int>(view.ids.size()) >= kCharucoLayoutMinimumMarkers) views.push_back(view);
  }
  check.images_used = static_cast<int>(views.size());
  if (views.empty()) return check;
  const int highest_id = highestConfirmedId(views);

  check.layouts.push_back(measure(target, given, views, highest_id));
  if (fits(check.layouts.front())) {
    check.fitting_layout = given;
    return check;
  }
  check.fits = false;
  int best_changes = std::numeric_limits<int>::max();
  double best_residual = kUnfit;
  for (const Candidate& candidate : candidates(given, target.buildDictionary().markerCount())) {
    const CharucoLayoutFit fit = measure(target, candidate.squares, views, highest_id);
    check.layouts.push_back(fit);
    if (!fits(fit) || candidate.changes > best_changes) continue;
    if (candidate.changes < best_changes || fit.residual_squares < best_residual) {
      best_changes = candidate.changes;
      best_residual = fit.residual_squares;
      check.fitting_layout = candidate.squares;
    }
  }
  check.warning = "ChArUco markers do not fit a " + layoutText(given) + " board";
  check.warning += check.fitting_layout
                       ? "; they fit a " + layoutText(*check.fitting_layout) + " board (squares_x x squares_y)"
                       : ", nor any board a square or two larger, smaller or turned";
  return check;
}

CharucoLayoutCheck checkCharucoLayout(const CharucoTarget& target, const std::vector<cv::Mat>& images) {
  requireUsableTarget(target);
  for (size_t i = 0; i < images.size(); ++i) requireGreyOrColourImage(images[i], kOperation, i);
  const aruco::ArucoDetector detector(target.buildDictionary());
  auto outcomes = parallelMap(images.size(), [&](size_t i) {
    DetectedMarkers markers;
    detector.detectMarkers(images[i].channels() == 1 ? images[i] : toGrey(images[i]), markers.corners, markers.ids);
    return markers;
  });
  std::vector<DetectedMarkers> markers;
  for (auto& outcome : outcomes) markers.push_back(std::move(outcome.take()));
  return checkCharucoLayout(target, markers);
}

}  // namespace vemo
