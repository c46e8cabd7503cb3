#include "git/Syncer.h"

#include "common/IgnoreRules.h"
#include "common/IgnoredNames.h"
#include "git/SyncerSupport.h"

#include <algorithm>
#include <set>

namespace brindle {

using namespace SyncerSupport;

namespace {

bool present(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::vector<std::pair<std::string, bool>> Syncer::localChanges() const {
    std::vector<std::pair<std::string, bool>> changes;
    const IgnoreRules rules = IgnoreRules::load(folder_);
    if (!present(git_.gitDir() / "HEAD")) {
        // No repository yet: every file the first pass would commit is new.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_)) {
            std::string path = entry.path().lexically_relative(folder_).generic_string();
            if (entry.is_regular_file() && !rules.ignores(path) && !IgnoredNames::anyComponentMatches(path))
                changes.emplace_back(path, false);
        }
        return changes;
    }
    // No optional locks: git must not even refresh its index here. The rules
    // file is read as it is now, not as the last pass copied it.
    std::vector<std::string> status =
        required({"--no-optional-locks", "-c", "core.excludesFile=" + (folder_ / IgnoreRules::kFileName).string(),
                  "status", "--porcelain=v1", "-z", "--untracked-files=all", "--no-renames"})
            .nulFields();
    for (const std::string& field : status)
        if (field.size() > 3) changes.emplace_back(field.substr(3), field.substr(0, 2).find('D') != std::string::npos);
    return changes;
}

std::vector<std::string> Syncer::preview() const {
    std::vector<std::string> lines;
    if (!present(folder_)) return lines;
    Exclusions exclusions = scanForExclusions();
    std::set<std::string> excluded(exclusions.excludes.begin(), exclusions.excludes.end());
    for (const std::string& path : exclusions.skippedLarge) lines.push_back("skip: too big " + path);
    for (const auto& [path, deleted] : localChanges()) {
        if (excluded.count(path)) continue;
        lines.push_back((deleted ? "delete in " + std::string(kGuardName) + " " : std::string("upload ")) + path);
    }
    // What the last fetch brought and is not merged yet; a preview fetches
    // nothing, as fetching writes to the repository.
    if (present(git_.gitDir() / "HEAD") && resolve(kRemoteRef)) {
        std::vector<Record> records = parseRecords(
            required({"diff", "--name-status", "--no-renames", "-z", std::string("HEAD...") + kRemoteRef}).nulFields());
        for (const Record& record : records)
            lines.push_back(std::string(record.status[0] == 'D' ? "delete here " : "download ") + record.path);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace brindle
