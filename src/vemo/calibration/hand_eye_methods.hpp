#pragma once

#include <map>
#include <string>

namespace vemo::calibration {

// Hand-eye solver names to cv::HandEyeCalibrationMethod values: "TSAI" 0, "PARK" 1,
// "HORAUD" 2, "ANDREFF" 3, "DANIILIDIS" 4. Keys are matched exactly (upper case);
// iteration runs in byte order of the names. Built on first use, never changed.
const std::map<std::string, int>& handEyeMethodByNameMap();

// The value of a method name; std::invalid_argument "Unknown hand-eye method '<name>'" for
// a name not in the table.
int handEyeMethodValue(const std::string& method);

}  // namespace vemo::calibration
