#pragma once

#include <gtest/gtest.h>

#include "common/Log.h"
#include "common/Text.h"
#include "git/Syncer.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {

// A temporary folder and home, git kept away from the user's configuration.
class GitSandbox {
public:
    const std::filesystem::path& root() const { return temp_.path(); }
    // The log written since this sandbox was made (in one file per process).
    std::string log() const { return readFile(Log::url()).substr(logStart_); }
    // A new bare repository standing in for GitHub; its file:// URL.
    std::string makeRemote() {
        runProgram({"/usr/bin/git", "init", "-q", "--bare", "-b", "main", (root() / "remote.git").string()});
        return "file://" + (root() / "remote.git").string();
    }

private:
    static size_t pinnedLogSize() {
        static TempDir folder;
        static bool pinned = (::setenv("LARDER_LOG", (folder / "Brindle.log").c_str(), 1), Log::url(), true);
        return pinned ? readFile(Log::url()).size() : 0;
    }
    size_t logStart_ = pinnedLogSize();
    ScopedEnv env_{{{"GIT_CONFIG_GLOBAL", "/dev/null"}, {"GIT_CONFIG_NOSYSTEM", "1"}}};
    IsolatedHome home_;
    TempDir temp_;
};

// One computer's folder, repository and syncer, named after the device name's last letter.
struct Computer {
    Computer(const GitSandbox& sandbox, const std::string& device, const std::string& remoteURL)
        : folder(sandbox.root() / ("folder-" + device.substr(device.size() - 1))),
          gitDir(folder.parent_path() / ("state-" + device.substr(device.size() - 1)) / "sync.git"),
          syncer(std::make_unique<Syncer>(folder, Git(gitDir, folder), remoteURL, device)) {}

    std::filesystem::path folder, gitDir;
    std::unique_ptr<Syncer> syncer;

    void write(const std::string& relative, const std::string& content) const { writeFile(folder / relative, content); }
    std::string read(const std::string& relative) const { return readFile(folder / relative); }
    std::vector<std::string> files() const { return pathsIn(folder); }
    std::string git(const std::vector<std::string>& args) const {
        std::vector<std::string> argv{"--git-dir=" + gitDir.string(), "--work-tree=" + folder.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        return brindle::test::git(folder.string(), argv);
    }
};

// Every file of a bare repository's main branch.
inline std::vector<std::string> remoteFiles(const std::string& remoteURL) {
    auto names = Text::split(git(remoteURL.substr(7), {"ls-tree", "-r", "--name-only", "-z", "main"}), '\0');
    return names.pop_back(), names;  // nothing after the last NUL
}

}  // namespace brindle::test
