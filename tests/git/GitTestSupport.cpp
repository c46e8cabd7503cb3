#include "GitTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "common/Log.h"
#include "support/RunProgram.h"

namespace brindle::test {

namespace fs = std::filesystem;

GitSandbox::GitSandbox() : env_({{"GIT_CONFIG_GLOBAL", "/dev/null"}, {"GIT_CONFIG_NOSYSTEM", "1"}}) {}

GitSandbox::LogPin::LogPin() {
    static TempDir folder;
    static bool pinned = [] {
        ::setenv("LARDER_LOG", (folder.path() / "Brindle.log").c_str(), 1);
        Log::url();
        return true;
    }();
    (void)pinned;
    std::error_code ec;
    auto size = fs::file_size(Log::url(), ec);
    offset = ec ? 0 : size;
}

std::string GitSandbox::log() const {
    std::string all = readFile(Log::url());
    return all.size() > pin_.offset ? all.substr(pin_.offset) : "";
}

std::string GitSandbox::makeRemote(const std::string& name) {
    fs::path bare = root() / name;
    runProgram({"/usr/bin/git", "init", "-q", "--bare", "-b", "main", bare.string()});
    return "file://" + bare.string();
}

Computer::Computer(const GitSandbox& sandbox, const std::string& device, const std::string& remoteURL) {
    std::string tag = device;
    for (char& c : tag)
        if (c == '/' || c == ' ') c = '_';
    folder = sandbox.root() / ("folder-" + tag);
    gitDir = sandbox.root() / ("state-" + tag) / "sync.git";
    syncer = std::make_unique<Syncer>(folder, Git(gitDir, folder), remoteURL, device);
}

void Computer::write(const std::string& relative, const std::string& content) const {
    writeFile(folder / relative, content);
}

std::string Computer::read(const std::string& relative) const {
    return readFile(folder / relative);
}

bool Computer::has(const std::string& relative) const {
    return fs::exists(folder / relative);
}

std::vector<std::string> Computer::files() const {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) found.push_back(fs::relative(it->path(), folder).string());
    std::sort(found.begin(), found.end());
    return found;
}

std::string Computer::git(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"/usr/bin/git", "--git-dir=" + gitDir.string(), "--work-tree=" + folder.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramResult result = runProgram(argv);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

std::vector<std::string> remoteFiles(const std::string& remoteURL) {
    std::string bare = remoteURL.substr(std::string("file://").size());
    ProgramResult result =
        runProgram({"/usr/bin/git", "--git-dir=" + bare, "ls-tree", "-r", "--name-only", "-z", "main"});
    std::vector<std::string> names;
    size_t start = 0;
    while (start < result.out.size()) {
        size_t end = result.out.find('\0', start);
        names.push_back(result.out.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace brindle::test
