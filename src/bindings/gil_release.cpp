#include "bindings/gil_release.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace vemo::bindings {

std::mutex& objectLock(const void* object) {
  static std::array<std::mutex, 64> locks;
  // Objects are aligned, so the low bits of an address say nothing.
  const auto slot = reinterpret_cast<std::uintptr_t>(object) / alignof(std::max_align_t);
  return locks[slot % locks.size()];
}

}  // namespace vemo::bindings
