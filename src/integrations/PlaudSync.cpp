#include "integrations/PlaudSync.h"

#include <algorithm>

#include "common/Files.h"
#include "common/IsoDate.h"
#include "common/Log.h"
#include "common/Text.h"
#include "integrations/IntegrationError.h"
#include "integrations/NoteText.h"
#include "integrations/Pattern.h"
#include "platform/Shell.h"

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr double kCommandTimeout = 120;
constexpr int kPageSize = 50;
constexpr int kMaxPages = 400;
constexpr size_t kSlugLength = 60;
constexpr int kMaxLookback = 365;

const Pattern& idPattern() {
    static const Pattern pattern(R"(\b(?:of_)?[0-9a-f]{32}\b)");
    return pattern;
}

// Seconds since 1970 of midnight UTC of a strict yyyy-MM-dd date, or nothing.
std::optional<long long> parseDay(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
    std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month), std::chrono::day(day)};
    if (!date.ok()) return std::nullopt;
    return std::chrono::sys_days(date).time_since_epoch().count() * 86400LL;
}

}  // namespace

PlaudSync::PlaudSync(fs::path meetingsDir, Clock clock)
    : meetingsDir_(std::move(meetingsDir)), clock_(std::move(clock)) {
    if (auto given = Files::env("LARDER_PLAUD")) {
        cli_ = *given;
    } else if (auto found = Shell::find("plaud")) {
        cli_ = *found;
    } else {
        throw IntegrationError("The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login",
                               true);
    }
    // plaud is a node program: its PATH must reach node even when the app
    // was started without the user's shell set-up.
    env_["PATH"] = Shell::path({cli_, Shell::find("node")});
}

PlaudSync::Output PlaudSync::plaud(const std::vector<std::string>& args) {
    Shell::Result result = Shell::run(cli_, args, env_, kCommandTimeout);
    return {result.status, std::move(result.out), std::move(result.err)};
}

std::string PlaudSync::today() const {
    return IsoDate::format(clock_()).substr(0, 10);
}

PlaudSync::Result PlaudSync::run(bool backfill, std::optional<int> lookbackDays, const Progress& progress) {
    if (plaud({"me"}).status != 0)
        throw IntegrationError("Not signed in to Plaud. Run `plaud login` in Terminal.", true);
    std::error_code error;
    fs::create_directories(meetingsDir_, error);
    if (error) throw Error("Couldn't create " + meetingsDir_.string() + ": " + error.message());

    std::set<std::string> existing = existingIDs();
    int days = lookbackDays ? *lookbackDays : std::max(daysSinceNewestNote() + 2, 2);
    std::vector<std::string> ids = backfill ? listAll(progress) : listRecent(days);

    Result result;
    result.found = static_cast<int>(ids.size());
    std::string syncedAt = IsoDate::format(clock_());
    for (const auto& id : ids) {
        if (existing.count(id)) continue;
        if (Text::startsWith(id, "of_") && existing.count(id.substr(3))) continue;
        Recording recording;
        switch (fetch(id, recording)) {
            case Outcome::ready: {
                fs::path written = write(recording, syncedAt);
                ++result.written;
                if (progress) progress("Wrote " + written.filename().string());
                break;
            }
            case Outcome::notReady:
                ++result.notReady;
                break;
            case Outcome::duplicate:
                ++result.alreadyHad;
                break;
        }
    }
    return result;
}

std::set<std::string> PlaudSync::existingIDs() const {
    static const Pattern idLine(R"(^plaud_id:\s*(\S+)\s*$)", Pattern::kMultiline);
    std::set<std::string> ids;
    std::error_code error;
    for (fs::directory_iterator it(meetingsDir_, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() != ".md") continue;
        auto text = Files::read(it->path());
        if (!text || !Text::isValidUTF8(*text)) continue;
        if (auto id = idLine.firstGroup(*text)) ids.insert(*id);
    }
    return ids;
}

int PlaudSync::daysSinceNewestNote() const {
    std::string newest;
    std::error_code error;
    for (fs::directory_iterator it(meetingsDir_, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        if (name.size() > 10 && Text::endsWith(name, ".md")) newest = std::max(newest, name.substr(0, 10));
    }
    auto day = parseDay(newest);
    if (!day) return 0;
    long long now = std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
    long long days = (now - *day) / 86400;
    return static_cast<int>(std::clamp<long long>(days, 0, kMaxLookback));
}

std::vector<std::string> PlaudSync::listRecent(int days) {
    Output output = plaud({"recent", "--days", std::to_string(days)});
    if (output.status != 0) throw IntegrationError("plaud recent failed: " + Text::trim(output.err));
    std::vector<std::string> ids = extractIDs(output.out);
    if (ids.empty() && output.out.find("No recordings") == std::string::npos)
        Log::write("Plaud: output had no recording IDs; format may have changed");
    return ids;
}

std::vector<std::string> PlaudSync::listAll(const Progress& progress) {
    std::vector<std::string> all;
    std::set<std::string> seen;
    for (int page = 1; page <= kMaxPages; ++page) {
        Output output = plaud({"files", "--page", std::to_string(page), "--page-size", std::to_string(kPageSize)});
        if (output.status != 0) break;
        size_t before = all.size();
        for (auto& id : extractIDs(output.out))
            if (seen.insert(id).second) all.push_back(id);
        // A page with nothing new means the tool is repeating itself or done.
        if (all.size() == before) break;
        if (progress) progress("Listed " + std::to_string(all.size()) + " recordings\u2026");
    }
    return all;
}

std::vector<std::string> PlaudSync::extractIDs(const std::string& text) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    for (auto& id : idPattern().allMatches(text))
        if (seen.insert(id).second) ids.push_back(id);
    return ids;
}

std::pair<std::string, std::string> PlaudSync::parseDetails(const std::string& text, const std::string& id) const {
    constexpr unsigned kOptions = Pattern::kCaseless | Pattern::kMultiline;
    static const Pattern name(R"(^\s*name\s*:\s*(.+)$)", kOptions);
    static const Pattern title(R"(^\s*title\s*[:\-]\s*(.+)$)", kOptions);
    static const Pattern createdAt(R"(^\s*created_at\s*:\s*(\d{4}-\d{2}-\d{2}))", kOptions);
    static const Pattern anyDate(R"(\b(\d{4}-\d{2}-\d{2})\b)", kOptions);

    auto first = [&](const Pattern& a, const Pattern& b) -> std::optional<std::string> {
        for (const Pattern* pattern : {&a, &b}) {
            auto found = pattern->firstGroup(text);
            // A title of nothing but spaces is no title.
            if (found && !Text::trim(*found).empty()) return Text::trim(*found);
        }
        return std::nullopt;
    };
    std::string foundTitle = first(name, title).value_or("Plaud recording " + id);
    std::string foundDate = first(createdAt, anyDate).value_or(today());
    return {foundTitle, foundDate};
}

fs::path PlaudSync::noteFile(const std::string& date, const std::string& title) const {
    return meetingsDir_ / (date + "-" + NoteText::slugify(title, kSlugLength) + ".md");
}

PlaudSync::Outcome PlaudSync::fetch(const std::string& id, Recording& recording) {
    Output details = plaud({"file", id});
    if (details.status != 0) return Outcome::notReady;
    auto [title, date] = parseDetails(details.out, id);
    std::error_code error;
    if (fs::exists(noteFile(date, title), error)) return Outcome::duplicate;

    auto textOf = [&](const char* command) {
        Output output = plaud({command, id});
        return output.status == 0 ? Text::trim(output.out) : std::string();
    };
    std::string summary = textOf("summary");
    std::string transcript = textOf("transcript");
    if (summary.empty() && transcript.empty()) return Outcome::notReady;
    recording = Recording{id, title, date, std::nullopt, std::nullopt};
    if (!summary.empty()) recording.summary = std::move(summary);
    if (!transcript.empty()) recording.transcript = std::move(transcript);
    return Outcome::ready;
}

std::string PlaudSync::noteText(const Recording& r, const std::string& syncedAt) {
    std::string quoted = r.title;
    std::replace(quoted.begin(), quoted.end(), '"', '\'');
    std::string text = "---\ntitle: \"" + quoted + "\"\ndate: " + r.date + "\nplaud_id: " + r.id +
                       "\nsource: plaud\nsynced_at: " + syncedAt + "\n---\n\n";
    text += "# " + r.title + "\n";
    if (r.summary) text += "\n## Summary\n\n" + *r.summary + "\n";
    if (r.transcript) text += "\n## Transcript\n\n" + *r.transcript + "\n";
    return text;
}

fs::path PlaudSync::write(const Recording& r, const std::string& syncedAt) {
    std::string base = r.date + "-" + NoteText::slugify(r.title, kSlugLength);
    fs::path file = meetingsDir_ / (base + ".md");
    std::error_code error;
    for (int n = 2; fs::exists(file, error); ++n) {
        // The note of this very recording may be rewritten; anything else is kept.
        auto existing = Files::read(file);
        if (existing && existing->find(r.id) != std::string::npos) break;
        file = meetingsDir_ / (base + "-" + std::to_string(n) + ".md");
    }
    Files::writeAtomically(file, noteText(r, syncedAt));
    return file;
}

}  // namespace brindle
