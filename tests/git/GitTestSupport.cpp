#include "GitTestSupport.h"

#include <gtest/gtest.h>

#include "common/Log.h"
#include "common/Text.h"
#include "support/RunProgram.h"

namespace brindle::test {

namespace {

size_t pinnedLogSize() {
    static TempDir folder;
    static bool pinned = (::setenv("LARDER_LOG", (folder / "Brindle.log").c_str(), 1), Log::url(), true);
    (void)pinned;
    return readFile(Log::url()).size();
}

}  // namespace

GitSandbox::GitSandbox()
    : logStart_(pinnedLogSize()), env_({{"GIT_CONFIG_GLOBAL", "/dev/null"}, {"GIT_CONFIG_NOSYSTEM", "1"}}) {}

std::string GitSandbox::log() const {
    std::string all = readFile(Log::url());
    return all.size() > logStart_ ? all.substr(logStart_) : "";
}

std::string GitSandbox::makeRemote(const std::string& name) {
    runProgram({"/usr/bin/git", "init", "-q", "--bare", "-b", "main", (root() / name).string()});
    return "file://" + (root() / name).string();
}

Computer::Computer(const GitSandbox& sandbox, const std::string& device, const std::string& remoteURL) {
    std::string tag = device;
    std::replace_if(
        tag.begin(), tag.end(), [](char c) { return c == '/' || c == ' '; }, '_');
    folder = sandbox.root() / ("folder-" + tag);
    gitDir = sandbox.root() / ("state-" + tag) / "sync.git";
    syncer = std::make_unique<Syncer>(folder, Git(gitDir, folder), remoteURL, device);
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
    std::string out =
        runProgram({"/usr/bin/git", "--git-dir=" + bare, "ls-tree", "-r", "--name-only", "-z", "main"}).out;
    std::vector<std::string> names = Text::split(out, '\0');
    if (!names.empty() && names.back().empty()) names.pop_back();
    return names;
}

}  // namespace brindle::test
