// libFuzzer entry; the target itself is in fuzz_targets.hpp.
#include "fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vemo::fuzz::npzReader(data, size);
  return 0;
}
