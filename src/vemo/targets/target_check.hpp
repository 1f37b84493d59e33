#pragma once

// The check of a target's dimensions at its first use: targets are built unchecked, and
// without it a bad dimension surfaces as OpenCV's assertion text or as "target not found".

#include "vemo/targets/targets.hpp"

namespace vemo {

// Throws std::invalid_argument "<class>: <dimension> must be ..., got <value>" for a
// chessboard without inner corners, a ChArUco board under 2 x 2 squares, an ArUco grid
// without markers, a length that is not positive and finite, a ChArUco marker not smaller
// than its square or a negative or non-finite marker separation.
void requireUsableTarget(const Target& target);

}  // namespace vemo
