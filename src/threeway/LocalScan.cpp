#include "threeway/DropboxSyncer.h"

#include "common/Files.h"
#include "common/Text.h"
#include "threeway/TreeWalk.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace brindle {

namespace {

// A file changed less than this long ago may still be being written.
constexpr double kBusySeconds = 1.0;
// Every pass holds the folder's pass lock and scans only while none of its
// own transfers runs, so any temporary file found then was left by a killed
// process.
constexpr double kStaleTemporarySeconds = 0;

bool recentlyChanged(double now, int64_t mtimeNs) {
    double age = now - static_cast<double>(mtimeNs) / 1e9;
    // A modification time far in the future (a skewed clock, a copied file)
    // is not a write in progress: such a file must not wait forever.
    return age < kBusySeconds && age > -kBusySeconds;
}

}  // namespace

TreeWalk::Result DropboxSyncer::walkLocal(double now) {
    // The folder's listing lives in its file between walks: a large tree's
    // listing costs less to read again than to keep in memory all along.
    std::filesystem::path file = stateFile_.parent_path() / (stateFile_.stem().string() + "-folder-listing");
    TreeWalk::ListingCache listing = TreeWalk::ListingCache::load(file);
    TreeWalk::Result found = TreeWalk::walk(folder_, now, kStaleTemporarySeconds, &listing, &ignoreRules_);
    listing.save(file);
    return found;
}

DropboxSyncer::Scan DropboxSyncer::classify(TreeWalk::Result found, double now) {
    Scan scan;
    std::map<std::string, std::string> skippedKeys;  // key -> path of files over the size limit
    std::vector<std::string> skipped;

    std::lock_guard<std::mutex> guard(lock_);  // for state_.base; nothing here waits on I/O
    // Each file is let go of once it is in the scan.
    for (; !found.files.empty(); found.files.pop_front()) {
        const TreeWalk::File& file = found.files.front();
        std::string path(file.path);
        if (!Text::isValidUTF8(path)) {
            // Neither the state file nor the stores can hold such a name.
            leaveOut(Text::lossyUTF8(path), "its name is not valid UTF-8");
            continue;
        }
        std::string key = pathKey(path);
        auto earlier = scan.local.find(key);
        auto earlierSkipped = skippedKeys.find(key);
        if (earlier != scan.local.end() || earlierSkipped != skippedKeys.end()) {
            const std::string& first = earlier != scan.local.end() ? earlier->second.path : earlierSkipped->second;
            leaveOut(path, "its name differs from " + first + " only by letter case, which " + name_ +
                               " treats as the same file");
            continue;
        }
        if (maxFileSize_ && file.size > *maxFileSize_) {
            skipped.push_back(path);
            // Not a deletion: the store keeps its copy while the file is too large.
            scan.busy.insert(key);
            skippedKeys.emplace(std::move(key), path);
            continue;
        }
        if (recentlyChanged(now, file.mtimeNs)) {
            auto base = state_.base.find(key);
            bool unchanged =
                base != state_.base.end() && base->second.size == file.size && base->second.mtimeNs == file.mtimeNs;
            if (!unchanged) scan.busy.insert(key);
        }
        scan.local.emplace_hint(scan.local.end(), std::move(key), Local{std::move(path), file.size, file.mtimeNs});
    }

    // What lies in a folder we could not list is unknown, not deleted.
    for (const auto& folder : found.unreadable) {
        if (warned_.insert(folder.path + "/").second)
            log_("Couldn't read " + folder.path + ": " + std::strerror(folder.error) + "; leaving it for now");
        std::string prefix = pathKey(folder.path) + "/";
        auto hold = [&](const auto& records) {
            for (auto it = records.lower_bound(prefix); it != records.end() && it->first.starts_with(prefix); ++it)
                scan.busy.insert(it->first);
        };
        hold(state_.base);
        hold(state_.remote);
    }

    if (!skipped.empty() && skipped != skippedFiles_) {
        std::string list;
        for (const auto& path : skipped) list += (list.empty() ? "" : ", ") + path;
        log_("Skipping files over " + std::to_string(*maxFileSize_ / 1048576) + " MB: " + list);
    }
    skippedFiles_ = std::move(skipped);
    return scan;
}

std::optional<DropboxSyncer::Scan> DropboxSyncer::rescanTouched(Scan scan, const std::set<std::string>& touched,
                                                                double now) {
    std::lock_guard<std::mutex> guard(lock_);
    for (const std::string& key : touched) {
        // Where the action left the file: the recorded path after a transfer,
        // the scanned one after a deletion here.
        std::string path;
        if (auto base = state_.base.find(key); base != state_.base.end())
            path = base->second.path;
        else if (auto local = scan.local.find(key); local != scan.local.end())
            path = local->second.path;
        scan.local.erase(key);
        if (path.empty()) continue;
        struct stat info {};
        if (::lstat((folder_ / path).c_str(), &info) != 0) {
            if (errno == ENOENT) continue;
            return std::nullopt;
        }
        if (!S_ISREG(info.st_mode) || recentlyChanged(now, Files::mtimeNs(info))) return std::nullopt;
        scan.local.emplace(key, Local{path, info.st_size, Files::mtimeNs(info)});
    }
    return scan;
}

}  // namespace brindle
