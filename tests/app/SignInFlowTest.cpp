#include "ApplicationFixture.h"

using namespace brindle;

namespace {

class SignInFlowTest : public test::ApplicationFixture {
protected:
    // Starts the sign-in window at launch, as the test variable does, with
    // codes that live ten minutes and ask for a poll every `interval` seconds.
    void launchSigningIn(int interval) {
        service().setCodeTiming(600, interval);
        env.set("BRINDLE_TEST_AUTOSIGNIN", "1");
        launch();
        ASSERT_EQ(desktop.messages(), std::vector<std::string>{"Sign in to Brindle"});
    }
    std::string said(const std::string& message) {
        const auto* shown = desktop.last(message);
        return shown ? shown->alert.informative : "(not shown)";
    }
};

TEST_F(SignInFlowTest, ApprovalClosesTheWindowAndStoresTheSignInBeforeAnyMessage) {
    launchSigningIn(2);
    EXPECT_EQ(desktop.urls.at(0), server.url() + "/device?code=" + service().userCodes().at(0));
    EXPECT_NE(desktop.alerts[0].alert.informative.find(service().userCodes().at(0)), std::string::npos);
    EXPECT_EQ(service().deviceNames(), std::vector<std::string>{"Test laptop"});
    service().approve();
    advance(2.0);  // the first poll, two seconds in, gets the approval
    advance(0.3);  // the window looks at the outcome every 0.3 seconds
    EXPECT_FALSE(desktop.alerts[0].open);
    ASSERT_EQ(desktop.messages(), (std::vector<std::string>{"Sign in to Brindle", "You're signed in"}));
    EXPECT_TRUE(desktop.alerts[1].accountStored);
    EXPECT_EQ(Brindle::account(), (Brindle::Account{server.url(), service().issuedTokens().at(0)}));
    EXPECT_FALSE(app->signingIn());
    EXPECT_TRUE(desktop.settings.signedIn);
}

// The window's own poller: a slow_down answer waits five seconds longer.
TEST_F(SignInFlowTest, SlowDownLengthensThePollIntervalAndCancellingEndsThePollerSilently) {
    service().scriptPolls({"slow_down", "authorization_pending"});
    launchSigningIn(1);
    advance(1.0);
    EXPECT_EQ(service().pollCount(), 1);
    advance(5.8);
    EXPECT_EQ(service().pollCount(), 1);
    advance(0.3);
    EXPECT_EQ(service().pollCount(), 2);
    desktop.answerOpen("Sign in to Brindle", 1);
    settle();
    EXPECT_FALSE(app->signingIn());
    advance(20.0, 1.0);
    EXPECT_EQ(service().pollCount(), 2);
    EXPECT_EQ(desktop.messages().size(), 1u);
    EXPECT_FALSE(Brindle::account());
}

TEST_F(SignInFlowTest, ExpiriesDenialAndFailedCodeRequestsEachEndInOneAlert) {
    service().scriptPolls({"expired_token", "expired_token", "expired_token"});
    launchSigningIn(1);
    advance(4.0);  // the later windows open by themselves
    EXPECT_EQ(desktop.messages(), (std::vector<std::string>{"Sign in to Brindle", "Sign in to Brindle",
                                                            "Sign in to Brindle", "Sign-in timed out"}));
    EXPECT_EQ(service().userCodes().size(), 3u);
    EXPECT_EQ(said("Sign-in timed out"), "Choose Sign In to Brindle\u2026 to try again.");
    EXPECT_FALSE(app->signingIn());

    service().scriptPolls({"access_denied"});
    app->startSignIn();
    advance(1.5);
    EXPECT_EQ(said("Sign-in denied"), "The sign-in was denied on brindle.app.");
    EXPECT_FALSE(app->signingIn());

    server.injectFault("/api/v1/device/code", {devserver::Fault::Kind::Status, 503, "{}", {}});
    app->startSignIn();
    settle();
    EXPECT_EQ(said("Couldn't start the sign-in"), "Brindle couldn't start the sign-in (HTTP 503).");
    const nlohmann::json code{{"device_code", "d"},
                              {"user_code", "U"},
                              {"verification_uri", "https://brindle.app/device"},
                              {"verification_uri_complete", "file:///etc/passwd"}};
    server.injectFault("/api/v1/device/code", {devserver::Fault::Kind::Status, 200, code.dump(), {}});
    desktop.urls.clear();
    app->startSignIn();
    settle();
    EXPECT_TRUE(desktop.urls.empty());  // only a web page is opened
    EXPECT_EQ(said("Couldn't start the sign-in"),
              "The sign-in page the service sent is not a web address: file:///etc/passwd");
    EXPECT_FALSE(app->signingIn());
}

TEST_F(SignInFlowTest, WithNoStoreTheConnectionsPageOpensAndSyncingStartsOnceOneAppears) {
    service().setStores({});
    service().setGitHubRepo(std::nullopt);
    service().scriptPolls({"approve"});
    launchSigningIn(1);
    advance(1.5);
    ASSERT_NE(desktop.last("You're signed in"), nullptr);
    EXPECT_EQ(desktop.urls.back(), server.url() + "/connections");
    ASSERT_TRUE(passesReach(2));  // the launch pass and the forced one after sign-in
    int before = passes;
    advance(10.0, 1.0);
    EXPECT_EQ(passes, before);
    service().setStores({"dropbox"});
    advance(5.0, 1.0);
    EXPECT_TRUE(passesReach(before + 1));
}

TEST_F(SignInFlowTest, SigningOutForgetsAndRevokesAndWithoutASignInDoesNothing) {
    launch();
    app->signOut();
    settle();
    EXPECT_TRUE(service().revokedTokens().empty());
    signIn();
    app->signOut();
    settle();
    EXPECT_FALSE(Brindle::account());
    EXPECT_EQ(service().revokedTokens(), std::vector<std::string>{"device-token-1"});
    EXPECT_FALSE(desktop.settings.signedIn);
}

}  // namespace
