// Figures for the persistence layer: writing and reading a pose archive of 1000 poses
// (including the flush to disk every writer does) and a hand-eye result file.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>

#include "vemo/io/npz.hpp"
#include "vemo/io/result_records.hpp"

namespace {

double millisecondsPerRun(int runs, const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) work();
  const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / runs;
}

}  // namespace

int main() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "vemo_bench_io";
  std::filesystem::create_directories(dir);
  const std::string archive = (dir / "poses.npz").string();
  std::vector<double> values(1000 * 16);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i) * 1e-3;

  const double save =
      millisecondsPerRun(50, [&] { vemo::detail::saveNpz(archive, "robot_T_tcp_list", {1000, 4, 4}, values); });
  const double load = millisecondsPerRun(200, [&] { vemo::detail::loadNpz(archive, "robot_T_tcp_list"); });
  std::printf("npz, 1000 poses (%ju bytes): save %.3f ms, load %.3f ms\n",
              static_cast<std::uintmax_t>(std::filesystem::file_size(archive)), save, load);

  vemo::io::HandEyeResultRecord record;
  record.num_cameras = 1;
  record.method = "TSAI";
  record.tcp_T_camera_list.assign(4, cv::Mat::eye(4, 4, CV_64F) * 0.123456789);
  const std::string text = vemo::io::handEyeResultToJson(record);
  const double to_json = millisecondsPerRun(2000, [&] { vemo::io::handEyeResultToJson(record); });
  const double from_json = millisecondsPerRun(2000, [&] { vemo::io::handEyeResultFromJson(text); });
  std::printf("hand_eye.json, 4 cameras (%zu bytes): format %.4f ms, parse %.4f ms\n", text.size(), to_json,
              from_json);
  std::filesystem::remove_all(dir);
  return 0;
}
