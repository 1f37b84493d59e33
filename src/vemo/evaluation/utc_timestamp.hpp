#pragma once

#include <string>

namespace vemo::quality {

// The wall clock now, UTC, with microseconds: "2026-12-06T16:16:34.004512+00:00".
std::string utcTimestamp();

}  // namespace vemo::quality
