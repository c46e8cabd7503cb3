#include "dropbox/DropboxAPI.h"

#include <atomic>
#include <nlohmann/json.hpp>

#include "common/DropboxHash.h"
#include "common/IsoDate.h"
#include "dropbox/LarderAccess.h"
#include "support/Expect.h"
#include "support/StandInCredentials.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
using devserver::Fault;

class DropboxAPITest : public ::testing::Test {
protected:
    DropboxAPITest() { server.start(); }
    fs::path local(const std::string& name, const std::string& content) {
        writeFile(folder / name, content);
        return folder / name;
    }
    std::string failureOf(const std::function<void()>& call) { return failureText<DropboxFailure>(call); }
    static Fault status(int code, std::map<std::string, std::string> headers = {}, std::string body = "") {
        return Fault{Fault::Kind::Status, code, std::move(body), std::move(headers)};
    }

    TempDir folder;
    devserver::DevServer server;
    std::shared_ptr<StandInCredentials> credentials = std::make_shared<StandInCredentials>(server);
    std::mutex pausesMutex;
    std::vector<double> pauses;
    DropboxAPI api{credentials, [this](double seconds) {
                       std::lock_guard<std::mutex> guard(pausesMutex);
                       pauses.push_back(seconds);
                   }};
};

TEST_F(DropboxAPITest, RoundTripAndClashesFailInsteadOfRenaming) {
    RemoteFile stored = api.upload("Notes/Plan.md", local("plan", "first"), std::nullopt);
    EXPECT_EQ(stored.path + " " + stored.hash.str(), "Notes/Plan.md " + DropboxHash::ofBytes("first"));
    RemoteListing listing = api.listAll();
    ASSERT_EQ(listing.entries.size(), 1u);  // the "Notes" folder entry is not a file
    EXPECT_EQ(listing.entries[0].key + " " + listing.entries[0].file->rev, "notes/plan.md " + stored.rev);
    EXPECT_GT(listing.entries[0].file->modified, 1.7e9);
    RemoteFile updated = api.upload("Notes/Plan.md", local("plan", "second"), stored.rev);
    api.download("Notes/Plan.md", folder / "copy");
    EXPECT_EQ(readFile(folder / "copy"), "second");
    server.dropbox().writeFile("Notes/Plan.md", "theirs");  // another computer changed it
    EXPECT_EQ(failureOf([&] { api.upload("Notes/Plan.md", local("a", "mine"), std::nullopt); }), "path/conflict/file/");
    EXPECT_EQ(failureOf([&] { api.upload("Notes/Plan.md", local("a", "mine"), updated.rev); }), "path/conflict/file/");
    EXPECT_EQ(failureOf([&] { api.remove("Notes/Plan.md", updated.rev); }), "path_write/conflict/file/");
    EXPECT_EQ(server.dropbox().readFile("Notes/Plan.md"), "theirs");
    api.remove("Notes/Plan.md", std::nullopt);
    RemoteListing changes = api.listChanges(listing.cursor);
    EXPECT_TRUE(changes.entries.back().deleted && server.dropbox().list().empty());
    EXPECT_EQ(changes.entries.back().key, "notes/plan.md");
    api.upload("Grüße.txt", local("g", "hallo"), std::nullopt);  // the argument header is pure ASCII
    EXPECT_THAT(server.requestsTo("/2/files/upload").back().header("Dropbox-API-Arg"),
                HasSubstr("\"/Gr\\u00fc\\u00dfe.txt\""));
    EXPECT_EQ(server.dropbox().readFile("Grüße.txt"), "hallo");
    EXPECT_EQ(DropboxAPI::headerArgument({{"path", "/🍞.md"}}), "{\"path\":\"/\\ud83c\\udf5e.md\"}");
}
TEST_F(DropboxAPITest, ListingPagesAndChangeFeed) {
    server.dropbox().setPageLimit(3);
    for (int i = 0; i < 10; ++i)
        server.dropbox().writeFile("d" + std::to_string(i % 2) + "/f" + std::to_string(i), "x");
    RemoteListing listing = api.listAll();
    EXPECT_EQ(listing.entries.size(), 10u);
    EXPECT_GE(server.requestsTo("/2/files/list_folder/continue").size(), 3u);
    server.dropbox().writeFile("d0/f0", "changed elsewhere");
    server.dropbox().deleteFile("d1/f1");
    RemoteListing changes = api.listChanges(listing.cursor);
    ASSERT_EQ(changes.entries.size(), 2u);
    EXPECT_EQ(changes.entries[0].file->hash, DropboxHash::ofBytes("changed elsewhere"));
    EXPECT_TRUE(changes.entries[1].deleted);
    EXPECT_TRUE(api.listChanges(changes.cursor).entries.empty());
    server.dropbox().resetCursors();
    EXPECT_THAT([&] { api.listChanges(changes.cursor); },
                ::testing::Throws<DropboxFailure>(::testing::Property(&DropboxFailure::isReset, true)));
}
TEST_F(DropboxAPITest, RetryPausesFollowTheServer) {
    server.injectFault("/2/files/upload", status(429, {{"Retry-After", "120"}}));
    server.injectFault("/2/files/upload", status(503, {{"Retry-After", "soon"}}));
    api.upload("a.txt", local("a", "x"), std::nullopt);
    EXPECT_EQ(pauses, (std::vector<double>{30, 2}));
    pauses.clear();
    server.injectFault("/2/files/list_folder", status(500), 4);
    EXPECT_EQ(failureOf([&] { api.listAll(); }), "Couldn't reach Dropbox (HTTP 500).");
    EXPECT_EQ(pauses, (std::vector<double>{1, 2, 4, 8}));
}
TEST_F(DropboxAPITest, CutOffDownloadsAreRetriedAndNeverLeftBehind) {
    server.dropbox().writeFile("big.bin", std::string(200000, 'b'));
    writeFile(folder / "big.bin", "old content");
    server.injectFault("/2/files/download", Fault{Fault::Kind::Truncate, 500, "", {}});
    server.injectFault("/2/files/download", Fault{Fault::Kind::Drop, 500, "", {}});
    api.download("big.bin", folder / "big.bin");
    EXPECT_EQ(readFile(folder / "big.bin"), std::string(200000, 'b'));
    EXPECT_EQ(pauses.size(), 2u);
    server.injectFault("/2/files/download", Fault{Fault::Kind::Drop, 500, "", {}}, 4);
    EXPECT_THAT(failureOf([&] { api.download("big.bin", folder / "other"); }), StartsWith("Couldn't reach Dropbox ("));
    EXPECT_EQ(failureOf([&] { api.download("missing.txt", folder / "other"); }), "path/not_found/");
    EXPECT_EQ(pathsIn(folder.path()), std::vector<std::string>{"big.bin"});  // no temporary files
}
TEST_F(DropboxAPITest, RefusedAccessIsRefreshedOnce) {
    server.injectFault("/2/files/list_folder", status(401, {}, R"({"error_summary":"expired_access_token/"})"));
    api.listAll();
    EXPECT_EQ(credentials->drops() + pauses.size(), 1u);  // no pause either
    server.dropbox().revokeTokens();                      // a revoked token is replaced by a fresh one
    api.listAll();
    EXPECT_EQ(credentials->drops(), 2);
    server.injectFault("/2/files/list_folder", status(401), 2);
    EXPECT_EQ(failureOf([&] { api.listAll(); }), "Dropbox didn't accept the access Brindle was given.");
}
TEST_F(DropboxAPITest, ErrorAnswersBecomeMessagesAndPathsThatLeaveTheFolderAreDropped) {
    server.dropbox().setQuota(10);
    EXPECT_EQ(failureOf([&] { api.upload("a.txt", local("a", std::string(50, 'x')), std::nullopt); }),
              "Your Dropbox is full, so Brindle can't add more files to your Larder.");
    server.injectFault("/2/files/list_folder", status(200, {}, "<html>"));
    EXPECT_EQ(failureOf([&] { api.listAll(); }), "Dropbox sent an answer Brindle couldn't read.");
    server.injectFault("/2/files/delete_v2", status(400, {}, "bad request"));
    EXPECT_EQ(failureOf([&] { api.remove("a.txt", std::nullopt); }), "HTTP 400");
    nlohmann::json listing = {{"has_more", false}, {"cursor", "c"}, {"entries", nlohmann::json::array()}};
    for (std::string path : {"/../../x", "/etc/passwd", "/a/../../b", "/ok.txt", "/a//b"})
        listing["entries"].push_back({{".tag", "file"}, {"path_display", path}, {"rev", "1"}, {"size", 1}});
    listing["entries"].push_back({{".tag", "deleted"}, {"path_lower", "/../y"}});
    server.injectFault("/2/files/list_folder", status(200, {}, listing.dump()));
    std::vector<std::string> keys;
    for (const RemoteEntry& entry : api.listAll().entries) keys.push_back(entry.key);
    EXPECT_EQ(keys, (std::vector<std::string>{"etc/passwd", "ok.txt"}));
}

class LarderAccessTest : public ::testing::Test {
protected:
    LarderAccessTest() {
        server.start();
        server.dropbox().setTokenFields({{"expires_at", "2030-01-01T00:00:00Z"}});
    }
    LarderAccess access() {
        return LarderAccess(Brindle::Account{server.url(), "device-1"}, "dropbox", [this] { return now.load(); });
    }
    size_t fetches() const { return server.requestsTo("/api/v1/larder/token").size(); }

    devserver::DevServer server;
    const double expiry = *IsoDate::parseSeconds("2030-01-01T00:00:00Z");
    std::atomic<double> now{expiry - 3600};
};

TEST_F(LarderAccessTest, ReusesACredentialUntilFiveMinutesBeforeItExpires) {
    LarderAccess source = access();
    DropboxCredential first = source.get();
    EXPECT_EQ(first.apiBase + " " + first.account, server.url() + " dbid:AAB-standin-account");
    now = expiry - 301;
    EXPECT_EQ(source.get(), first);
    EXPECT_EQ(fetches(), 1u);
    now = expiry - 299;
    EXPECT_NE(source.get().token, first.token);
    EXPECT_EQ(fetches(), 2u);
    source.dropCached();  // as after a 401 from Dropbox
    now = expiry - 3600;
    source.get();
    EXPECT_EQ(fetches(), 3u);
    auto request = server.requestsTo("/api/v1/larder/token")[0];
    EXPECT_EQ(request.header("Authorization") + " " + request.query.at("provider"), "Bearer device-1 dropbox");
    server.dropbox().setTokenFields({{"expires_at", "2030-01-01T00:00:00Z"},
                                     {"api_base", nullptr},
                                     {"content_base", "https://files.example/"},
                                     {"account", nullptr}});
    DropboxCredential defaults = access().get();  // endpoints default and lose their slashes
    EXPECT_EQ(defaults.apiBase + " " + defaults.contentBase + " " + defaults.account,
              "https://api.dropboxapi.com https://files.example ");
}
TEST_F(LarderAccessTest, ServiceRefusalsBecomeFailures) {
    using Brindle::Problem;
    const std::string connections = " at " + server.url() + "/connections",
                      connect = "Dropbox isn't connected to your Brindle account. Connect it" + connections;
    const std::tuple<int, std::string, Problem, std::string> rows[] = {
        {401, "", Problem::signedOut, Brindle::kSignedOutMessage},
        {404, "", Problem::noStore, connect},
        {409, "larder_not_connected", Problem::noStore, connect},
        {409, "larder_needs_reconnect", Problem::other,
         "Dropbox needs to be connected again. Reconnect it" + connections},
        {403, "larder_disabled", Problem::disabled,
         "Syncing is turned off for your account. Turn it on at " + server.url() + "/dashboard"},
        {403, "other_reason", Problem::other, "Brindle couldn't provide Dropbox access (HTTP 403)."},
    };
    for (const auto& [status, code, problem, text] : rows) {
        server.dropbox().setTokenFailure(status, code);
        try {
            access().get();
            ADD_FAILURE() << status << " " << code << " succeeded";
        } catch (const Brindle::Failure& failure) {
            EXPECT_EQ(failure.problem(), problem) << code;
            EXPECT_EQ(failure.what(), text);
        }
    }
    server.dropbox().clearTokenFailure();
    server.dropbox().setTokenFields({{"expires_at", "tomorrow"}});
    EXPECT_EQ(failureText<Brindle::Failure>([&] { access().get(); }),
              "Brindle couldn't provide Dropbox access (HTTP 200).");
}

}  // namespace
}  // namespace brindle::test
