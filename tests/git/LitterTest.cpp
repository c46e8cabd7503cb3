#include <gtest/gtest.h>

#include "GitTestSupport.h"

using namespace brindle;
using namespace brindle::test;

namespace {

// Files that Linux editors and desktops leave beside the user's own.
const std::vector<std::string> kLitter{"notes.md.swp",          "notes.md~",  ".#notes.md",   ".nfs0000000001a2b3c4",
                                       ".goutputstream-QX81ZZ", ".directory", "sub/.#plan.md"};

TEST(GitLitterTest, EditorAndDesktopLitterIsNeverCommitted) {
    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer computer{sandbox, "Laptop", remote};
    computer.write("notes.md", "mine");
    computer.write("sub/plan.md", "plan");
    for (const std::string& name : kLitter) computer.write(name, "litter");
    computer.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"notes.md", "sub/plan.md"}));
}

}  // namespace
