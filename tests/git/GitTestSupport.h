#pragma once

#include <memory>

#include "git/Syncer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {

// A temporary folder and an isolated home, with git kept away from the
// user's own configuration, for the life of the object.
class GitSandbox {
public:
    GitSandbox();
    const std::filesystem::path& root() const { return temp_.path(); }
    // The log written since this sandbox was made (the log file is chosen
    // once per process, so it is pinned to one that lives as long).
    std::string log() const;
    // A new bare repository standing in for GitHub; its file:// URL.
    std::string makeRemote(const std::string& name = "remote.git");

private:
    size_t logStart_;
    ScopedEnv env_;
    IsolatedHome home_;
    TempDir temp_;
};

// One computer: its Larder folder, its repository directory and its syncer.
struct Computer {
    Computer(const GitSandbox& sandbox, const std::string& device, const std::string& remoteURL);

    std::filesystem::path folder, gitDir;
    std::unique_ptr<Syncer> syncer;

    void write(const std::string& relative, const std::string& content) const { writeFile(folder / relative, content); }
    std::string read(const std::string& relative) const { return readFile(folder / relative); }
    std::vector<std::string> files() const { return pathsIn(folder); }
    // Runs git on this computer's repository; fails the test when git fails.
    std::string git(const std::vector<std::string>& args) const;
};

// Every file of a bare repository's main branch.
std::vector<std::string> remoteFiles(const std::string& remoteURL);

}  // namespace brindle::test
