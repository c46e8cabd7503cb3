// The stand-in's own rules that other tests and the demo rely on.
#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/BrindleSignIn.h"
#include "support/ScopedEnv.h"

using namespace brindle;
using nlohmann::json;

namespace {

class BrindleServiceTest : public ::testing::Test {
protected:
    void SetUp() override { server.start(); }
    Brindle::Answer post(const std::string& path, const json& body, const std::string& token = "t1") {
        return Brindle::api("POST", path, token, server.url(), body);
    }
    devserver::BrindleService& service() { return server.brindle(); }

    devserver::DevServer server;
};

}  // namespace

TEST(DevServerTest, StopsAtOnceAfterStarting) {
    for (int i = 0; i < 20; ++i) {
        devserver::DevServer server;
        server.start();
    }
}

TEST_F(BrindleServiceTest, RecordsTheBodiesOfRequests) {
    post("/api/v1/drives/seen", {{"drive_id", "d1"}});
    auto seen = server.requestsTo("/api/v1/drives/seen");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(json::parse(seen[0].body), (json{{"drive_id", "d1"}}));
    EXPECT_EQ(service().drivesSeen(), std::vector<std::string>{"d1"});
}

TEST_F(BrindleServiceTest, DeviceTokensCanBeRevokedOrRestricted) {
    EXPECT_EQ(Brindle::api("GET", "/api/v1/config", std::nullopt, server.url()).status, 401);
    EXPECT_EQ(Brindle::api("GET", "/api/v1/config", std::string("t1"), server.url()).status, 200);
    post("/api/v1/device/revoke", json::object());
    EXPECT_EQ(Brindle::api("GET", "/api/v1/config", std::string("t1"), server.url()).status, 401);

    service().setAcceptAnyToken(false);
    service().addDeviceToken("seeded");
    EXPECT_EQ(Brindle::api("GET", "/api/v1/config", std::string("other"), server.url()).status, 401);
    EXPECT_EQ(Brindle::api("GET", "/api/v1/config", std::string("seeded"), server.url()).status, 200);
}

TEST_F(BrindleServiceTest, SignedInTokensAreAcceptedWhenRestricted) {
    service().setAcceptAnyToken(false);
    // Tokens handed out by a sign-in count as known.
    test::ScopedEnv url("BRINDLE_URL", server.url());
    Brindle::DeviceCode code = Brindle::requestCode("box");
    EXPECT_EQ(Brindle::poll(code).kind, Brindle::PollResult::Kind::pending);
    service().approve(code.userCode);
    Brindle::PollResult approved = Brindle::poll(code);
    ASSERT_EQ(approved.kind, Brindle::PollResult::Kind::approved);
    Brindle::Account account{server.url(), approved.deviceToken};
    EXPECT_EQ(Brindle::larderConfig(account).stores, std::vector<std::string>{"github"});
}

TEST(DevServerTest, AutoApproveSignsInOnTheFirstPoll) {
    devserver::Options options;
    options.autoApprove = true;
    devserver::DevServer server(options);
    server.start();
    test::ScopedEnv url("BRINDLE_URL", server.url());
    Brindle::PollResult result = Brindle::poll(Brindle::requestCode("box"));
    EXPECT_EQ(result.kind, Brindle::PollResult::Kind::approved);
    EXPECT_EQ(server.brindle().issuedTokens(), std::vector<std::string>{result.deviceToken});
}
