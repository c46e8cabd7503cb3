#include "threeway/DropboxSyncer.h"

#include <algorithm>
#include <limits>

namespace brindle {

namespace {

std::string previewLine(const SyncAction& action, const std::string& name) {
    const std::string& path = action.local ? action.local->path : action.remote->path;
    switch (action.kind) {
        case SyncAction::Kind::download:
            return "download " + path;
        case SyncAction::Kind::upload:
            return "upload " + path;
        case SyncAction::Kind::conflict:
            return "conflict copy " + path;
        case SyncAction::Kind::removeRemote:
            return "delete in " + name + " " + path;
        case SyncAction::Kind::removeLocal:
            return "delete here " + path;
    }
    return path;
}

}  // namespace

std::vector<std::string> DropboxSyncer::preview() {
    std::error_code error;
    bool folderMissing = !std::filesystem::exists(std::filesystem::symlink_status(folder_, error));
    // Log lines describe what a pass does; a preview does nothing.
    auto log = std::exchange(log_, [](const std::string&) {});
    struct Restore {
        DropboxSyncer& syncer;
        std::function<void(const std::string&)> log;
        ~Restore() { syncer.log_ = std::move(log); }
    } restore{*this, std::move(log)};

    loadState();
    checkAccount();
    double now = clock_();
    ignoreRules_ = IgnoreRules::load(folder_);
    // Temporary files are never removed here: a pass may be writing them.
    TreeWalk::Result found;
    if (!folderMissing)
        found = TreeWalk::walk(folder_, now, std::numeric_limits<double>::infinity(), nullptr, &ignoreRules_);
    refreshRemote();
    Scan scan = classify(std::move(found), now);
    auto [localGone, remoteGone] = goneSides(scan, folderMissing);
    std::set<std::string> done;
    std::vector<std::string> lines;
    for (const Action& action : decideAll(scan, localGone, remoteGone, done))
        lines.push_back(previewLine(action, name_));
    for (const std::string& path : skippedFiles()) lines.push_back("skip: too big " + path);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace brindle
