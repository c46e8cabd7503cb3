#include "threeway/SyncState.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/TempDir.h"

using namespace brindle;

TEST(SyncState, RoundTripsAnyNameReadsWhatAnyJSONWriterWritesAndSavesIntoNewFolders) {
    SyncState state;
    state.account = "dbid:\xC3\xA9";
    std::string odd = "Notes/\"quoted\" back\\slash\nnew line\x01 \xC3\xA9t\xC3\xA9.md";
    state.remote[pathKey(odd)] = RemoteFile{odd, "ab", "r1", 3, 1.7e9 + 0.25};
    state.base[pathKey(odd)] = SyncBase{odd, "ab", "r1", 3, 1'700'000'000'123'456'789};
    std::string text = state.encode();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("cursor"), std::string::npos);  // left out when absent
    EXPECT_EQ(SyncState::decode(text), state);
    state.cursor = "c/1";
    auto json = nlohmann::json::parse(state.encode());
    EXPECT_EQ(json["base"][pathKey(odd)]["mtimeNs"].get<int64_t>(), 1'700'000'000'123'456'789);
    EXPECT_EQ(SyncState::decode(json.dump(2)), state);
    EXPECT_EQ(SyncState::decode(json.dump(-1, ' ', true)), state);  // everything non-ASCII as \u

    std::string reordered = R"({"base":{"a":{"mtimeNs":99,"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("remote":{"a":{"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("cursor":"c\/1","account":"dbid:\u00e9","extra":[{"x":1}]})";
    SyncState other = *SyncState::decode(reordered);
    EXPECT_EQ(other.base.at("a"), (SyncBase{"A", "h1", "r1", 1, 99}));
    EXPECT_EQ(other.remote.at("a"), (RemoteFile{"A", "h1", "r1", 1, 0}));  // "modified" may be absent
    EXPECT_EQ(other.cursor, "c/1");
    EXPECT_EQ(other.account, state.account);
    brindle::test::TempDir dir;
    state.save(dir / "deep/er/state.json");  // creates its folders
    EXPECT_EQ(SyncState::load(dir / "deep/er/state.json"), state);
    brindle::test::writeFile(dir / "blocker", "a file where a folder should be");
    EXPECT_THROW(state.save(dir / "blocker/state.json"), std::exception);
    EXPECT_FALSE(SyncState::load(dir / "missing.json"));
}

TEST(PathKey, ComposesThenLowersSoCaseAndFormDoNotMatter) {
    // "Notes/Été.txt" with decomposed accents against the composed lower-case form
    EXPECT_EQ(pathKey("Notes/E\xCC\x81t\xC3\xA9.txt"), "notes/\xC3\xA9t\xC3\xA9.txt");
    EXPECT_EQ(pathKey("README.md"), "readme.md");
}

TEST(SyncState, RequiredKeysAndTypesAreEnforced) {
    for (std::string bad : {
             R"({"account":"","remote":{}})",
             R"({"remote":{},"base":{}})",
             R"({"account":"","remote":[],"base":{}})",
             R"([1,2])",
             R"({"account":"","remote":{},"base":{})",
             R"({"account":"","remote":{},"base":{"a":{"path":"a","hash":"h","rev":"","size":1}}})",
             R"({"account":"","remote":{"a":{"path":"a","rev":"","size":1}},"base":{}})",
             R"({"account":"","remote":{"a":{"path":"a","hash":"","rev":"","size":"1"}},"base":{}})",
         })
        EXPECT_FALSE(SyncState::decode(bad)) << bad;
}
