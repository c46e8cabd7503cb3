#include "sharing/SharedFolder.h"

#include "common/Files.h"
#include "common/Text.h"
#include "sharing/BrindleShares.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        throw Brindle::ShareFailure("not_a_file",
                                    displayName(file) + " is not a file. Folders can't be shared yet; share the files inside.");
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

// Copies source into folder under a free name, without ever replacing a
// file: the copy is written under a temporary name and then linked to a
// name that is still free.
std::string copyInto(const fs::path& folder, const fs::path& source, Clock::time_point now) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) copyFailed(source, error.message());
    fs::path temporary = folder / Files::temporaryName();
    fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, error);
    if (error) {
        fs::remove(temporary, error);
        copyFailed(source, error.message());
    }
    backdate(temporary, source, now);
    const std::string name = source.filename().string();
    for (int n = 1;; ++n) {
        std::string target = candidate(name, n);
        if (::link(temporary.c_str(), (folder / target).c_str()) == 0) {
            fs::remove(temporary, error);
            return target;
        }
        if (errno == EEXIST) continue;
        std::string why = std::strerror(errno);
        fs::remove(temporary, error);
        copyFailed(source, why);
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
