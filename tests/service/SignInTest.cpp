#include "service/BrindleSignIn.h"

#include <deque>

#include "ServiceFixture.h"

using namespace brindle;
using Brindle::PollResult;
using Brindle::SignInOutcome;
using nlohmann::json;
using test::failureOf;

using SignInTest = test::ServiceFixture;

TEST_F(SignInTest, RequestCodeSendsTheDeviceAndReadsTheCodeOrRefusesAnIncompleteOne) {
    service().setCodeTiming(120, 2);
    Brindle::DeviceCode code = Brindle::requestCode("Kitchen laptop");
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/device/code").at(0).body),
              (json{{"name", "Kitchen laptop"}, {"platform", "mac"}}));
    EXPECT_EQ(code.completeURL, server.url() + "/device?code=" + service().userCodes().at(0));
    EXPECT_EQ(std::pair(code.expiresIn, code.interval), std::pair(120LL, 2LL));
    service().setCodeTiming(std::nullopt, std::nullopt);
    code = Brindle::requestCode("x");
    EXPECT_EQ(std::pair(code.expiresIn, code.interval), std::pair(600LL, 5LL));

    const std::string rest = R"("user_code": "U", "verification_uri_complete": "https://b.app/d?c=U")";
    for (const auto& [status, body] : std::vector<std::pair<int, std::string>>{
             {500, R"({"device_code": "d", "verification_uri": "https://b.app/d", )" + rest + "}"},
             {200, R"({"device_code": "d", "verification_uri": "not a url", )" + rest + "}"},
             {200, R"({"device_code": 12, "verification_uri": "https://b.app/d", )" + rest + "}"}}) {
        answer("/api/v1/device/code", status, body);
        EXPECT_EQ(failureOf([] { Brindle::requestCode("x"); }).message(),
                  "Brindle couldn't start the sign-in (HTTP " + std::to_string(status) + ").");
    }
}

TEST_F(SignInTest, PollMapsTheServiceAnswersAndFailsOnUnknownOnes) {
    Brindle::DeviceCode code = Brindle::requestCode("x");
    service().scriptPolls({"authorization_pending", "slow_down", "access_denied", "expired_token", "approve"});
    for (auto kind :
         {PollResult::Kind::pending, PollResult::Kind::slowDown, PollResult::Kind::denied, PollResult::Kind::expired})
        EXPECT_EQ(Brindle::poll(code).kind, kind);
    PollResult approved = Brindle::poll(code);
    EXPECT_EQ(approved.kind, PollResult::Kind::approved);
    EXPECT_EQ(approved.deviceToken, service().issuedTokens().at(0));
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/device/token").at(0).body),
              (json{{"device_code", code.deviceCode}}));
    service().scriptPolls({"invalid_grant"});
    EXPECT_STREQ(failureOf([&] { Brindle::poll(code); }).what(), "Brindle sign-in failed (invalid_grant).");
}

// The waiting loop fed scripted poll answers (none left: the poll fails).
TEST(SignInWaitTest, SleepsBeforeEveryPollSlowsDownByFiveSecondsAndEndsAsTheAnswersSay) {
    using Kind = PollResult::Kind;
    using Outcome = SignInOutcome::Kind;
    struct Case {
        std::deque<Kind> answers;
        long long interval, expiresIn;
        bool ignoreFailures;
        Outcome outcome;
        std::vector<long long> pauses;
    };
    // clang-format off
    const Case cases[] = {
        {{Kind::pending, Kind::slowDown, Kind::pending, Kind::slowDown, Kind::approved}, 0, 600, false, Outcome::signedIn, {1, 1, 6, 6, 11}},
        {{Kind::pending, Kind::denied}, 5, 600, false, Outcome::denied, {5, 5}},
        {{Kind::expired}, 5, 600, false, Outcome::expired, {5}},
        {{Kind::pending, Kind::pending, Kind::pending, Kind::approved}, 5, 12, false, Outcome::timedOut, {5, 5, 5}},
        {{Kind::approved}, 5, 0, false, Outcome::timedOut, {}},
        {{}, 5, 20, true, Outcome::timedOut, {5, 5, 5, 5}},  // the window keeps going when a poll fails
    };
    // clang-format on
    for (const Case& each : cases) {
        std::deque<Kind> answers = each.answers;
        std::vector<long long> pauses;
        auto poll = [&](const Brindle::DeviceCode&) {
            if (answers.empty()) throw Brindle::Failure(Brindle::Problem::other, "no answer");
            Kind kind = answers.front();
            answers.pop_front();
            return PollResult{kind, kind == Kind::approved ? "tok" : ""};
        };
        auto sleep = [&](long long seconds) { return pauses.push_back(seconds), true; };
        auto wait = [&](bool ignoreFailures) {
            return Brindle::waitForApproval({"d", "U", "u", "u", each.expiresIn, each.interval}, sleep, poll,
                                            ignoreFailures);
        };
        SignInOutcome outcome = wait(each.ignoreFailures);
        EXPECT_EQ(outcome.kind, each.outcome) << each.pauses.size();
        EXPECT_EQ(pauses, each.pauses);
        EXPECT_EQ(outcome.deviceToken, outcome.kind == Outcome::signedIn ? "tok" : "");
        if (each.ignoreFailures) {
            EXPECT_THROW(wait(false), Brindle::Failure);  // the command line stops there
        }
    }
}
