// libFuzzer entry; the target itself is in folder_targets.hpp.
#include "folder_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vemo::fuzz::multiCameraFolderNames(data, size);
  return 0;
}
