#include "git/Syncer.h"

#include "common/Log.h"
#include "git/SyncerSupport.h"

namespace brindle {

namespace {

std::vector<std::string> literal(const std::vector<std::string>& paths) {
    std::vector<std::string> specs;
    for (const std::string& path : paths) specs.push_back(":(literal)" + path);
    return specs;
}

}  // namespace

long long Syncer::knownFiles() const {
    GitResult tree = git_.run({"ls-tree", "-r", "--name-only", "-z", "HEAD"});
    return tree.status == 0 ? static_cast<long long>(tree.nulFields().size()) : 0;
}

bool Syncer::holdDeletions(DeletionsHeld::Side side, long long gone, long long known) {
    if (!DeletionGuard::tooMany(gone, known) || deletionAnswer_ != DeletionGuard::Answer::none) return false;
    held_.emplace_back(kGuardName, side, gone, known);
    Log::write(held_.back().what());
    return true;
}

void Syncer::guardLocalDeletions() {
    std::vector<std::string> removed =
        required({"diff", "--cached", "--name-only", "--diff-filter=D", "-z"}).nulFields();
    long long known = knownFiles();
    if (!DeletionGuard::tooMany(static_cast<long long>(removed.size()), known)) return;
    if (deletionAnswer_ == DeletionGuard::Answer::deleteThem) return;
    std::vector<std::string> args{"reset", "-q", "HEAD", "--"};
    if (deletionAnswer_ == DeletionGuard::Answer::keepThem) args = {"checkout", "HEAD", "--"};
    for (std::string& spec : literal(removed)) args.push_back(std::move(spec));
    // Unstaged, the deletions stay out of this commit; checked out, the
    // files are back in the folder.
    required(args);
    holdDeletions(DeletionsHeld::Side::store, static_cast<long long>(removed.size()), known);
}

std::vector<std::string> Syncer::remoteDeletions(const std::string& ref) const {
    GitResult diff = git_.run({"diff", "--name-only", "--diff-filter=D", "-z", "HEAD..." + ref});
    return diff.status == 0 ? diff.nulFields() : std::vector<std::string>{};
}

bool Syncer::mergeGuarded(const std::string& ref) {
    std::vector<std::string> removed = remoteDeletions(ref);
    long long known = knownFiles();
    if (holdDeletions(DeletionsHeld::Side::here, static_cast<long long>(removed.size()), known)) return false;
    bool keep = DeletionGuard::tooMany(static_cast<long long>(removed.size()), known) &&
                deletionAnswer_ == DeletionGuard::Answer::keepThem;
    std::optional<std::string> start = resolve("HEAD");
    merge(ref);
    if (!keep || !start) return true;
    // Put the files back from the commit before the merge, and send them
    // back to where they vanished from with the next push.
    std::vector<std::string> args{"checkout", *start, "--"};
    for (std::string& spec : literal(removed)) args.push_back(std::move(spec));
    required(args);
    required({"commit", "-q", "--no-verify", "-m", deviceName_ + ": kept files deleted elsewhere"});
    return true;
}

}  // namespace brindle
