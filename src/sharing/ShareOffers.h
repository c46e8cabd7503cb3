#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brindle {

// Decides which files of the Larder folder's "Shared" subfolder are new or
// changed since the last check, so that the user can be offered to share
// them, and remembers what was offered in a state file. A file is offered
// once per signature (size and modification second); files still being
// written (modified less than 3 seconds ago), hidden files and partial
// downloads are left out. Not thread-safe: one checker per caller.
class ShareOffers {
public:
    using Clock = std::chrono::system_clock;
    // key ("Shared/" + path inside dir) -> "SIZE:SECONDS"
    using Signatures = std::map<std::string, std::string>;

    // dir: the "Shared" folder; state: the "shared-offered.json" file.
    ShareOffers(std::filesystem::path dir, std::filesystem::path state,
                std::function<Clock::time_point()> now = [] { return Clock::now(); });

    // The keys that are new or changed, sorted; records them as offered.
    // The first check (no readable state file) offers nothing and records
    // everything present as the baseline.
    std::vector<std::string> check();

    // The keys that are new or changed, sorted, without recording them (the
    // first check still records its baseline). markOffered then records
    // those of them that were offered, with the signature pending() saw.
    std::vector<std::string> pending();
    void markOffered(const std::vector<std::string>& keys);

    // The current signature of every file that may be offered. A folder that
    // cannot be walked gives an empty map; a name that is not valid UTF-8 is
    // left out with a log line.
    Signatures signatures() const;

    // Writes the state file atomically; a failure is logged and otherwise
    // ignored (the next check may then offer the same files again).
    void save(const Signatures& map) const;

private:
    bool eligible(const std::filesystem::directory_entry& entry, Clock::time_point now) const;

    std::filesystem::path dir_;
    std::filesystem::path state_;
    std::function<Clock::time_point()> now_;
    Signatures seen_;  // what the last pending() saw
};

}  // namespace brindle
