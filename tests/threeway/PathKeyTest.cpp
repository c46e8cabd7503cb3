#include "threeway/RemoteStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace brindle;

TEST(PathKey, ComposesThenLowersSoCaseAndFormDoNotMatter) {
    // "Notes/Été.txt" with decomposed accents against the composed lower-case form
    EXPECT_EQ(pathKey("Notes/E\xCC\x81t\xC3\xA9.txt"), pathKey("notes/\xC3\xA9t\xC3\xA9.txt"));
    EXPECT_EQ(pathKey("notes/\xC3\xA9t\xC3\xA9.txt"), "notes/\xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(pathKey("README.md"), pathKey("Readme.md"));
    EXPECT_NE(pathKey("a/b"), pathKey("a/c"));
}

TEST(RemoteFileJSON, ModifiedIsOptionalTheRestRequired) {
    auto file = nlohmann::json::parse(R"({"path":"A.txt","hash":"ab","rev":"1","size":3})").get<RemoteFile>();
    EXPECT_EQ(file.modified, 0);
    EXPECT_EQ(file.size, 3);
    EXPECT_THROW(nlohmann::json::parse(R"({"path":"A.txt","rev":"1","size":3})").get<RemoteFile>(),
                 nlohmann::json::exception);
    RemoteFile back = nlohmann::json(RemoteFile{"x", "h", "r", 5, 1.5}).get<RemoteFile>();
    EXPECT_EQ(back, (RemoteFile{"x", "h", "r", 5, 1.5}));
}
