#include "dropbox/LarderAccess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/IsoDate.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "support/Expect.h"

namespace brindle {
namespace {

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

    server.dropbox().setTokenFields({{"expires_at", "2030-01-01T00:00:00Z"},
                                     {"api_base", nullptr},
                                     {"content_base", "https://files.example/"},
                                     {"account", nullptr}});
    DropboxCredential defaults = access().get();  // endpoints default and lose their slashes
    EXPECT_EQ(defaults.apiBase, "https://api.dropboxapi.com");
    EXPECT_EQ(defaults.contentBase, "https://files.example");
    EXPECT_EQ(defaults.account, "");
}

TEST_F(LarderAccessTest, ServiceRefusalsBecomeFailures) {
    using Brindle::Problem;
    const std::string connections = " at " + server.url() + "/connections";
    const std::string connect = "Dropbox isn't connected to your Brindle account. Connect it" + connections;
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
    EXPECT_EQ(test::failureText<Brindle::Failure>([&] { access().get(); }),
              "Brindle couldn't provide Dropbox access (HTTP 200).");
}

TEST_F(LarderAccessTest, ManyWorkersAskingAtOnceCauseOneFetch) {
    LarderAccess source = access();
    source.get();
    now = expiry - 10;  // the cached credential is too close to expiry
    server.dropbox().setTokenFields({{"expires_at", "2031-01-01T00:00:00Z"}});
    std::vector<std::string> tokens(6);
    std::vector<std::thread> workers;
    for (int i = 0; i < 6; ++i) workers.emplace_back([&, i] { tokens[i] = source.get().token; });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(fetches(), 2u);
    EXPECT_EQ(std::count(tokens.begin(), tokens.end(), tokens[0]), 6);
}

}  // namespace
}  // namespace brindle
