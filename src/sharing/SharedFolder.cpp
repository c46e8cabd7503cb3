#include "sharing/SharedFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/Files.h"
#include "common/Text.h"
#include "sharing/BrindleShares.h"

namespace brindle::SharedFolder {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

namespace {

// The name the user knows the file by, also for "folder/".
std::string displayName(const fs::path& file) {
    return file.has_filename() ? file.filename().string() : file.parent_path().filename().string();
}

void checkIsFile(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        throw Brindle::ShareFailure(
            "not_a_file", displayName(file) + " is not a file. Folders can't be shared yet; share the files inside.");
}

std::string candidate(const std::string& name, int n) {
    if (n == 1) return name;
    fs::path path(name);
    std::string suffix = " (" + std::to_string(n) + ")";
    // A leading dot alone ("x" from ".x") is not an extension.
    if (!path.has_extension()) return name + suffix;
    return path.stem().string() + suffix + path.extension().string();
}

// Sets the copy's modification time to the source's, but at most one minute
// before now, so that a just-written copy does not look like work in progress.
void backdate(const fs::path& copy, const fs::path& source, Clock::time_point now) {
    struct stat info {};
    Clock::time_point modified = now;
    if (::stat(source.c_str(), &info) == 0)
        modified = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
            std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    modified = std::min(modified, now - std::chrono::minutes(1));
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(since / 1'000'000'000);
    times[1].tv_nsec = static_cast<long>(since % 1'000'000'000);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += 1'000'000'000;
        times[1].tv_sec -= 1;
    }
    ::utimensat(AT_FDCWD, copy.c_str(), times, 0);  // a failure leaves the copy's own time
}

[[noreturn]] void copyFailed(const fs::path& source, const std::string& why) {
    throw Error("Couldn't copy " + source.filename().string() + " into your Larder: " + why);
}

bool linksUnsupported(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// Moves every byte from in to out; 0 or the errno of the failure.
int pump(int in, int out) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0 ? 0 : errno;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) return errno;
            done += put;
        }
    }
}

// Copies source into a new file target, never over an existing one (EEXIST).
// Returns 0 or the errno of the failure, which leaves no target behind.
int copyToNewFile(const fs::path& source, const fs::path& target) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    struct stat info {};
    mode_t mode = ::fstat(in, &info) == 0 ? (info.st_mode & 0777) : 0644;
    int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        int failure = errno;
        ::close(in);
        return failure;
    }
    int failure = pump(in, out);
    if (::close(out) != 0 && failure == 0) failure = errno;
    ::close(in);
    if (failure != 0) ::unlink(target.c_str());
    return failure;
}

// Gives temporary the name target unless a file of that name exists. Returns
// 0, or the errno of the failure (EEXIST when the name is taken).
int claimName(const fs::path& temporary, const fs::path& target) {
    if (::link(temporary.c_str(), target.c_str()) == 0) return 0;
    if (!linksUnsupported(errno)) return errno;
    // vfat and some FUSE file systems have no hard links.
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    return copyToNewFile(temporary, target);
}

// Copies source into folder under a free name, without ever replacing a
// file: the copy is written under a temporary name and then given a name
// that is still free.
std::string copyInto(const fs::path& folder, const fs::path& source, Clock::time_point now) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) copyFailed(source, error.message());
    fs::path temporary = folder / Files::temporaryName();
    if (int failure = copyToNewFile(source, temporary)) copyFailed(source, std::strerror(failure));
    const std::string name = source.filename().string();
    for (int n = 1;; ++n) {
        std::string target = candidate(name, n);
        int failure = claimName(temporary, folder / target);
        if (failure == EEXIST) continue;
        fs::remove(temporary, error);  // already gone after a rename
        if (failure != 0) copyFailed(source, std::strerror(failure));
        backdate(folder / target, source, now);
        return target;
    }
}

}  // namespace

std::vector<std::string> place(const std::vector<fs::path>& files, const fs::path& root,
                               const std::function<void(const std::string&)>& said, Clock::time_point now) {
    for (const fs::path& file : files) checkIsFile(file);
    std::error_code error;
    const std::string resolvedRoot = fs::weakly_canonical(root, error).string();
    std::vector<std::string> paths;
    for (const fs::path& file : files) {
        std::string resolved = fs::canonical(file, error).string();
        if (!error && Text::startsWith(resolved, resolvedRoot + "/")) {
            paths.push_back(resolved.substr(resolvedRoot.size() + 1));
            continue;
        }
        std::string target = copyInto(fs::path(resolvedRoot) / kName, file, now);
        if (said) said("Copied " + file.filename().string() + " into your Larder (" + kName + "/).");
        paths.push_back(std::string(kName) + "/" + target);
    }
    return paths;
}

}  // namespace brindle::SharedFolder
