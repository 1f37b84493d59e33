#pragma once

// The bodies of the fuzz targets, shared by the libFuzzer programs and by the C++ test
// that replays the seed corpus. Each takes arbitrary bytes, must not crash or read
// memory it does not own, and may only fail with an exception; a broken invariant
// aborts so that the fuzzer reports it.

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "vemo/io/npz.hpp"
#include "vemo/io/result_records.hpp"

namespace vemo::fuzz {

inline void check(bool holds) {
  if (!holds) std::abort();
}

inline void npzReader(const std::uint8_t* data, std::size_t size) {
  detail::NpyArray array;
  try {
    array = detail::readNpzMember(std::string_view(reinterpret_cast<const char*>(data), size), "robot_T_tcp_list");
  } catch (const std::exception&) {
    return;
  }
  std::uint64_t count = 1;
  for (const std::uint64_t dimension : array.shape) count *= dimension;
  check(count == array.data.size());
}

// Whatever a loader accepts, saving it must give a text that loads again to a record
// that saves to the same text: the files the library writes always load.
template <typename Record>
void jsonLoader(const std::uint8_t* data, std::size_t size, Record (*load)(const std::string&),
                std::string (*save)(const Record&)) {
  Record record;
  try {
    record = load(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception&) {
    return;
  }
  const std::string text = save(record);
  try {
    check(save(load(text)) == text);
  } catch (const std::exception&) {
    check(false);
  }
}

inline void handEyeJson(const std::uint8_t* data, std::size_t size) {
  jsonLoader<io::HandEyeResultRecord>(data, size, io::handEyeResultFromJson, io::handEyeResultToJson);
}

inline void multiCameraJson(const std::uint8_t* data, std::size_t size) {
  jsonLoader<io::MultiCameraCalibrationRecord>(data, size, io::multiCameraCalibrationFromJson,
                                               io::multiCameraCalibrationToJson);
}

}  // namespace vemo::fuzz
