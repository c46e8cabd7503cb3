#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace brindle {

// One import of Plaud recordings as Markdown notes into the Meetings folder,
// driven entirely through Plaud's own `plaud` command-line tool. Append-only:
// a recording that has a note (by its plaud_id line) is never fetched again
// and notes are never edited afterwards. Created per run; call run() from a
// background thread (it starts child processes and blocks on them).
class PlaudSync {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using Progress = std::function<void(const std::string&)>;

    struct Result {
        int found = 0;       // ids the listing returned, before filtering
        int written = 0;     // notes written
        int notReady = 0;    // recordings Plaud has not finished processing
        int alreadyHad = 0;  // a note of the same name already exists
    };

    struct Recording {
        std::string id;
        std::string title;
        std::string date;  // yyyy-MM-dd
        std::optional<std::string> summary;
        std::optional<std::string> transcript;
    };

    // Locates the CLI: $LARDER_PLAUD as given, else `plaud` among the usual
    // tool folders and the login shell's PATH. Throws a not-configured
    // IntegrationError when it is missing. clock stands in for "now".
    explicit PlaudSync(std::filesystem::path meetingsDir, Clock clock = std::chrono::system_clock::now);

    // One import: sign-in check, listing (recent, or every page when
    // backfill), fetching and writing. lookbackDays overrides the look-back
    // worked out from the newest note. progress, when given, hears "Listed N
    // recordings…" and "Wrote NAME". Throws IntegrationError, or
    // brindle::Error when a note cannot be written (notes already written stay).
    Result run(bool backfill, std::optional<int> lookbackDays = std::nullopt, const Progress& progress = nullptr);

    // Days between the date prefix of the newest note and now, 0 to 365; 0
    // when there is no dated note or the greatest prefix is not a date.
    int daysSinceNewestNote() const;

    // Every recording id in text ("of_" prefix kept), first occurrence first.
    static std::vector<std::string> extractIDs(const std::string& text);
    // Title and yyyy-MM-dd date from the output of `plaud file ID`.
    std::pair<std::string, std::string> parseDetails(const std::string& text, const std::string& id) const;
    // The whole text of a note, front matter and body.
    static std::string noteText(const Recording& recording, const std::string& syncedAt);

private:
    enum class Outcome { ready, notReady, duplicate };

    std::set<std::string> existingIDs() const;
    std::vector<std::string> listAll(const Progress& progress);
    std::vector<std::string> listRecent(int days);
    Outcome fetch(const std::string& id, Recording& recording);
    std::filesystem::path write(const Recording& recording, const std::string& syncedAt);
    std::filesystem::path noteFile(const std::string& date, const std::string& title) const;
    struct Output {
        int status = 0;
        std::string out;
        std::string err;
    };
    Output plaud(const std::vector<std::string>& args);
    std::string today() const;

    std::filesystem::path meetingsDir_;
    std::string cli_;
    std::map<std::string, std::string> env_;  // holds only PATH
    Clock clock_;
};

}  // namespace brindle
