#include "support/TempDir.h"

#include <fstream>
#include <sstream>

#include "common/Files.h"

namespace brindle::test {

namespace fs = std::filesystem;

TempDir::TempDir() : path_(fs::temp_directory_path() / ("brindle-test-" + Files::newUUID().substr(0, 13))) {
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;  // folders a test made read-only must not stop the clean-up
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

Tree filesIn(const fs::path& root) {
    Tree files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file()) files[it->path().lexically_relative(root).string()] = readFile(it->path());
    return files;
}

std::vector<std::string> pathsIn(const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& [path, content] : filesIn(root)) paths.push_back(path);
    return paths;
}

IsolatedHome::IsolatedHome()
    : env_({{"HOME", home_.path().string()},
            {"XDG_CONFIG_HOME", (home_.path() / ".config").string()},
            {"XDG_STATE_HOME", (home_.path() / ".local/state").string()},
            {"XDG_DATA_HOME", (home_.path() / ".local/share").string()},
            {"XDG_CACHE_HOME", (home_.path() / ".cache").string()},
            {"LARDER_LOG", (home_.path() / "brindle.log").string()}}) {}

}  // namespace brindle::test
