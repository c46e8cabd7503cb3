// The stand-in's own rules that other tests and the demo rely on.
#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/BrindleSignIn.h"
#include "support/ScopedEnv.h"

using namespace brindle;
using nlohmann::json;

TEST(BrindleServiceTest, TokensAreRevocableRestrictableAndAnAutoApprovedSignInIsKnown) {
    devserver::Options options;
    options.autoApprove = true;
    devserver::DevServer server(options);
    server.start();
    test::ScopedEnv url("BRINDLE_URL", server.url());
    auto status = [&](std::optional<std::string> token) {
        return std::to_string(Brindle::api("GET", "/api/v1/config", token, server.url()).status) + " ";
    };
    EXPECT_EQ(status(std::nullopt) + status("t1"), "401 200 ");
    Brindle::api("POST", "/api/v1/device/revoke", std::string("t1"), server.url(), json::object());
    server.brindle().setAcceptAnyToken(false);
    server.brindle().addDeviceToken("seeded");
    EXPECT_EQ(status("t1") + status("other") + status("seeded"), "401 401 200 ");
    Brindle::PollResult approved = Brindle::poll(Brindle::requestCode("box"));
    ASSERT_EQ(approved.kind, Brindle::PollResult::Kind::approved);
    EXPECT_EQ(server.brindle().issuedTokens(), std::vector<std::string>{approved.deviceToken});
    EXPECT_EQ(Brindle::larderConfig({server.url(), approved.deviceToken}).stores, std::vector<std::string>{"github"});
}
