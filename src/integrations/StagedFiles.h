#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// Writes many files of one folder atomically at the cost of one disk flush
// instead of two per file: each new content goes to a temporary file beside
// its target ("stage"), and commit() flushes the file system once, renames
// every temporary file over its target and flushes the folder. A crash
// leaves every file either old or new and complete. The destructor commits
// what is staged (failures there are swallowed). Not thread-safe.
class StagedFiles {
public:
    explicit StagedFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Writes bytes to a temporary file for target (inside the folder).
    // Throws brindle::Error naming the path when writing fails.
    void stage(const std::filesystem::path& target, std::string_view bytes);
    // Moves every staged file into place. Throws brindle::Error on the first
    // rename that fails (the files moved before it stay).
    void commit();
    size_t staged() const { return pending_.size(); }

private:
    struct Pending {
        std::filesystem::path temporary;
        std::filesystem::path target;
    };
    std::filesystem::path folder_;
    std::vector<Pending> pending_;
};

}  // namespace brindle
