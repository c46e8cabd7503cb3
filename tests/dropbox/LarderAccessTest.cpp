#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "common/IsoDate.h"
#include "dropbox/LarderAccess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <thread>

namespace brindle {
namespace {

using devserver::DevServer;

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

    // The failure's problem and text for a token route answering status and code.
    std::pair<Brindle::Problem, std::string> failureFor(int status, const std::string& code) {
        server.dropbox().setTokenFailure(status, code);
        try {
            access().get();
        } catch (const Brindle::Failure& failure) {
            return {failure.problem(), failure.what()};
        }
        return {Brindle::Problem::other, "(no failure)"};
    }

    DevServer server;
    const double expiry = *IsoDate::parseSeconds("2030-01-01T00:00:00Z");
    std::atomic<double> now{expiry - 3600};
};

TEST_F(LarderAccessTest, ReusesACredentialUntilFiveMinutesBeforeItExpires) {
    LarderAccess source = access();
    DropboxCredential first = source.get();
    EXPECT_EQ(first.apiBase, server.url());
    EXPECT_EQ(first.account, "dbid:AAB-standin-account");
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
    EXPECT_EQ(server.requestsTo("/api/v1/larder/token")[0].header("Authorization"), "Bearer device-1");
    EXPECT_EQ(server.requestsTo("/api/v1/larder/token")[0].query.at("provider"), "dropbox");
}

TEST_F(LarderAccessTest, EndpointsDefaultAndLoseTheirSlashes) {
    server.dropbox().setTokenFields({{"expires_at", "2030-01-01T00:00:00Z"}, {"api_base", nullptr},
                                     {"content_base", "https://files.example/"}, {"account", nullptr}});
    DropboxCredential credential = access().get();
    EXPECT_EQ(credential.apiBase, "https://api.dropboxapi.com");
    EXPECT_EQ(credential.contentBase, "https://files.example");
    EXPECT_EQ(credential.account, "");
}

TEST_F(LarderAccessTest, ServiceRefusalsBecomeFailures) {
    using Brindle::Problem;
    const std::string connect = "Dropbox isn't connected to your Brindle account. Connect it at " + server.url() + "/connections";
    EXPECT_EQ(failureFor(401, ""), std::make_pair(Problem::signedOut, std::string(Brindle::kSignedOutMessage)));
    EXPECT_EQ(failureFor(404, ""), std::make_pair(Problem::noStore, connect));
    EXPECT_EQ(failureFor(409, "larder_not_connected"), std::make_pair(Problem::noStore, connect));
    EXPECT_EQ(failureFor(409, "larder_needs_reconnect"),
              std::make_pair(Problem::other, "Dropbox needs to be connected again. Reconnect it at " + server.url() + "/connections"));
    EXPECT_EQ(failureFor(403, "larder_disabled"),
              std::make_pair(Problem::disabled, "Syncing is turned off for your account. Turn it on at " + server.url() + "/dashboard"));
    EXPECT_EQ(failureFor(403, "other_reason"),
              std::make_pair(Problem::other, std::string("Brindle couldn't provide Dropbox access (HTTP 403).")));

    server.dropbox().clearTokenFailure();
    server.dropbox().setTokenFields({{"expires_at", "tomorrow"}});
    EXPECT_EQ(failureFor(200, "").second, "Brindle couldn't provide Dropbox access (HTTP 200).");
}

TEST_F(LarderAccessTest, ManyWorkersAskingAtOnceCauseOneFetch) {
    LarderAccess source = access();
    source.get();
    now = expiry - 10;  // the cached credential is too close to expiry
    server.dropbox().setTokenFields({{"expires_at", "2031-01-01T00:00:00Z"}});
    std::vector<std::thread> workers;
    std::vector<std::string> tokens(6);
    for (int i = 0; i < 6; ++i) workers.emplace_back([&, i] { tokens[i] = source.get().token; });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(fetches(), 2u);
    for (const std::string& token : tokens) EXPECT_EQ(token, tokens[0]);
}

}  // namespace
}  // namespace brindle
