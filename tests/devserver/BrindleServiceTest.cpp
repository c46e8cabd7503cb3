// The stand-in's own rules that other tests and the demo rely on.
#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/BrindleSignIn.h"
#include "support/ScopedEnv.h"

using namespace brindle;
using nlohmann::json;

TEST(BrindleServiceTest, TokensAreRevocableRestrictableAndSignInsCountAsKnown) {
    for (int i = 0; i < 20; ++i) devserver::DevServer().start();  // stops at once after starting
    devserver::DevServer server;
    server.start();
    test::ScopedEnv url("BRINDLE_URL", server.url());
    auto status = [&](std::optional<std::string> token) {
        return Brindle::api("GET", "/api/v1/config", token, server.url()).status;
    };
    EXPECT_EQ(status(std::nullopt), 401);
    EXPECT_EQ(status("t1"), 200);
    Brindle::api("POST", "/api/v1/drives/seen", std::string("t1"), server.url(), json{{"drive_id", "d1"}});
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/drives/seen").at(0).body), (json{{"drive_id", "d1"}}));
    EXPECT_EQ(server.brindle().drivesSeen(), std::vector<std::string>{"d1"});
    Brindle::api("POST", "/api/v1/device/revoke", std::string("t1"), server.url(), json::object());
    EXPECT_EQ(status("t1"), 401);

    server.brindle().setAcceptAnyToken(false);
    server.brindle().addDeviceToken("seeded");
    EXPECT_EQ(status("other"), 401);
    EXPECT_EQ(status("seeded"), 200);
    Brindle::DeviceCode code = Brindle::requestCode("box");
    EXPECT_EQ(Brindle::poll(code).kind, Brindle::PollResult::Kind::pending);
    server.brindle().approve(code.userCode);
    Brindle::PollResult approved = Brindle::poll(code);
    ASSERT_EQ(approved.kind, Brindle::PollResult::Kind::approved);
    EXPECT_EQ(Brindle::larderConfig({server.url(), approved.deviceToken}).stores, std::vector<std::string>{"github"});
}

TEST(BrindleServiceTest, AutoApproveSignsInOnTheFirstPoll) {
    devserver::Options options;
    options.autoApprove = true;
    devserver::DevServer server(options);
    server.start();
    test::ScopedEnv url("BRINDLE_URL", server.url());
    Brindle::PollResult result = Brindle::poll(Brindle::requestCode("box"));
    EXPECT_EQ(result.kind, Brindle::PollResult::Kind::approved);
    EXPECT_EQ(server.brindle().issuedTokens(), std::vector<std::string>{result.deviceToken});
}
