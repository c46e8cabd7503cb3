#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// ISO 8601 internet date-times ("2025-03-01T09:30:00Z") as the services, the
// drive marker, the Plaud notes and the contact files write them.
namespace brindle::IsoDate {

using TimePoint = std::chrono::system_clock::time_point;

enum class Fraction { refused, accepted };

// Reads "YYYY-MM-DDTHH:MM:SS", optionally with fractional seconds (when
// accepted), and a required zone "Z", "+HH:MM" or "+HHMM". Impossible dates
// (February 30) and anything else give nothing.
std::optional<TimePoint> parse(std::string_view text, Fraction fraction = Fraction::refused);

// The time in UTC as "2025-01-01T12:00:00Z" (whole seconds, rounded down).
std::string format(TimePoint time);

// The same in seconds since 1970; parseSeconds accepts fractional seconds.
std::optional<double> parseSeconds(std::string_view text);
std::string formatSeconds(double seconds);

// The current time in seconds since 1970.
double nowSeconds();

}  // namespace brindle::IsoDate
