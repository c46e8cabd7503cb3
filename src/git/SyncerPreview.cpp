#include "git/Syncer.h"

#include "common/IgnoreRules.h"
#include "git/SyncerSupport.h"

#include <algorithm>

namespace brindle {

using namespace SyncerSupport;

namespace {

bool present(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// git status's two-letter code for one path, as the line a preview prints.
std::string localLine(const std::string& code, const std::string& path) {
    if (code.find('D') != std::string::npos) return "delete in " + std::string(Syncer::kGuardName) + " " + path;
    return "upload " + path;
}

}  // namespace

std::vector<std::string> Syncer::preview() const {
    std::vector<std::string> lines;
    if (!present(folder_)) return lines;
    if (!present(git_.gitDir() / "HEAD")) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_))
            if (entry.is_regular_file())
                lines.push_back("upload " + entry.path().lexically_relative(folder_).generic_string());
        std::sort(lines.begin(), lines.end());
        return lines;
    }
    // No optional locks: git must not even refresh its index here. The rules
    // file is read as it is now, not as the last pass copied it.
    std::vector<std::string> status =
        required({"--no-optional-locks", "-c", "core.excludesFile=" + (folder_ / IgnoreRules::kFileName).string(),
                  "status", "--porcelain=v1", "-z", "--untracked-files=all", "--no-renames"})
            .nulFields();
    for (const std::string& field : status)
        if (field.size() > 3) lines.push_back(localLine(field.substr(0, 2), field.substr(3)));
    // What the last fetch brought and is not merged yet; a preview fetches
    // nothing, as fetching writes to the repository.
    if (resolve(kRemoteRef)) {
        std::vector<Record> records = parseRecords(
            required({"diff", "--name-status", "--no-renames", "-z", std::string("HEAD...") + kRemoteRef}).nulFields());
        for (const Record& record : records)
            lines.push_back(std::string(record.status[0] == 'D' ? "delete here " : "download ") + record.path);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace brindle
