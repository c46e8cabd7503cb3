#include "threeway/SyncState.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace brindle;

TEST(SyncState, RoundTripsAnyNameThroughCompactJSON) {
    SyncState state;
    state.account = "dbid:1";
    std::string odd = "Notes/\"quoted\" back\\slash\nnew line\x01 \xC3\xA9t\xC3\xA9.md";
    state.remote[pathKey(odd)] = RemoteFile{odd, "ab", "r1", 3, 1.7e9 + 0.25};
    state.base[pathKey(odd)] = SyncBase{odd, "ab", "r1", 3, 1'700'000'000'123'456'789};
    std::string text = state.encode();
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find("cursor"), std::string::npos);  // left out when absent
    EXPECT_EQ(SyncState::decode(text), state);
    // and any JSON reader agrees with ours
    auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["base"][pathKey(odd)]["mtimeNs"].get<int64_t>(), 1'700'000'000'123'456'789);

    state.cursor = "AAE-cursor";
    EXPECT_EQ(SyncState::decode(state.encode())->cursor, "AAE-cursor");
}

TEST(SyncState, RequiredKeysAndTypesAreEnforced) {
    EXPECT_TRUE(SyncState::decode(R"({"account":"","remote":{},"base":{}})"));
    EXPECT_TRUE(SyncState::decode(R"({"account":"","remote":{},"base":{},"extra":[{"x":1}]})"));
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":{}})"));
    EXPECT_FALSE(SyncState::decode(R"({"remote":{},"base":{}})"));
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":[],"base":{}})"));
    EXPECT_FALSE(SyncState::decode(R"([1,2])"));
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":{},"base":{})"));
    // a base without mtimeNs, a remote record without a hash, a size given as text
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":{},"base":{"a":{"path":"a","hash":"h","rev":"","size":1}}})"));
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":{"a":{"path":"a","rev":"","size":1}},"base":{}})"));
    EXPECT_FALSE(SyncState::decode(R"({"account":"","remote":{"a":{"path":"a","hash":"","rev":"","size":"1"}},"base":{}})"));

    auto state = SyncState::decode(R"({"account":"x","remote":{"a":{"path":"A","hash":"h","rev":"1","size":2}},"base":{}})");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->remote.at("a"), (RemoteFile{"A", "h", "1", 2, 0}));  // "modified" may be absent
}

TEST(SyncState, SaveCreatesFoldersAndReplacesAtomically) {
    test::TempDir dir;
    SyncState state;
    state.account = "a";
    state.save(dir / "deep/er/state.json");
    EXPECT_EQ(SyncState::load(dir / "deep/er/state.json"), state);
    test::writeFile(dir / "blocker", "a file where a folder should be");
    EXPECT_THROW(state.save(dir / "blocker/state.json"), std::exception);
    EXPECT_FALSE(SyncState::load(dir / "missing.json"));
}

TEST(SyncState, ReadsWhatAnyJSONWriterWrites) {
    // the state as another writer might lay it out: spaces, line breaks, \u escapes, key order
    SyncState state;
    state.account = "dbid:\xC3\xA9";
    state.cursor = "c/1";
    state.remote["a"] = RemoteFile{"A", "h1", "r1", 1, 2.5};
    state.base["a"] = SyncBase{"A", "h1", "r1", 1, 99};
    auto json = nlohmann::json::parse(state.encode());
    EXPECT_EQ(SyncState::decode(json.dump(2)), state);
    EXPECT_EQ(SyncState::decode(json.dump(-1, ' ', true)), state);  // everything non-ASCII as \u
    std::string reordered = R"({"base":{"a":{"mtimeNs":99,"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("remote":{"a":{"modified":2.5,"size":1,"rev":"r1","hash":"h1","path":"A"}},)"
                            R"("cursor":"c\/1","account":"dbid:\u00e9"})";
    EXPECT_EQ(SyncState::decode(reordered), state);
}
