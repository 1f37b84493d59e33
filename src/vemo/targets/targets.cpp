#include "vemo/targets/targets.hpp"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemo {

const std::map<std::string, int>& arucoDictionaryIdMap() {
  static const std::map<std::string, int> table{
      {"DICT_4X4_50", 0},          {"DICT_4X4_100", 1},         {"DICT_4X4_250", 2},
      {"DICT_4X4_1000", 3},        {"DICT_5X5_50", 4},          {"DICT_5X5_100", 5},
      {"DICT_5X5_250", 6},         {"DICT_5X5_1000", 7},        {"DICT_6X6_50", 8},
      {"DICT_6X6_100", 9},         {"DICT_6X6_250", 10},        {"DICT_6X6_1000", 11},
      {"DICT_7X7_50", 12},         {"DICT_7X7_100", 13},        {"DICT_7X7_250", 14},
      {"DICT_7X7_1000", 15},       {"DICT_ARUCO_ORIGINAL", 16}, {"DICT_APRILTAG_16H5", 17},
      {"DICT_APRILTAG_25H9", 18},  {"DICT_APRILTAG_36H10", 19}, {"DICT_APRILTAG_36H11", 20},
      {"DICT_ARUCO_MIP_36H12", 21},
  };
  return table;
}

int arucoDictionaryIdFromName(const std::string& name) {
  const auto& table = arucoDictionaryIdMap();
  const auto found = table.find(name);
  if (found == table.end()) throw std::invalid_argument("Unknown aruco_dict_id '" + name + "'");
  return found->second;
}

cv::Mat ChessboardTarget::objectPoints() const {
  if (size.width <= 0 || size.height <= 0) return cv::Mat::zeros(0, 3, CV_32F);
  // The row index is an int: a count past its range would write beyond the matrix.
  if (static_cast<std::int64_t>(size.width) * size.height > std::numeric_limits<int>::max()) {
    throw std::invalid_argument("ChessboardTarget::objectPoints: " + std::to_string(size.width) + " x " +
                                std::to_string(size.height) + " inner corners are more than a matrix can hold");
  }
  cv::Mat points = cv::Mat::zeros(size.width * size.height, 3, CV_32F);
  for (int j = 0; j < size.height; ++j) {
    for (int i = 0; i < size.width; ++i) {
      float* row = points.ptr<float>(j * size.width + i);
      row[0] = static_cast<float>(i * square_size);
      row[1] = static_cast<float>(j * square_size);
    }
  }
  return points;
}

CharucoTarget::CharucoTarget(int squares_x, int squares_y, double square_length, double marker_length,
                             int aruco_dict_id)
    : squares_x(squares_x),
      squares_y(squares_y),
      square_length(square_length),
      marker_length(marker_length),
      aruco_dict_id(aruco_dict_id) {}

CharucoTarget::CharucoTarget(int squares_x, int squares_y, double square_length, double marker_length,
                             const std::string& aruco_dict_id)
    : CharucoTarget(squares_x, squares_y, square_length, marker_length, arucoDictionaryIdFromName(aruco_dict_id)) {}

aruco::Dictionary CharucoTarget::buildDictionary() const { return aruco::getPredefinedDictionary(aruco_dict_id); }

aruco::CharucoBoard CharucoTarget::buildBoard() const {
  return aruco::CharucoBoard(cv::Size(squares_x, squares_y), static_cast<float>(square_length),
                             static_cast<float>(marker_length), buildDictionary());
}

aruco::CharucoDetector CharucoTarget::buildDetector() const { return aruco::CharucoDetector(buildBoard()); }

ArucoTarget::ArucoTarget(cv::Size board_size, double marker_length, double marker_separation, int aruco_dict_id)
    : board_size(board_size),
      marker_length(marker_length),
      marker_separation(marker_separation),
      aruco_dict_id(aruco_dict_id) {}

ArucoTarget::ArucoTarget(cv::Size board_size, double marker_length, double marker_separation,
                         const std::string& aruco_dict_id)
    : ArucoTarget(board_size, marker_length, marker_separation, arucoDictionaryIdFromName(aruco_dict_id)) {}

aruco::Dictionary ArucoTarget::buildDictionary() const { return aruco::getPredefinedDictionary(aruco_dict_id); }

aruco::GridBoard ArucoTarget::buildBoard() const {
  return aruco::GridBoard(board_size, static_cast<float>(marker_length), static_cast<float>(marker_separation),
                          buildDictionary());
}

}  // namespace vemo
