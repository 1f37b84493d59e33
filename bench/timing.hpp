#pragma once

// Median wall and CPU time of repeated work, for the C++ benchmark programs.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace vemo::bench {

struct Timing {
  double wall_ms, cpu_ms;  // medians over the repetitions
};

inline Timing median(int repetitions, const std::function<void()>& work) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < repetitions; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu_start = std::clock();
    work();
    cpu.push_back(1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  const auto middle = [](std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
  };
  return {middle(wall), middle(cpu)};
}

}  // namespace vemo::bench
