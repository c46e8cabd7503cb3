#include <gtest/gtest.h>

#include "GitTestSupport.h"
#include "common/Text.h"
#include "git/Git.h"
#include "support/ScopedEnv.h"

using namespace brindle;
using namespace brindle::test;

TEST(GitResult, TextAndNulFieldsReadOutputAsGitWritesIt) {
    EXPECT_EQ((GitResult{0, "abc\n", ""}).text(), "abc");
    EXPECT_EQ((GitResult{0, "", ""}).text(), "");
    EXPECT_EQ((GitResult{0, std::string("a\0b c\0", 6), ""}).nulFields(), (std::vector<std::string>{"a", "b c"}));
    EXPECT_TRUE((GitResult{0, std::string("\0\0", 2), ""}).nulFields().empty());
    EXPECT_TRUE((GitResult{0, "", ""}).nulFields().empty());
    EXPECT_EQ((GitResult{0, "caf\xff", ""}).text(), "caf\xEF\xBF\xBD");
}

TEST(GitError, MessageNamesTheSubcommandAndGitsComplaint) {
    EXPECT_STREQ(GitError({"push", "-q"}, {1, "", " \n"}).what(), "git push failed: exit 1");
    EXPECT_STREQ(GitError({"fetch"}, {128, "", "fatal: no remote\n\n"}).what(), "git fetch failed: fatal: no remote");
}

class GitRun : public ::testing::Test {
protected:
    GitSandbox sandbox;
    Git git{sandbox.root() / "repo.git", sandbox.root()};
};

TEST_F(GitRun, RunsInTheSeparateRepositoryAndReturnsFailuresAsStatus) {
    ASSERT_EQ(git.run({"init", "-q", "-b", "main"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(sandbox.root() / "repo.git" / "HEAD"));
    EXPECT_EQ(git.run({"rev-parse", "--show-toplevel"}).text(), sandbox.root().string());
    GitResult failed = git.run({"fetch", "-q", "nowhere"});
    EXPECT_NE(failed.status, 0);
    EXPECT_NE(std::string(GitError({"fetch"}, failed).what()).find("nowhere"), std::string::npos);
}

TEST_F(GitRun, TokenReachesGitOnlyAsAnExtraHeaderInItsEnvironment) {
    git.run({"init", "-q", "-b", "main"});
    git.setToken("ghp_s3cret");
    GitResult header = git.run({"config", "--get", "http.https://github.com/.extraheader"});
    EXPECT_EQ(header.text(), "Authorization: Basic " + Text::base64("x-access-token:ghp_s3cret"));
    // Nothing of it was written to the repository's configuration.
    EXPECT_EQ(readFile(sandbox.root() / "repo.git" / "config").find("extraheader"), std::string::npos);
}

TEST_F(GitRun, WithoutATokenInheritedConfigurationPassesThrough) {
    git.run({"init", "-q", "-b", "main"});
    test::ScopedEnv inherited(
        {{"GIT_CONFIG_COUNT", "1"}, {"GIT_CONFIG_KEY_0", "brindle.probe"}, {"GIT_CONFIG_VALUE_0", "inherited"}});
    EXPECT_EQ(git.run({"config", "--get", "brindle.probe"}).text(), "inherited");
    git.setToken("t");
    EXPECT_NE(git.run({"config", "--get", "brindle.probe"}).status, 0);
}
