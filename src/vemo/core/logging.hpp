#pragma once

#include <string>

namespace vemo::logging {

// Severity of a console line; the value selects the tag printed in brackets.
enum class Level : int { Debug = 0, Info = 1, Warning = 2, Error = 3, Success = 4 };

// Writes "[vemo][TAG] message\n" to standard error. Every call prints: there is no
// level filter. A value outside the enumeration prints as INFO. The message is written
// unchanged (embedded newlines are not indented).
void log(Level level, const std::string& message);

}  // namespace vemo::logging
