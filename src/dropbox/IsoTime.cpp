#include "dropbox/IsoTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace brindle::IsoTime {

namespace {

bool digits(const std::string& text, size_t at, size_t count, int& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// The zone at text[at...] in seconds east of UTC, or nothing.
std::optional<int> zoneOffset(const std::string& text, size_t at) {
    if (at >= text.size()) return std::nullopt;
    if ((text[at] == 'Z' || text[at] == 'z') && at + 1 == text.size()) return 0;
    if (text[at] != '+' && text[at] != '-') return std::nullopt;
    int hours = 0, minutes = 0;
    if (!digits(text, at + 1, 2, hours)) return std::nullopt;
    size_t next = at + 3;
    if (next < text.size() && text[next] == ':') ++next;
    if (!digits(text, next, 2, minutes) || next + 2 != text.size()) return std::nullopt;
    if (hours > 23 || minutes > 59) return std::nullopt;
    int offset = hours * 3600 + minutes * 60;
    return text[at] == '-' ? -offset : offset;
}

}  // namespace

std::string format(double seconds) {
    std::time_t whole = static_cast<std::time_t>(std::floor(seconds));
    std::tm parts{};
    gmtime_r(&whole, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::optional<double> parse(const std::string& text) {
    int year, month, day, hour, minute, second;
    if (!digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day) || (text[10] != 'T' && text[10] != 't') ||
        !digits(text, 11, 2, hour) || text[13] != ':' || !digits(text, 14, 2, minute) || text[16] != ':' ||
        !digits(text, 17, 2, second))
        return std::nullopt;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        size_t start = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start) return std::nullopt;
    }
    std::optional<int> offset = zoneOffset(text, at);
    if (!offset) return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return static_cast<double>(timegm(&parts)) + fraction - *offset;
}

double now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace brindle::IsoTime
