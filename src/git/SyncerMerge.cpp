// Merging what other computers pushed: conflicts never stop a pass, and
// nothing is lost. A file changed on both sides keeps this computer's content
// under its own name and the other computer's beside it as a conflict copy; a
// file edited on one side and deleted on the other is kept.
#include <charconv>
#include <fstream>
#include <set>

#include "common/ConflictName.h"
#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"
#include "git/Syncer.h"
#include "git/SyncerSupport.h"

namespace brindle {

namespace fs = std::filesystem;
using namespace SyncerSupport;

namespace {

// The stages present for one path in "ls-files -u -z" output: 2 is ours, 3
// the other computer's.
std::set<int> stagesOf(const std::vector<std::string>& fields) {
    std::set<int> stages;
    for (const std::string& field : fields) {
        std::string head = field.substr(0, field.find('\t'));
        std::string last;
        for (std::string& piece : Text::split(head, ' '))
            if (!piece.empty()) last = std::move(piece);
        int stage = 0;
        auto [end, failure] = std::from_chars(last.data(), last.data() + last.size(), stage);
        if (failure == std::errc() && end == last.data() + last.size()) stages.insert(stage);
    }
    return stages;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw Error("Could not write " + path.string());
}

}  // namespace

void Syncer::merge(const std::string& ref) {
    // Note what the merge starts from and brings in, so that a pass cut short
    // in the middle of it can be rolled back by the next one.
    std::optional<std::string> start = resolve("HEAD");
    std::optional<std::string> target = resolve(ref);
    recordOperation({"merge", start.value_or(kEmptyTree), target.value_or(ref), {}});

    std::vector<std::string> args{
        "merge", "-q", "--no-edit", "--allow-unrelated-histories", "-m", deviceName_ + ": merge", ref};
    GitResult result = git_.run(args);
    if (result.status == 0) {
        clearOperation();
        Log::write("Merged remote changes");
        return;
    }
    std::vector<std::string> conflicted = required({"diff", "--name-only", "--diff-filter=U", "-z"}).nulFields();
    if (conflicted.empty()) {
        // Not a conflict (a local file in the way, for example): leave the
        // repository as it was and report git's own complaint.
        git_.run({"merge", "--abort"});
        clearOperation();
        throw GitError({"merge"}, std::move(result));
    }
    resolveConflicts(ref, conflicted);
    required({"commit", "-q", "--no-verify", "--no-edit"});
    clearOperation();
    Log::write("Merged remote changes with " + std::to_string(conflicted.size()) + " conflict(s)");
}

void Syncer::resolveConflicts(const std::string& ref, const std::vector<std::string>& conflicted) {
    const std::string other = git_.run({"log", "-1", "--format=%an", ref}).text();
    const std::string stamp = ConflictName::stamp(clock_());
    std::optional<std::string> start = resolve("HEAD");
    std::optional<std::string> target = resolve(ref);
    std::vector<std::string> copies;

    for (const std::string& path : conflicted) {
        // Paths reach git as literal pathspecs, so "[draft] *.md" is a name, not a pattern.
        const std::string spec = ":(literal)" + path;
        GitResult listing = git_.run({"ls-files", "-u", "-z", "--", spec});
        std::set<int> stages = listing.status == 0 ? stagesOf(listing.nulFields()) : std::set<int>{};
        const bool ours = stages.count(2) > 0, theirs = stages.count(3) > 0;
        if (theirs && !ours) {
            required({"checkout", "--theirs", "--", spec});
            required({"add", "--", spec});
            Log::write("Conflict on " + path + ": edited on one Mac, deleted on another — kept the file");
        } else if (ours && !theirs) {
            required({"checkout", "--ours", "--", spec});
            required({"add", "--", spec});
            Log::write("Conflict on " + path + ": edited on one Mac, deleted on another — kept the file");
        } else if (!ours && !theirs) {
            required({"rm", "-q", "--cached", "--ignore-unmatch", "--", spec});
        } else {
            std::string copy = conflictCopyPath(path, other, stamp);
            GitResult remoteVersion = required({"show", ":3:" + path});
            // Name the copy before writing it, so an interrupted pass can
            // take it back instead of leaving a stray duplicate.
            copies.push_back(path);
            copies.push_back(copy);
            recordOperation({"merge", start.value_or(kEmptyTree), target.value_or(ref), copies});
            fs::path destination = folder_ / copy;
            std::error_code ec;
            fs::create_directories(destination.parent_path(), ec);
            if (ec) throw Error("Could not create " + destination.parent_path().string() + ": " + ec.message());
            writeBytes(destination, remoteVersion.out);
            required({"checkout", "--ours", "--", spec});
            required({"add", "--", spec, ":(literal)" + copy});
            Log::write("Conflict on " + path + ": kept both, other version saved as " + copy);
        }
    }
}

std::string Syncer::conflictCopyPath(const std::string& path, const std::string& device,
                                     const std::string& stamp) const {
    return ConflictName::make(folder_, path, device, stamp);
}

}  // namespace brindle
