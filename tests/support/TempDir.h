#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"

namespace brindle::test {

// A new empty folder under the temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

using Tree = std::map<std::string, std::string>;
void writeFile(const std::filesystem::path& path, const std::string& content);  // creating folders on the way
std::string readFile(const std::filesystem::path& path);                        // "" when unreadable
Tree filesIn(const std::filesystem::path& root);  // every regular file, hidden ones too; {} when missing
std::vector<std::string> pathsIn(const std::filesystem::path& root);  // their paths, sorted

// HOME, the XDG folders and LARDER_LOG in a temporary home for the object's life.
class IsolatedHome {
public:
    IsolatedHome();
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;
    const std::filesystem::path& path() const { return home_.path(); }
    std::filesystem::path logFile() const { return home_.path() / "brindle.log"; }

private:
    TempDir home_;
    ScopedEnv env_;
};

}  // namespace brindle::test
