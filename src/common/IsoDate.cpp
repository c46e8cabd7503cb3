#include "common/IsoDate.h"

#include <cmath>
#include <ctime>

namespace brindle::IsoDate {

namespace {

// Reads count digits at text[at...]; false unless they are all digits.
bool digits(std::string_view text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Seconds east of UTC for "Z", "+HH:MM" or "+HHMM"; nothing otherwise.
std::optional<long> zoneOffset(std::string_view zone) {
    if (zone == "Z" || zone == "z") return 0;
    if (zone.size() != 6 && zone.size() != 5) return std::nullopt;
    if (zone[0] != '+' && zone[0] != '-') return std::nullopt;
    int hours = 0, minutes = 0;
    size_t minuteAt = zone.size() == 6 ? 4 : 3;
    if (zone.size() == 6 && zone[3] != ':') return std::nullopt;
    if (!digits(zone, 1, 2, hours) || !digits(zone, minuteAt, 2, minutes)) return std::nullopt;
    if (hours > 23 || minutes > 59) return std::nullopt;
    long seconds = hours * 3600L + minutes * 60L;
    return zone[0] == '-' ? -seconds : seconds;
}

// Fractional seconds at text[at...] (".5", ".123"); moves at past them.
std::optional<std::chrono::nanoseconds> fractionAt(std::string_view text, size_t& at) {
    std::chrono::nanoseconds value{0};
    if (at >= text.size() || text[at] != '.') return value;
    size_t start = ++at;
    long long scale = 100000000;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value += std::chrono::nanoseconds((text[at] - '0') * scale);
        scale /= 10;
        ++at;
    }
    if (at == start) return std::nullopt;
    return value;
}

}  // namespace

std::optional<TimePoint> parse(std::string_view text, Fraction fraction) {
    int year, month, day, hour, minute, second;
    if (text.size() < 20) return std::nullopt;
    if (!digits(text, 0, 4, year) || text[4] != '-' || !digits(text, 5, 2, month) || text[7] != '-' ||
        !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') || !digits(text, 11, 2, hour) ||
        text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' || !digits(text, 17, 2, second))
        return std::nullopt;
    size_t at = 19;
    std::chrono::nanoseconds parts{0};
    if (fraction == Fraction::accepted) {
        std::optional<std::chrono::nanoseconds> read = fractionAt(text, at);
        if (!read) return std::nullopt;
        parts = *read;
    }
    std::optional<long> offset = zoneOffset(text.substr(at));
    if (!offset) return std::nullopt;
    using namespace std::chrono;
    year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                        std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    auto moment = sys_days(date) + hours(hour) + minutes(minute) + seconds(second) - seconds(*offset) + parts;
    return time_point_cast<system_clock::duration>(moment);
}

std::string format(TimePoint time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::floor<std::chrono::seconds>(time));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::optional<double> parseSeconds(std::string_view text) {
    std::optional<TimePoint> moment = parse(text, Fraction::accepted);
    if (!moment) return std::nullopt;
    return std::chrono::duration<double>(moment->time_since_epoch()).count();
}

std::string formatSeconds(double seconds) {
    auto whole = std::chrono::seconds(static_cast<long long>(std::floor(seconds)));
    return format(TimePoint(std::chrono::duration_cast<TimePoint::duration>(whole)));
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace brindle::IsoDate
