#include "service/BrindleAccess.h"

#include "ServiceFixture.h"
#include "common/IsoDate.h"

using namespace brindle;
using Brindle::Problem;
using std::chrono::seconds;
using test::failureOf;

namespace {

class BrindleAccessTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        test::ServiceFixture::SetUp();
        service().setGitHubRepo("me/larder");
        service().setGitHubToken("ghs-1", "2030-01-01T12:00:00Z");
    }
    const BrindleAccess::Clock::time_point expiry = *IsoDate::parse("2030-01-01T12:00:00Z");
    const BrindleAccess::Clock::time_point now = expiry - seconds(3600);
    BrindleAccess access;
};

}  // namespace

TEST_F(BrindleAccessTest, ReusesATokenOnlyWithMoreThanFiveMinutesLeftForTheSameAccount) {
    service().setGitHubToken("ghs-1", "2030-01-01T14:00:00+02:00");  // the same instant as expiry
    BrindleAccess::Grant grant = access.get(account, now);
    EXPECT_EQ(grant.token + " " + grant.repo, "ghs-1 me/larder");
    for (int left : {301, 300, 299}) access.get(account, expiry - seconds(left));
    EXPECT_EQ(service().githubTokenRequests(), 3);  // fetched again at 300 and at 299 seconds
    // Another token, or the same server under another name, is another account.
    const std::string sameServer = "http://localhost:" + std::to_string(server.port());
    for (const Brindle::Account& other :
         {Brindle::Account{account.server, "device-token-2"}, Brindle::Account{sameServer, "device-token-2"}})
        access.get(other, now);
    auto requests = server.requestsTo("/api/v1/github/token");
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[4].header("Authorization") + requests[0].body, "Bearer device-token-2");
}

TEST_F(BrindleAccessTest, FailuresByStatusAndCode) {
    service().setGitHubToken("ghs-1", "2030-01-01T12:00:00.123Z");
    EXPECT_STREQ(failureOf([&] { access.get(account, now); }).what(),
                 "Brindle couldn't provide GitHub access (HTTP 200).");
    service().setLarderDisabled(true);
    EXPECT_EQ(failureOf([&] { access.get(account, now); }).problem(), Problem::disabled);
    service().setLarderDisabled(false);
    service().setGitHubRepo(std::nullopt);
    Brindle::Failure notConnected = failureOf([&] { access.get(account, now); });
    EXPECT_EQ(notConnected.problem(), Problem::githubNotConnected);
    EXPECT_EQ(notConnected.message(),
              "GitHub isn't connected to your Brindle account yet. Connect it at " + server.url() + "/connections");
    answer("/api/v1/github/token", 401);
    EXPECT_EQ(failureOf([&] { access.get(account, now); }).problem(), Problem::signedOut);
}

TEST_F(BrindleAccessTest, AFailedRefreshForgetsTheOldToken) {
    access.get(account, now);
    answer("/api/v1/github/token", 500);
    failureOf([&] { access.get(account, expiry - seconds(200)); });
    access.get(account, now);  // the old token still had time left for this clock, but it was dropped
    EXPECT_EQ(server.requestsTo("/api/v1/github/token").size(), 3u);
}
