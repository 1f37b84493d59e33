#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The journal of a save that replaces several files of a dataset folder at once. It
// lists, for each new file, the temporary name its content is written under and the
// name it replaces; names are relative to the folder, "/"-separated:
//   vemo save journal 1
//   .image_00.png.tmp-4711-0-0 image_00.png
//   cam_01/.image_04.png.tmp-4711-1-0 cam_01/image_04.png
//   end
// Only names a dataset save writes are accepted, so a journal found in a folder can
// never move or remove anything else, wherever it came from.
namespace vemo::io {

struct PendingRename {
  std::string temporary;  // ".<name>.tmp-<digits and dashes>" in the target's folder
  std::string target;     // a dataset file name, see isDatasetFileName
};

// True for the names dataset saves write, optionally inside a camera folder
// ("cam_<digits>/"): "calibration_data.npz", "image_<digits>.png",
// "image_<digits>_annotated.png".
bool isDatasetFileName(std::string_view relative);

// The journal text of `renames` (each must pass the checks of parseJournal).
std::string journalText(const std::vector<PendingRename>& renames);

// The renames of a complete journal; nothing when the text stops before its "end" line
// (the writer was killed while writing it). Throws std::runtime_error
// "io: damaged save journal " + source for any other text.
std::optional<std::vector<PendingRename>> parseJournal(std::string_view text, const std::string& source);

}  // namespace vemo::io
