#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "io_test_support.hpp"
#include "vemo/io/result_records.hpp"

using namespace vemo::io;
using vemo::testing::fileBytes;
using vemo::testing::writeBytes;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

class ResultRecords : public vemo::testing::ScratchDirectory {};

cv::Mat translation(double x) {
  cv::Mat transform = cv::Mat::eye(4, 4, CV_64F);
  transform.at<double>(0, 3) = x;
  return transform;
}

std::string matrixRows(const std::vector<std::vector<std::string>>& rows, const std::string& indent) {
  std::string text = indent + "[\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    text += indent + "  [\n";
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      text += indent + "    " + rows[r][c] + (c + 1 < rows[r].size() ? ",\n" : "\n");
    }
    text += indent + "  ]" + (r + 1 < rows.size() ? ",\n" : "\n");
  }
  return text + indent + "]";
}

std::string load_error_of(const std::string& text) {
  return VEMO_THROWN_MESSAGE(std::exception, handEyeResultFromJson(text));
}

}  // namespace

TEST_F(ResultRecords, HandEyeFileTextIsSortedIndentedAndHasNoTrailingNewline) {
  HandEyeResultRecord record;
  record.num_cameras = 1;
  record.method = "TSAI";
  record.num_frames_used = 18;
  record.num_frames_total = 20;
  record.tcp_T_camera_list = {translation(0.05), cv::Mat()};
  const std::string expected =
      "{\n"
      "  \"method\": \"TSAI\",\n"
      "  \"num_cameras\": 1,\n"
      "  \"num_frames_total\": 20,\n"
      "  \"num_frames_used\": 18,\n"
      "  \"reference_index\": 0,\n"
      "  \"tcp_T_camera_list\": [\n" +
      matrixRows({{"1.0", "0.0", "0.0", "0.05"}, {"0.0", "1.0", "0.0", "0.0"}, {"0.0", "0.0", "1.0", "0.0"},
                  {"0.0", "0.0", "0.0", "1.0"}},
                 "    ") +
      ",\n    null\n  ]\n}";
  const std::filesystem::path written = saveHandEyeResult(dir_, record);
  EXPECT_EQ(written, dir_ / "hand_eye.json");
  EXPECT_EQ(fileBytes(written), expected);

  // Unrecorded method and frame counts are stored as null and read back as such.
  record.method.clear();
  record.num_frames_used = -5;
  const nlohmann::json root = nlohmann::json::parse(handEyeResultToJson(record));
  EXPECT_TRUE(root["method"].is_null());
  EXPECT_TRUE(root["num_frames_used"].is_null());
  const HandEyeResultRecord back = loadHandEyeResult(written.parent_path() / "hand_eye.json");
  EXPECT_EQ(back.method, "TSAI");
  const HandEyeResultRecord blank = handEyeResultFromJson(handEyeResultToJson(record));
  EXPECT_EQ(blank.method, "");
  EXPECT_EQ(blank.num_frames_used, -1);
  EXPECT_EQ(blank.num_frames_total, 20);
  ASSERT_EQ(blank.tcp_T_camera_list.size(), 2u);
  EXPECT_EQ(cv::norm(blank.tcp_T_camera_list[0], translation(0.05), cv::NORM_INF), 0.0);
  EXPECT_TRUE(blank.tcp_T_camera_list[1].empty());
}

TEST_F(ResultRecords, MultiCameraFileKeepsNaNEmptyMatricesAndDistortionShapes) {
  MultiCameraCalibrationRecord record;
  record.reference_index = 1;
  record.num_cameras = 2;
  cv::Mat integer_camera = (cv::Mat_<int>(3, 3) << 800, 0, 320, 0, 810, 240, 0, 0, 1);
  record.intrinsic_matrices = {integer_camera, cv::Mat()};
  record.distortion_coefficients = {(cv::Mat_<double>(5, 1) << 0.1, -0.2, 0, 0, 1e-3),
                                    (cv::Mat_<float>(1, 2) << 0.5f, 0.25f)};
  record.reference_T_camera_list = {cv::Mat(), translation(-0.1)};
  record.intrinsic_reprojection_errors = {0.25, kNaN};
  record.pair_reprojection_errors = {std::numeric_limits<double>::infinity(), 0.0};
  const std::string text = multiCameraCalibrationToJson(record);
  EXPECT_EQ(text.rfind("{\n  \"distortion_coefficients\": [\n    [\n      0.1,\n      -0.2,\n", 0), 0u);
  EXPECT_NE(text.find("  \"intrinsic_matrices\": [\n" + matrixRows({{"800.0", "0.0", "320.0"},
                                                                     {"0.0", "810.0", "240.0"},
                                                                     {"0.0", "0.0", "1.0"}},
                                                                    "    ") +
                      ",\n    []\n  ],\n  \"intrinsic_reprojection_errors\": [\n    0.25,\n    null\n  ],\n"
                      "  \"num_cameras\": 2,\n  \"pair_reprojection_errors\": [\n    null,\n    0.0\n  ],\n"
                      "  \"reference_T_camera_list\": [\n    null,\n"),
            std::string::npos)
      << text;
  const std::string tail = "  ],\n  \"reference_index\": 1\n}";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

  const MultiCameraCalibrationRecord back = multiCameraCalibrationFromJson(text);
  EXPECT_EQ(back.reference_index, 1);
  EXPECT_EQ(back.num_cameras, 2);
  ASSERT_EQ(back.intrinsic_matrices.size(), 2u);
  EXPECT_EQ(back.intrinsic_matrices[0].type(), CV_64F);
  EXPECT_EQ(cv::norm(back.intrinsic_matrices[0], cv::Mat_<double>(integer_camera), cv::NORM_INF), 0.0);
  EXPECT_TRUE(back.intrinsic_matrices[1].empty());
  ASSERT_EQ(back.distortion_coefficients.size(), 2u);
  EXPECT_EQ(back.distortion_coefficients[0].size(), cv::Size(5, 1));
  EXPECT_EQ(back.distortion_coefficients[0].at<double>(0, 4), 1e-3);
  EXPECT_EQ(back.distortion_coefficients[1].size(), cv::Size(2, 1));
  EXPECT_TRUE(back.reference_T_camera_list[0].empty());
  EXPECT_EQ(cv::norm(back.reference_T_camera_list[1], translation(-0.1), cv::NORM_INF), 0.0);
  EXPECT_EQ(back.intrinsic_reprojection_errors[0], 0.25);
  EXPECT_TRUE(std::isnan(back.intrinsic_reprojection_errors[1]));
  EXPECT_TRUE(std::isnan(back.pair_reprojection_errors[0]));  // an infinity cannot be stored in JSON
}

TEST_F(ResultRecords, NonFiniteMatrixValuesSaveAsNullAndLoadAsNaN) {
  HandEyeResultRecord record;
  cv::Mat transform = translation(1.0);
  transform.at<double>(0, 0) = kNaN;
  transform.at<double>(1, 1) = -std::numeric_limits<double>::infinity();
  record.tcp_T_camera_list = {transform};
  const std::string text = handEyeResultToJson(record);
  EXPECT_NE(text.find("[\n        null,\n        0.0,"), std::string::npos);
  const cv::Mat back = handEyeResultFromJson(text).tcp_T_camera_list.at(0);
  EXPECT_TRUE(std::isnan(back.at<double>(0, 0)));
  EXPECT_TRUE(std::isnan(back.at<double>(1, 1)));
  EXPECT_EQ(back.at<double>(0, 3), 1.0);
  EXPECT_EQ(handEyeResultToJson(handEyeResultFromJson(text)), text);
}

TEST_F(ResultRecords, LoadersFollowTheJsonValueRules) {
  // Optional keys may be absent; list members may be objects (values in key order) or a
  // single scalar; floating-point integers truncate; what follows the first value is ignored.
  const MultiCameraCalibrationRecord rig = multiCameraCalibrationFromJson(
      R"({"reference_index": 0, "num_cameras": 2.9, "intrinsic_matrices": {"b": [[2]], "a": [[1, 2]]},
          "distortion_coefficients": [[1, null], 4], "reference_T_camera_list": [], "pair_reprojection_errors": null,
          "intrinsic_reprojection_errors": {"x": 1.5}} {"ignored)");
  EXPECT_EQ(rig.num_cameras, 2);
  ASSERT_EQ(rig.intrinsic_matrices.size(), 2u);
  EXPECT_EQ(rig.intrinsic_matrices[0].size(), cv::Size(2, 1));
  EXPECT_EQ(rig.intrinsic_matrices[1].at<double>(0, 0), 2.0);
  EXPECT_TRUE(std::isnan(rig.distortion_coefficients[0].at<double>(0, 1)));
  EXPECT_EQ(rig.distortion_coefficients[1].at<double>(0, 0), 4.0);
  EXPECT_TRUE(rig.pair_reprojection_errors.empty());
  EXPECT_EQ(rig.intrinsic_reprojection_errors, std::vector<double>{1.5});

  const HandEyeResultRecord minimal =
      handEyeResultFromJson(R"({"reference_index": 3, "num_cameras": 1, "tcp_T_camera_list": [[], [[]]]})");
  EXPECT_EQ(minimal.reference_index, 3);
  EXPECT_EQ(minimal.num_frames_used, -1);
  EXPECT_EQ(minimal.num_frames_total, -1);
  EXPECT_TRUE(minimal.tcp_T_camera_list.at(0).empty());
  EXPECT_TRUE(minimal.tcp_T_camera_list.at(1).empty());

  const std::string head = R"({"reference_index": 0, "num_cameras": 1, )";
  EXPECT_NE(load_error_of("[1]").find("cannot use at() with array"), std::string::npos);
  EXPECT_NE(load_error_of(R"({"num_cameras": 1})").find("key 'reference_index' not found"), std::string::npos);
  EXPECT_NE(load_error_of(head + R"("tcp_T_camera_list": [[1, 2]]})").find("cannot use operator[] with a numeric"),
            std::string::npos);
  EXPECT_NE(load_error_of(head + R"("tcp_T_camera_list": [{"a": [1]}]})").find("with object"), std::string::npos);
  EXPECT_NE(load_error_of(head + R"("method": 5, "tcp_T_camera_list": []})").find("type must be string"),
            std::string::npos);
  EXPECT_NE(load_error_of(head + R"("tcp_T_camera_list": [[["1"]]]})").find("type must be number, but is string"),
            std::string::npos);
  EXPECT_NE(load_error_of("{\"reference_index\": 0,").find("parse error"), std::string::npos);
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error,
                                handEyeResultFromJson(head + R"("tcp_T_camera_list": [[[1, 2], [3]]]})")),
            "io: matrix rows differ in length (row 1 has 1 values, row 0 has 2)");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error,
                                handEyeResultFromJson(R"({"reference_index": 1e10, "num_cameras": 1})")),
            "io: 'reference_index' is out of the int range");
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, handEyeResultFromJson(head + R"("num_frames_used": -2147483649,
                                                                                    "tcp_T_camera_list": []})")),
            "io: 'num_frames_used' is out of the int range");
}

TEST_F(ResultRecords, SaveAndLoadResolveDirectoriesExtensionsAndBareNames) {
  HandEyeResultRecord record;
  record.num_cameras = 1;
  EXPECT_EQ(saveHandEyeResult(dir_ / "out" / "rig.json", record), dir_ / "out" / "rig.json");
  EXPECT_EQ(saveHandEyeResult(dir_ / "out" / "results", record), dir_ / "out" / "results" / "hand_eye.json");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "out" / "results" / "hand_eye.json"));
  EXPECT_EQ(saveMultiCameraCalibration(dir_ / "out", MultiCameraCalibrationRecord()),
            dir_ / "out" / "multi_camera_calibration.json");
  EXPECT_EQ(loadMultiCameraCalibration(dir_ / "out").num_cameras, 0);
  EXPECT_EQ(loadHandEyeResult(dir_ / "out" / "results").num_cameras, 1);

  // Loading takes a path without extension as it is.
  std::filesystem::rename(dir_ / "out" / "rig.json", dir_ / "out" / "rig");
  EXPECT_EQ(loadHandEyeResult(dir_ / "out" / "rig").num_cameras, 1);
  EXPECT_EQ(VEMO_THROWN_MESSAGE(std::runtime_error, loadHandEyeResult(dir_ / "none.json")),
            "io: cannot open " + (dir_ / "none.json").string() + " for reading");
  writeBytes(dir_ / "file", "");
  EXPECT_THROW(saveHandEyeResult(dir_ / "file" / "x.json", record), std::filesystem::filesystem_error);

  // A bare file name is written in the current directory.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  const std::filesystem::path bare = saveHandEyeResult("calib.json", record);
  std::filesystem::current_path(previous);
  EXPECT_EQ(bare, "calib.json");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "calib.json"));
}
