#include <deque>

#include "ServiceFixture.h"
#include "service/BrindleSignIn.h"

using namespace brindle;
using Brindle::PollResult;
using Brindle::SignInOutcome;
using nlohmann::json;
using test::failureOf;
using test::statusFault;

using SignInTest = test::ServiceFixture;

TEST_F(SignInTest, RequestCodeSendsTheDeviceAndReadsTheCode) {
    service().setCodeTiming(120, 2);
    Brindle::DeviceCode code = Brindle::requestCode("Kitchen laptop");
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/device/code").at(0).body),
              (json{{"name", "Kitchen laptop"}, {"platform", "mac"}}));
    EXPECT_EQ(code.userCode, service().userCodes().at(0));
    EXPECT_EQ(code.completeURL, server.url() + "/device?code=" + code.userCode);
    EXPECT_EQ(code.expiresIn, 120);
    EXPECT_EQ(code.interval, 2);

    service().setCodeTiming(std::nullopt, std::nullopt);
    code = Brindle::requestCode("x");
    EXPECT_EQ(code.expiresIn, 600);
    EXPECT_EQ(code.interval, 5);
}

TEST_F(SignInTest, RequestCodeRejectsIncompleteAnswers) {
    const json complete{{"device_code", "d"},
                        {"user_code", "U"},
                        {"verification_uri", "https://b.app/d"},
                        {"verification_uri_complete", "https://b.app/d?c=U"}};
    struct Case {
        int status;
        json body;
    };
    json badURL = complete;
    badURL["verification_uri"] = "not a url";
    json numberCode = complete;
    numberCode["device_code"] = 12;
    json noUserCode = complete;
    noUserCode.erase("user_code");
    for (const Case& each : {Case{200, json::object()}, Case{500, complete}, Case{200, badURL}, Case{200, numberCode},
                             Case{200, noUserCode}}) {
        server.injectFault("/api/v1/device/code", statusFault(each.status, each.body.dump()));
        Brindle::Failure failure = failureOf([] { Brindle::requestCode("x"); });
        EXPECT_EQ(failure.message(), "Brindle couldn't start the sign-in (HTTP " + std::to_string(each.status) + ").");
    }
}

TEST_F(SignInTest, PollMapsTheServiceAnswers) {
    Brindle::DeviceCode code = Brindle::requestCode("x");
    service().scriptPolls({"authorization_pending", "slow_down", "access_denied", "expired_token", "approve"});
    EXPECT_EQ(Brindle::poll(code).kind, PollResult::Kind::pending);
    EXPECT_EQ(Brindle::poll(code).kind, PollResult::Kind::slowDown);
    EXPECT_EQ(Brindle::poll(code).kind, PollResult::Kind::denied);
    EXPECT_EQ(Brindle::poll(code).kind, PollResult::Kind::expired);
    PollResult approved = Brindle::poll(code);
    EXPECT_EQ(approved.kind, PollResult::Kind::approved);
    EXPECT_EQ(approved.deviceToken, service().issuedTokens().at(0));
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/device/token").at(0).body),
              (json{{"device_code", code.deviceCode}}));
}

TEST_F(SignInTest, UnknownPollAnswersFailWithTheirCodeOrStatus) {
    Brindle::DeviceCode code = Brindle::requestCode("x");
    service().scriptPolls({"invalid_grant"});
    EXPECT_STREQ(failureOf([&] { Brindle::poll(code); }).what(), "Brindle sign-in failed (invalid_grant).");
    server.injectFault("/api/v1/device/token", statusFault(500, "<html/>"));
    EXPECT_STREQ(failureOf([&] { Brindle::poll(code); }).what(), "Brindle sign-in failed (HTTP 500).");
    server.injectFault("/api/v1/device/token", statusFault(200, "{}"));
    EXPECT_STREQ(failureOf([&] { Brindle::poll(code); }).what(), "Brindle sign-in failed (HTTP 200).");
}

TEST_F(SignInTest, RevokeIgnoresEveryFailure) {
    Brindle::revoke(account);
    EXPECT_EQ(server.requestsTo("/api/v1/device/revoke").at(0).header("Authorization"), "Bearer device-token-1");
    EXPECT_EQ(service().revokedTokens(), std::vector<std::string>{"device-token-1"});
    server.injectFault("/api/v1/device/revoke", statusFault(500, ""));
    EXPECT_NO_THROW(Brindle::revoke(account));
    EXPECT_NO_THROW(Brindle::revoke({"http://127.0.0.1:1", "t"}));
}

namespace {

// Feeds the waiting loop scripted poll answers and records its pauses.
struct ScriptedWait {
    std::deque<PollResult::Kind> answers;
    std::vector<long long> pauses;

    SignInOutcome run(long long interval, long long expiresIn, bool ignoreFailures = false) {
        Brindle::DeviceCode code{"d", "U", "u", "u", expiresIn, interval};
        auto sleep = [this](long long seconds) {
            pauses.push_back(seconds);
            return true;
        };
        auto poll = [this](const Brindle::DeviceCode&) {
            if (answers.empty()) throw Brindle::Failure(Brindle::Problem::other, "no answer");
            PollResult result{answers.front(), answers.front() == PollResult::Kind::approved ? "tok" : ""};
            answers.pop_front();
            return result;
        };
        return Brindle::waitForApproval(code, sleep, poll, ignoreFailures);
    }
};

using Kind = PollResult::Kind;

}  // namespace

TEST(SignInWaitTest, SleepsBeforeEveryPollAndSlowsDownByFiveSeconds) {
    ScriptedWait wait{{Kind::pending, Kind::slowDown, Kind::pending, Kind::slowDown, Kind::approved}, {}};
    SignInOutcome outcome = wait.run(0, 600);
    EXPECT_EQ(outcome.kind, SignInOutcome::Kind::signedIn);
    EXPECT_EQ(outcome.deviceToken, "tok");
    EXPECT_EQ(wait.pauses, (std::vector<long long>{1, 1, 6, 6, 11}));
}

TEST(SignInWaitTest, EndsOnDenialExpiryOrAUsedUpLifetime) {
    ScriptedWait denied{{Kind::pending, Kind::denied}, {}};
    EXPECT_EQ(denied.run(5, 600).kind, SignInOutcome::Kind::denied);
    ScriptedWait expired{{Kind::expired}, {}};
    EXPECT_EQ(expired.run(5, 600).kind, SignInOutcome::Kind::expired);

    // 5 + 5 + 5 reaches the lifetime of 12 seconds after three polls.
    ScriptedWait timedOut{{Kind::pending, Kind::pending, Kind::pending, Kind::approved}, {}};
    EXPECT_EQ(timedOut.run(5, 12).kind, SignInOutcome::Kind::timedOut);
    EXPECT_EQ(timedOut.pauses.size(), 3u);
    ScriptedWait noTime{{Kind::approved}, {}};
    EXPECT_EQ(noTime.run(5, 0).kind, SignInOutcome::Kind::timedOut);
    EXPECT_TRUE(noTime.pauses.empty());
}

TEST(SignInWaitTest, FailedPollsStopTheCommandLineButNotTheWindow) {
    ScriptedWait strict{{}, {}};
    EXPECT_THROW(strict.run(5, 600), Brindle::Failure);
    ScriptedWait lenient{{}, {}};
    EXPECT_EQ(lenient.run(5, 20, true).kind, SignInOutcome::Kind::timedOut);
    EXPECT_EQ(lenient.pauses.size(), 4u);
}
