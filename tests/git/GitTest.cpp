#include "git/Git.h"

#include <gtest/gtest.h>

#include "GitTestSupport.h"
#include "common/Text.h"

namespace brindle::test {
namespace {

TEST(GitResult, TextNulFieldsAndErrorsReadOutputAsGitWritesIt) {
    EXPECT_EQ((GitResult{0, "abc\n", ""}).text(), "abc");
    EXPECT_EQ((GitResult{0, "caf\xff", ""}).text(), "caf\xEF\xBF\xBD");
    EXPECT_EQ((GitResult{0, std::string("a\0b c\0", 6), ""}).nulFields(), (std::vector<std::string>{"a", "b c"}));
    EXPECT_TRUE((GitResult{0, std::string("\0\0", 2), ""}).nulFields().empty());
    EXPECT_TRUE((GitResult{0, "", ""}).nulFields().empty());
    EXPECT_STREQ(GitError({"push", "-q"}, {1, "", " \n"}).what(), "git push failed: exit 1");
    EXPECT_STREQ(GitError({"fetch"}, {128, "", "fatal: no remote\n\n"}).what(), "git fetch failed: fatal: no remote");
}

TEST(GitRun, RunsInTheSeparateRepositoryAndTheTokenReachesGitOnlyThroughItsEnvironment) {
    GitSandbox sandbox;
    Git git{sandbox.root() / "repo.git", sandbox.root()};
    ASSERT_EQ(git.run({"init", "-q", "-b", "main"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(sandbox.root() / "repo.git/HEAD"));
    EXPECT_EQ(git.run({"rev-parse", "--show-toplevel"}).text(), sandbox.root().string());
    EXPECT_NE(git.run({"fetch", "-q", "nowhere"}).status, 0);

    ScopedEnv inherited(
        {{"GIT_CONFIG_COUNT", "1"}, {"GIT_CONFIG_KEY_0", "brindle.probe"}, {"GIT_CONFIG_VALUE_0", "inherited"}});
    EXPECT_EQ(git.run({"config", "--get", "brindle.probe"}).text(), "inherited");  // passes through without a token
    git.setToken("ghp_s3cret");
    EXPECT_EQ(git.run({"config", "--get", "http.https://github.com/.extraheader"}).text(),
              "Authorization: Basic " + Text::base64("x-access-token:ghp_s3cret"));
    EXPECT_NE(git.run({"config", "--get", "brindle.probe"}).status, 0);
    EXPECT_EQ(readFile(sandbox.root() / "repo.git/config").find("extraheader"), std::string::npos);
}

}  // namespace
}  // namespace brindle::test
