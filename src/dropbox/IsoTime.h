#pragma once

#include <optional>
#include <string>

// ISO 8601 internet date-times as Dropbox, the Brindle service and the drive
// marker write them.
namespace brindle::IsoTime {

// seconds since 1970 as "2025-03-01T09:30:00Z" (UTC, whole seconds).
std::string format(double seconds);

// Reads "YYYY-MM-DDTHH:MM:SS" with optional fractional seconds and a zone of
// "Z" or "+HH:MM"/"-HH:MM" (also "+HHMM"); returns seconds since 1970, or
// nothing when the text is not such a date-time.
std::optional<double> parse(const std::string& text);

// The current time in seconds since 1970.
double now();

}  // namespace brindle::IsoTime
