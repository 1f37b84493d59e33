#include "vemo/synthetic/board_image.hpp"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vemo::synthetic {

namespace {

// Where no resolution puts every edge on pixel boundaries, this many pixels along the
// sheet's longer side keep the rounding of the edges below 1/4000 of the sheet.
constexpr double kFallbackLongSidePixels = 4096.0;
// Any whole number of pixels per square draws a chessboard exactly; a few spare the
// renderer's lookups from sitting on texel boundaries for a whole square.
constexpr int kChessboardPixelsPerSquare = 8;
constexpr double kMaxSheetPixels = 268435456.0;  // 2^28

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument("boardImage: " + message); }

// Geometry a sheet can be drawn for; OpenCV would assert on some of these itself.
void checkGeometry(const Target& target, const char* operation) {
  const auto reject = [&](const char* message) { throw std::invalid_argument(std::string(operation) + ": " + message); };
  if (const auto* chessboard = std::get_if<ChessboardTarget>(&target)) {
    if (chessboard->size.width < 1 || chessboard->size.height < 1 || !(chessboard->square_size > 0)) {
      reject("a chessboard needs at least 1 x 1 inner corners and a positive square size");
    }
  } else if (const auto* charuco = std::get_if<CharucoTarget>(&target)) {
    if (charuco->squares_x < 2 || charuco->squares_y < 2 || !(charuco->marker_length > 0) ||
        !(charuco->square_length > charuco->marker_length)) {
      reject("a ChArUco board needs at least 2 x 2 squares and 0 < marker_length < square_length");
    }
  } else {
    const auto& aruco = std::get<ArucoTarget>(target);
    if (aruco.board_size.width < 1 || aruco.board_size.height < 1 || !(aruco.marker_length > 0) ||
        !(aruco.marker_separation > 0)) {
      reject("an ArUco grid needs at least 1 x 1 markers, a positive marker length and a positive separation");
    }
  }
}

// Pixel counts from lengths that OpenCV holds as floats are whole only to about 1e-7 of
// the length; OpenCV rounds them, so a ten-thousandth of a pixel counts as whole.
constexpr double kWhole = 1e-4;
bool isWhole(double value) { return std::abs(value - std::round(value)) < kWhole; }

int pixels(double length_m, double pixels_per_metre) {
  return static_cast<int>(std::lround(length_m * pixels_per_metre));
}

// Pixel scale and the pixel position of the board origin's outer edge; the affine then
// gives centre-convention coordinates (hence the half-pixel).
cv::Matx23d scaleAndShift(double pixels_per_metre, double origin_edge_px) {
  return cv::Matx23d(pixels_per_metre, 0, origin_edge_px - 0.5, 0, pixels_per_metre, origin_edge_px - 0.5);
}

void checkSheetSize(double width_px, double height_px) {
  if (!(width_px * height_px <= kMaxSheetPixels)) fail("the sheet would exceed 2^28 pixels");
  if (width_px < 1 || height_px < 1) fail("the sheet would be smaller than one pixel");
}

cv::Mat toBgr(const cv::Mat& grey) {
  cv::Mat bgr;
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  return bgr;
}

// (w + 1) x (h + 1) squares, the top-left one black, inside a margin of one square.
BoardImage chessboardImage(const ChessboardTarget& target, double ppm) {
  const int squares_x = target.size.width + 1;
  const int squares_y = target.size.height + 1;
  const double s = target.square_size;
  checkSheetSize((squares_x + 2) * s * ppm, (squares_y + 2) * s * ppm);
  // Square edges are rounded one by one, so no square drifts by more than half a pixel.
  const auto edge = [&](int squares_from_sheet_edge) { return pixels(squares_from_sheet_edge * s, ppm); };
  cv::Mat sheet(edge(squares_y + 2), edge(squares_x + 2), CV_8UC1, cv::Scalar(255));
  for (int b = 0; b < squares_y; ++b) {
    for (int a = (b % 2); a < squares_x; a += 2) {
      const cv::Rect square(cv::Point(edge(a + 1), edge(b + 1)), cv::Point(edge(a + 2), edge(b + 2)));
      sheet(square).setTo(0);
    }
  }
  // The first inner corner lies two squares (margin and one square) from the sheet's edge.
  return {toBgr(sheet), scaleAndShift(ppm, edge(2))};
}

// The pattern of width x height metres drawn by OpenCV inside a white margin.
BoardImage openCvSheet(const aruco::Board& board, double width, double height, double margin, double marker_length,
                       double ppm) {
  checkSheetSize((width + 2 * margin) * ppm, (height + 2 * margin) * ppm);
  // OpenCV asserts that a marker gets at least a pixel per cell (its bits and border).
  const int cells = board.getDictionary().markerSize() + 2;
  if (!(marker_length * ppm >= cells)) fail("markers would be smaller than " + std::to_string(cells) + " pixels");
  const int margin_px = pixels(margin, ppm);
  const cv::Size size(pixels(width, ppm) + 2 * margin_px, pixels(height, ppm) + 2 * margin_px);
  return {toBgr(board.generateImage(size, margin_px)), scaleAndShift(ppm, margin_px)};
}

BoardImage charucoImage(const CharucoTarget& target, double ppm) {
  return openCvSheet(target.buildBoard(), target.squares_x * target.square_length,
                     target.squares_y * target.square_length, target.square_length / 2, target.marker_length, ppm);
}

double gridExtent(int markers, double marker_length, double separation) {
  return markers * marker_length + (markers - 1) * separation;
}

BoardImage arucoImage(const ArucoTarget& target, double ppm) {
  return openCvSheet(target.buildBoard(),
                     gridExtent(target.board_size.width, target.marker_length, target.marker_separation),
                     gridExtent(target.board_size.height, target.marker_length, target.marker_separation),
                     target.marker_length / 2, target.marker_length, ppm);
}

// The smallest even number of pixels per unit length that satisfies `exact`, searched up
// to the count that gives the sheet kFallbackLongSidePixels; that count if none does.
template <typename Exact>
int smallestExactPixels(double units_along_longer_side, Exact exact) {
  const int fallback = std::max(2, static_cast<int>(std::lround(kFallbackLongSidePixels / units_along_longer_side)));
  for (int candidate = 2; candidate <= fallback; candidate += 2) {
    if (exact(candidate)) return candidate;
  }
  return fallback + (fallback % 2);
}

}  // namespace

BoardImage boardImage(const Target& target, double pixels_per_metre) {
  if (!(pixels_per_metre > 0) || !std::isfinite(pixels_per_metre)) fail("pixels_per_metre must be positive");
  checkGeometry(target, "boardImage");
  return std::visit(
      [&](const auto& kind) -> BoardImage {
        using Kind = std::decay_t<decltype(kind)>;
        if constexpr (std::is_same_v<Kind, ChessboardTarget>) return chessboardImage(kind, pixels_per_metre);
        else if constexpr (std::is_same_v<Kind, CharucoTarget>) return charucoImage(kind, pixels_per_metre);
        else return arucoImage(kind, pixels_per_metre);
      },
      target);
}

double exactPixelsPerMetre(const Target& target) {
  checkGeometry(target, "exactPixelsPerMetre");
  if (const auto* chessboard = std::get_if<ChessboardTarget>(&target)) {
    return kChessboardPixelsPerSquare / chessboard->square_size;
  }
  if (const auto* charuco = std::get_if<CharucoTarget>(&target)) {
    // Lengths as OpenCV stores them (floats); the margin is half a square, so even counts.
    const double square = static_cast<float>(charuco->square_length);
    const double marker = static_cast<float>(charuco->marker_length);
    const int cells = charuco->buildDictionary().markerSize() + 2;
    const int squares = std::max(charuco->squares_x, charuco->squares_y) + 1;
    const int per_square = smallestExactPixels(squares, [&](int p) {
      const double marker_px = p * marker / square;
      // OpenCV truncates the marker's inset to whole pixels: it must not fall just short.
      const double inset_px = (square - marker) / 2 * p / square;
      return isWhole(marker_px) && isWhole(marker_px / cells) && inset_px - std::floor(inset_px) < kWhole;
    });
    return per_square / charuco->square_length;
  }
  const auto& aruco = std::get<ArucoTarget>(target);
  const double marker = static_cast<float>(aruco.marker_length);
  const double separation = static_cast<float>(aruco.marker_separation);
  const int cells = aruco.buildDictionary().markerSize() + 2;
  const int markers = std::max(aruco.board_size.width, aruco.board_size.height);
  const double sheet_in_markers = gridExtent(markers, marker, separation) / marker + 1;
  const int per_marker = smallestExactPixels(sheet_in_markers, [&](int p) {
    return p % cells == 0 && isWhole(p * separation / marker);
  });
  return per_marker / aruco.marker_length;
}

}  // namespace vemo::synthetic
