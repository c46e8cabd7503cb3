#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/ScopedEnv.h"

namespace brindle::test {

// A new empty folder under the system's temporary folder, removed with
// everything in it when the object goes away.
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

// Writes content to root/relative, creating folders on the way.
void writeFile(const std::filesystem::path& path, const std::string& content);
// The content of a file ("" when it cannot be read).
std::string readFile(const std::filesystem::path& path);
// A folder's files: relative path -> content.
using Tree = std::map<std::string, std::string>;

// Every regular file under root, hidden ones too ({} when root is missing);
// pathsIn gives the paths alone, sorted.
Tree filesIn(const std::filesystem::path& root);
std::vector<std::string> pathsIn(const std::filesystem::path& root);

// Points HOME, the XDG folders and LARDER_LOG into a temporary home for the
// life of the object, so nothing a test runs touches the real home folder.
// Restores the previous values afterwards.
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
