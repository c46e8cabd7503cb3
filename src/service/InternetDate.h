#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Internet date-times (ISO 8601 / RFC 3339) as the services send them.
namespace brindle::InternetDate {

using TimePoint = std::chrono::system_clock::time_point;

// "2025-01-01T12:00:00Z" or with an offset ("+02:00", "+0200"); no fractional
// seconds, and a time zone is required. Anything else gives nothing.
std::optional<TimePoint> parse(std::string_view text);

// The time in UTC as "2025-01-01T12:00:00Z" (whole seconds).
std::string format(TimePoint time);

}  // namespace brindle::InternetDate
