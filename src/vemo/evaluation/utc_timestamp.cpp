#include "vemo/evaluation/utc_timestamp.hpp"

#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace vemo::quality {

std::string utcTimestamp() {
  using namespace std::chrono;
  const auto since_epoch = time_point_cast<microseconds>(system_clock::now()).time_since_epoch();
  const auto whole_seconds = duration_cast<seconds>(since_epoch);
  const std::time_t time = static_cast<std::time_t>(whole_seconds.count());
  std::tm utc{};
  gmtime_r(&time, &utc);
  std::ostringstream text;
  text << std::put_time(&utc, "%Y-%m-%dT%H:%M:%S") << "." << std::setw(6) << std::setfill('0')
       << (since_epoch - whole_seconds).count() << "+00:00";
  return text.str();
}

}  // namespace vemo::quality
