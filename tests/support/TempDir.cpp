#include "support/TempDir.h"

#include <fstream>
#include <sstream>

#include "common/Files.h"

namespace brindle::test {

TempDir::TempDir() {
    path_ = std::filesystem::temp_directory_path() / ("brindle-test-" + Files::newUUID().substr(0, 13));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Folders a test made read-only must not stop the clean-up.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Tree filesIn(const std::filesystem::path& root) {
    Tree files;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file()) files[it->path().lexically_relative(root).string()] = readFile(it->path());
    return files;
}

std::vector<std::string> pathsIn(const std::filesystem::path& root) {
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
