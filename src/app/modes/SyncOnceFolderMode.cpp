#include "app/Modes.h"

#include "common/Error.h"
#include "git/Git.h"
#include "git/Syncer.h"

#include <filesystem>
#include <unistd.h>

namespace brindle::Modes {

namespace fs = std::filesystem;

namespace {

// Checks the operands before anything is created or changed, so a mistake
// gives one clear line instead of a git complaint or a half-made folder.
void checkOperands(const fs::path& folder, const fs::path& gitDir, const std::string& remote,
                   const std::string& device) {
    std::error_code ec;
    if (folder.empty()) throw Error("The folder must not be empty.");
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
        throw Error("The folder " + folder.string() + " is not a folder.");
    if (gitDir.empty()) throw Error("The git directory must not be empty.");
    if (remote.empty()) throw Error("The remote URL must not be empty.");
    if (device.empty()) throw Error("The device name must not be empty.");
    // The nearest existing folder of the git directory must take new files.
    fs::path existing = gitDir;
    while (!existing.empty() && !fs::exists(existing, ec)) existing = existing.parent_path();
    if (existing.empty() || !fs::is_directory(existing, ec))
        throw Error("The git directory " + gitDir.string() + " is not a folder.");
    if (::access(existing.c_str(), W_OK | X_OK) != 0)
        throw Error("The git directory " + gitDir.string() + " is not writable.");
    fs::path inside = gitDir / "objects";
    if (fs::exists(inside, ec) && ::access(inside.c_str(), W_OK | X_OK) != 0)
        throw Error("The git directory " + gitDir.string() + " is not writable.");
}

}  // namespace

int syncOnceFolder(const Args& args) {
    const fs::path folder = fs::absolute(args.at(2)).lexically_normal();
    const fs::path gitDir = fs::absolute(args.at(3)).lexically_normal();
    const std::string& remote = args.at(4);
    const std::string& device = args.at(5);
    checkOperands(args.at(2).empty() ? fs::path() : folder, args.at(3).empty() ? fs::path() : gitDir, remote, device);
    Syncer syncer(folder, Git(gitDir, folder), remote, device);
    syncer.sync();
    return 0;
}

}  // namespace brindle::Modes
