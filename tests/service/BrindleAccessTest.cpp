#include "ServiceFixture.h"
#include "common/IsoDate.h"
#include "service/BrindleAccess.h"

using namespace brindle;
using Brindle::Problem;
using std::chrono::seconds;
using test::failureOf;
using test::statusFault;

namespace {

class BrindleAccessTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        test::ServiceFixture::SetUp();
        service().setGitHubRepo("me/larder");
        service().setGitHubToken("ghs-1", "2030-01-01T12:00:00Z");
    }
    const BrindleAccess::Clock::time_point expiry = *IsoDate::parse("2030-01-01T12:00:00Z");
    BrindleAccess access;
};

}  // namespace

TEST_F(BrindleAccessTest, ReusesATokenOnlyWithMoreThanFiveMinutesLeft) {
    BrindleAccess::Grant grant = access.get(account, expiry - seconds(3600));
    EXPECT_EQ(grant.token, "ghs-1");
    EXPECT_EQ(grant.repo, "me/larder");
    access.get(account, expiry - seconds(301));
    EXPECT_EQ(service().githubTokenRequests(), 1);
    access.get(account, expiry - seconds(300));
    EXPECT_EQ(service().githubTokenRequests(), 2);
    access.get(account, expiry - seconds(299));
    EXPECT_EQ(service().githubTokenRequests(), 3);
}

TEST_F(BrindleAccessTest, AnotherAccountAlwaysFetches) {
    const auto now = expiry - seconds(3600);
    access.get(account, now);
    access.get({account.server, "device-token-2"}, now);
    // The same server under another name is another account.
    const std::string sameServer = "http://localhost:" + std::to_string(server.port());
    access.get({sameServer, "device-token-2"}, now);
    access.get({sameServer, "device-token-2"}, now);
    auto requests = server.requestsTo("/api/v1/github/token");
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].header("Authorization"), "Bearer device-token-2");
    EXPECT_EQ(requests[0].body, "");
}

TEST_F(BrindleAccessTest, OffsetsInExpiryAreHonoured) {
    service().setGitHubToken("ghs-2", "2030-01-01T14:00:00+02:00");  // the same instant as expiry
    access.get(account, expiry - seconds(301));
    access.get(account, expiry - seconds(301));
    EXPECT_EQ(service().githubTokenRequests(), 1);
}

TEST_F(BrindleAccessTest, FailuresByStatusAndCode) {
    const auto now = expiry - seconds(3600);
    service().setGitHubToken("ghs-1", "2030-01-01T12:00:00.123Z");
    EXPECT_STREQ(failureOf([&] { access.get(account, now); }).what(),
                 "Brindle couldn't provide GitHub access (HTTP 200).");

    service().setLarderDisabled(true);
    Brindle::Failure disabled = failureOf([&] { access.get(account, now); });
    EXPECT_EQ(disabled.problem(), Problem::disabled);
    EXPECT_EQ(disabled.message(),
              "Syncing is turned off for your account. Turn it on at " + server.url() + "/dashboard");

    service().setLarderDisabled(false);
    service().setGitHubRepo(std::nullopt);
    Brindle::Failure notConnected = failureOf([&] { access.get(account, now); });
    EXPECT_EQ(notConnected.problem(), Problem::githubNotConnected);
    EXPECT_EQ(notConnected.message(),
              "GitHub isn't connected to your Brindle account yet. Connect it at " + server.url() + "/connections");

    server.injectFault("/api/v1/github/token", statusFault(403, R"({"error":"github_not_connected"})"));
    EXPECT_STREQ(failureOf([&] { access.get(account, now); }).what(),
                 "Brindle couldn't provide GitHub access (HTTP 403).");
    server.injectFault("/api/v1/github/token", statusFault(401, ""));
    EXPECT_EQ(failureOf([&] { access.get(account, now); }).problem(), Problem::signedOut);
}

TEST_F(BrindleAccessTest, AFailedRefreshForgetsTheOldToken) {
    access.get(account, expiry - seconds(3600));
    server.injectFault("/api/v1/github/token", statusFault(500, ""));
    failureOf([&] { access.get(account, expiry - seconds(200)); });
    // The old token still had time left for this clock, but it was dropped.
    access.get(account, expiry - seconds(3600));
    EXPECT_EQ(service().githubTokenRequests(), 2);
    EXPECT_EQ(server.requestsTo("/api/v1/github/token").size(), 3u);
}
