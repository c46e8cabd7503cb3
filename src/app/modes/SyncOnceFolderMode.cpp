#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/Modes.h"
#include "common/Error.h"
#include "common/Files.h"
#include "git/Git.h"
#include "git/Syncer.h"

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
    // Inside the folder the repository would be synced as the user's files.
    auto [stop, rest] = std::mismatch(folder.begin(), folder.end(), gitDir.begin(), gitDir.end());
    if (stop == folder.end())
        throw Error("The git directory " + gitDir.string() + " must be outside the folder " + folder.string() + ".");
    // The repository directory must exist (it holds no user files) and take
    // new files; try it for real rather than trusting permission bits.
    fs::create_directories(gitDir, ec);
    if (ec || !fs::is_directory(gitDir, ec))
        throw Error("The git directory " + gitDir.string() + " is not writable" + (ec ? ": " + ec.message() : "") +
                    ".");
    fs::path probe = gitDir / Files::temporaryName();
    int fd = ::open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) throw Error("The git directory " + gitDir.string() + " is not writable: " + std::strerror(errno) + ".");
    ::close(fd);
    fs::remove(probe, ec);
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
