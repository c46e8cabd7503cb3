#include "engine/SyncReporter.h"

#include <chrono>
#include <clocale>
#include <locale>

#include "common/Text.h"

namespace brindle {

using nlohmann::json;

namespace {

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The thousands separator of the user's numeric locale; "," when it has none,
// as in the C locale, so that large counts stay readable.
std::string thousandsSeparator() {
    const std::lconv* conventions = std::localeconv();
    if (conventions && conventions->thousands_sep && *conventions->thousands_sep && conventions->grouping &&
        *conventions->grouping > 0)
        return conventions->thousands_sep;
    return ",";
}

std::string groupedForLocale(long long number) {
    std::string text = Text::grouped(number);
    std::string separator = thousandsSeparator();
    if (separator == ",") return text;
    std::string out;
    for (char c : text) out += c == ',' ? separator : std::string(1, c);
    return out;
}

}  // namespace

std::string filesToGo(long long left) {
    if (left <= 0) return "";
    return groupedForLocale(left) + " file" + (left == 1 ? "" : "s") + " to go";
}

SyncReporter::SyncReporter(double progressSeconds, Clock clock)
    : progressSeconds_(progressSeconds), clock_(clock ? std::move(clock) : Clock(steadySeconds)) {}

void SyncReporter::begin(Send send) {
    send_ = std::move(send);
    unsent_.clear();
    lastProgress_.reset();
}

void SyncReporter::collect(const std::string& store, const std::vector<SyncEvent>& events) {
    for (const auto& event : events) unsent_.emplace_back(store, event);
}

void SyncReporter::opening(const std::vector<std::string>& runs, const std::vector<std::string>& notPlugged) {
    if (!send_) return;
    json status = json::array();
    for (const auto& name : runs) status.push_back({{"store", name}, {"state", "syncing"}});
    for (const auto& label : notPlugged)
        status.push_back({{"store", label}, {"state", "waiting"}, {"detail", "not plugged in"}});
    if (!status.empty()) send_(json::array(), status);
}

void SyncReporter::progress(const std::string& store, long long left, const Drain& drain) {
    if (!send_) return;
    double now = clock_();
    if (lastProgress_ && now - *lastProgress_ < progressSeconds_) return;
    lastProgress_ = now;
    if (drain) collect(store, drain());
    json status = json::array({{{"store", store}, {"state", "syncing"}, {"detail", filesToGo(left)}}});
    send_(body(takeChunk()), status);
}

void SyncReporter::flush(const json& statuses) {
    do {
        auto chunk = takeChunk();
        json status = unsent_.empty() ? statuses : json::array();
        if (!chunk.empty() || !status.empty()) {
            if (send_) send_(body(chunk), status);
        }
    } while (!unsent_.empty());
}

std::vector<std::pair<std::string, SyncEvent>> SyncReporter::takeChunk() {
    size_t count = std::min(unsent_.size(), kMaxHeldEvents);
    std::vector<std::pair<std::string, SyncEvent>> chunk(unsent_.begin(), unsent_.begin() + count);
    unsent_.erase(unsent_.begin(), unsent_.begin() + count);
    return chunk;
}

json SyncReporter::closingStatuses(const std::vector<RunOutcome>& runs, const std::vector<std::string>& notPlugged) {
    json statuses = json::array();
    for (const auto& run : runs) {
        json status = {{"store", run.name}, {"state", "synced"}};
        if (run.error) {
            status["state"] = "error";
            status["detail"] = Text::firstCharacters(Text::lossyUTF8(*run.error), kMaxDetailCharacters);
        } else if (!run.unsyncable.empty()) {
            // Synced, but the user must learn which files are not kept in step.
            std::string detail = std::to_string(run.unsyncable.size()) + " file(s) not synced: ";
            for (size_t i = 0; i < run.unsyncable.size(); ++i) detail += (i ? "; " : "") + run.unsyncable[i];
            status["detail"] = Text::firstCharacters(Text::lossyUTF8(detail), kMaxDetailCharacters);
        }
        if (run.totals) {
            status["files"] = run.totals->first;
            status["bytes"] = run.totals->second;
        }
        statuses.push_back(status);
    }
    for (const auto& label : notPlugged)
        statuses.push_back({{"store", label}, {"state", "waiting"}, {"detail", "not plugged in"}});
    return statuses;
}

json SyncReporter::body(const std::vector<std::pair<std::string, SyncEvent>>& entries) {
    json events = json::array();
    for (const auto& [store, event] : entries)
        events.push_back(
            {{"store", store}, {"kind", event.kind}, {"path", Text::lossyUTF8(event.path)}, {"bytes", event.bytes}});
    return events;
}

}  // namespace brindle
