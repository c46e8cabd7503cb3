#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "git/Syncer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {

// Keeps git away from the user's own configuration for the life of the
// object (no ~/.gitconfig, no system file), on top of an isolated home.
class GitSandbox {
public:
    GitSandbox();
    GitSandbox(const GitSandbox&) = delete;
    GitSandbox& operator=(const GitSandbox&) = delete;

    const std::filesystem::path& root() const { return temp_.path(); }
    // The log written since this sandbox was made.
    std::string log() const;
    // A new bare repository standing in for GitHub; its file:// URL.
    std::string makeRemote(const std::string& name = "remote.git");

private:
    // The log file is chosen once per process: pin it to a folder that lives
    // as long as the process, and read only what this sandbox's test wrote.
    struct LogPin {
        LogPin();
        size_t offset = 0;
    };
    LogPin pin_;
    ScopedEnv env_;
    IsolatedHome home_;
    TempDir temp_;
};

// One computer: its Larder folder, its repository directory and its syncer.
struct Computer {
    Computer(const GitSandbox& sandbox, const std::string& device, const std::string& remoteURL);

    std::filesystem::path folder;
    std::filesystem::path gitDir;
    std::unique_ptr<Syncer> syncer;

    void write(const std::string& relative, const std::string& content) const;
    std::string read(const std::string& relative) const;
    bool has(const std::string& relative) const;
    // Every regular file below the folder, as sorted relative paths.
    std::vector<std::string> files() const;
    // Runs git on this computer's repository.
    std::string git(const std::vector<std::string>& args) const;
};

// Every file of a bare repository's main branch.
std::vector<std::string> remoteFiles(const std::string& remoteURL);

}  // namespace brindle::test
