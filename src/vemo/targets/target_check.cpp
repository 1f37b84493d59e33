#include "vemo/targets/target_check.hpp"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

namespace vemo {

namespace {

template <typename Value>
[[noreturn]] void refuse(const char* target_class, const std::string& requirement, const Value& value) {
  std::ostringstream message;
  message << target_class << ": " << requirement << ", got " << value;
  throw std::invalid_argument(message.str());
}

void requirePositiveLength(const char* target_class, const char* name, double length) {
  if (!(length > 0.0) || !std::isfinite(length)) {
    refuse(target_class, std::string(name) + " must be positive and finite", length);
  }
}

void requireCounts(const char* target_class, const char* name, int x, int y, int least) {
  if (x < least || y < least) {
    const std::string at_least = std::to_string(least) + " x " + std::to_string(least);
    refuse(target_class, std::string(name) + " must be at least " + at_least,
           std::to_string(x) + " x " + std::to_string(y));
  }
}

void check(const ChessboardTarget& target) {
  requireCounts("ChessboardTarget", "size (inner corners)", target.size.width, target.size.height, 1);
  requirePositiveLength("ChessboardTarget", "square_size", target.square_size);
}

void check(const CharucoTarget& target) {
  requireCounts("CharucoTarget", "squares_x x squares_y", target.squares_x, target.squares_y, 2);
  requirePositiveLength("CharucoTarget", "square_length", target.square_length);
  requirePositiveLength("CharucoTarget", "marker_length", target.marker_length);
  if (!(target.marker_length < target.square_length)) {
    refuse("CharucoTarget", "marker_length must be smaller than square_length " + std::to_string(target.square_length),
           target.marker_length);
  }
}

void check(const ArucoTarget& target) {
  requireCounts("ArucoTarget", "board_size (markers)", target.board_size.width, target.board_size.height, 1);
  requirePositiveLength("ArucoTarget", "marker_length", target.marker_length);
  if (!(target.marker_separation >= 0.0) || !std::isfinite(target.marker_separation)) {
    refuse("ArucoTarget", "marker_separation must be non-negative and finite", target.marker_separation);
  }
}

}  // namespace

void requireUsableTarget(const Target& target) {
  std::visit([](const auto& kind) { check(kind); }, target);
}

}  // namespace vemo
