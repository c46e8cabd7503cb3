#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/SyncEvent.h"

namespace brindle {

// What the sync engine tells the Brindle service about a pass: an opening
// report naming the stores about to sync, rate-limited progress reports during
// long runs, and a closing report with every event not yet sent and each
// store's final status. Events travel in chunks of at most kMaxHeldEvents.
// Used by one pass at a time, on the sync queue; not thread-safe.
class SyncReporter {
public:
    // Sends one report {"events": events, "status": status}; must swallow
    // every failure. Never called with both lists empty.
    using Send = std::function<void(const nlohmann::json& events, const nlohmann::json& status)>;
    using Clock = std::function<double()>;  // seconds; only differences matter
    using Drain = std::function<std::vector<SyncEvent>()>;

    // The closing state of one store run.
    struct RunOutcome {
        std::string name;
        std::optional<std::string> error;                   // the first failure's description
        std::optional<std::pair<int64_t, int64_t>> totals;  // files and bytes in the store
        std::vector<std::string> unsyncable{};              // "path: reason" of files left out
    };

    explicit SyncReporter(double progressSeconds, Clock clock = {});

    // Starts a pass: forgets unsent events and makes the next progress report
    // due. Without send (no account) nothing is ever sent.
    void begin(Send send);
    // Keeps the events of store for the next report.
    void collect(const std::string& store, const std::vector<SyncEvent>& events);
    // {"store", "state": "syncing"} for every run, then "waiting" for every
    // drive that is not plugged in.
    void opening(const std::vector<std::string>& runs, const std::vector<std::string>& notPlugged);
    // A store reports files left to do: at most once per progressSeconds, sends
    // up to kMaxHeldEvents unsent events (after draining store's new ones) with
    // its "N files to go" status.
    void progress(const std::string& store, long long left, const Drain& drain);
    // Sends every unsent event in chunks; the closing statuses travel with the
    // last chunk (alone when there are no events). Empties the unsent list.
    void flush(const nlohmann::json& statuses);

    size_t unsentCount() const { return unsent_.size(); }

    static nlohmann::json closingStatuses(const std::vector<RunOutcome>& runs,
                                          const std::vector<std::string>& notPlugged);
    static nlohmann::json body(const std::vector<std::pair<std::string, SyncEvent>>& entries);

private:
    // Takes up to kMaxHeldEvents entries off the front of unsent_.
    std::vector<std::pair<std::string, SyncEvent>> takeChunk();

    double progressSeconds_;
    Clock clock_;
    Send send_;
    std::vector<std::pair<std::string, SyncEvent>> unsent_;
    std::optional<double> lastProgress_;  // none: the distant past
};

// "1 file to go", "1,234 files to go" (grouped as the user's locale groups
// numbers; "," where the locale has no separator), "" for 0.
std::string filesToGo(long long left);

// The longest error text a store status carries in its "detail".
inline constexpr size_t kMaxDetailCharacters = 250;

}  // namespace brindle
