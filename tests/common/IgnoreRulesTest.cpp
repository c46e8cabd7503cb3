#include "common/IgnoreRules.h"

#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace brindle {
namespace {

// Each rule set is checked path by path against git's own answer for the
// same .gitignore, so the two can never drift apart.
struct RuleCase {
    std::string rules;
    std::vector<std::string> paths;  // a trailing "/" asks about a folder
};

const std::vector<RuleCase> kCases{
    {"*.tmp\nbuild/\n!keep.tmp\n/only-root.txt\n",
     {"a.tmp", "sub/b.tmp", "keep.tmp", "sub/keep.tmp", "build/", "build/out.o", "sub/build/x", "only-root.txt",
      "sub/only-root.txt", "notes.md"}},
    {"**/cache/**\ndocs/*.pdf\n# comment\n\\#hash\n",
     {"cache/a", "x/cache/b/c", "cache", "docs/a.pdf", "docs/sub/a.pdf", "a.pdf", "#hash", "cache2/a"}},
    {"logs/\n!logs/keep.log\nsecret*\n!secret.pub\na/**/z\n",
     {"logs/keep.log", "logs/other", "secret.key", "secret.pub", "x/secret", "a/z", "a/b/c/z", "b/a/z"}},
    {"/top/\n*.o \n[ab].txt\n?.md\n", {"top/x", "sub/top/x", "x.o", "a.txt", "c.txt", "b.md", "bb.md"}},
};

TEST(IgnoreRulesTest, AgreesWithGitCheckIgnore) {
    for (const RuleCase& ruleCase : kCases) {
        test::TempDir repo;
        test::git(repo.path().string(), {"init", "-q"});
        test::writeFile(repo / ".gitignore", ruleCase.rules);
        IgnoreRules rules(ruleCase.rules);
        for (const std::string& asked : ruleCase.paths) {
            bool folder = asked.ends_with('/');
            std::string path = folder ? asked.substr(0, asked.size() - 1) : asked;
            // Folders must exist for git to treat them as folders.
            if (folder) std::filesystem::create_directories(repo / path);
            auto answer = test::runProgram({"/usr/bin/git", "-C", repo.path().string(), "check-ignore", "-q", asked});
            ASSERT_NE(answer.status, 128) << answer.err;
            EXPECT_EQ(rules.ignores(path, folder), answer.status == 0) << ruleCase.rules << " on " << asked;
        }
    }
}

}  // namespace
}  // namespace brindle
