#pragma once

#include <optional>
#include <string>
#include <string_view>

// The names inside a multi-camera capture directory: camera folders and frame files.
namespace vemo::io {

// A frame file: extension ".png" (exactly), a stem beginning with "image_" and not
// ending with "_annotated".
bool isFrameFile(std::string_view file_name);

// The capture order of frame file names: names whose part after "image_" (up to the
// extension) is all digits first, by that number (image_99 before image_100; equal
// numbers such as image_7 and image_07 in byte order), then every other name in byte
// order. A strict weak order, for std::sort.
bool capturesInOrder(std::string_view first, std::string_view second);

// The camera number of a folder named as cameraDirectory names them ("cam_00",
// "cam_07", "cam_100"); nothing for any other name ("cam_7", "cam_007", "cam_x", a number
// beyond int).
std::optional<int> cameraFolderNumber(std::string_view folder_name);

}  // namespace vemo::io
