#include "ApplicationFixture.h"

using namespace brindle;

namespace {

class SignInFlowTest : public test::ApplicationFixture {
protected:
    // Starts the sign-in window at launch, as the test variable does.
    void launchSigningIn(bool windowExpected = true) {
        ::setenv("BRINDLE_TEST_AUTOSIGNIN", "1", 1);
        launch();
        if (windowExpected) ASSERT_EQ(desktop.messages(), std::vector<std::string>{"Sign in to Brindle"});
    }
};

TEST_F(SignInFlowTest, ApprovalClosesTheWindowAndStoresTheSignInBeforeAnyMessage) {
    service().setCodeTiming(600, 2);
    launchSigningIn();
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

TEST_F(SignInFlowTest, CancellingWhileThePollerSleepsEndsItSilently) {
    service().setCodeTiming(600, 5);
    launchSigningIn();
    desktop.answerOpen("Sign in to Brindle", 1);
    settle();
    EXPECT_FALSE(app->signingIn());
    advance(20.0, 1.0);
    EXPECT_EQ(service().pollCount(), 0);
    EXPECT_EQ(desktop.messages().size(), 1u);
    EXPECT_FALSE(Brindle::account());
}

TEST_F(SignInFlowTest, ThreeExpiriesEndWithTimedOutAndTheLaterWindowsOpenByThemselves) {
    service().setCodeTiming(600, 1);
    service().scriptPolls({"expired_token", "expired_token", "expired_token"});
    launchSigningIn();
    advance(4.0);
    EXPECT_EQ(desktop.messages(), (std::vector<std::string>{"Sign in to Brindle", "Sign in to Brindle",
                                                            "Sign in to Brindle", "Sign-in timed out"}));
    EXPECT_EQ(service().userCodes().size(), 3u);
    EXPECT_EQ(desktop.last("Sign-in timed out")->alert.informative, "Choose Sign In to Brindle\u2026 to try again.");
    EXPECT_FALSE(app->signingIn());
}

TEST_F(SignInFlowTest, DenialAndAFailedCodeRequestEachEndInOneAlert) {
    service().setCodeTiming(600, 1);
    service().scriptPolls({"access_denied"});
    launchSigningIn();
    advance(1.5);
    EXPECT_EQ(desktop.last("Sign-in denied")->alert.informative, "The sign-in was denied on brindle.app.");
    EXPECT_FALSE(app->signingIn());

    server.injectFault("/api/v1/device/code", devserver::Fault{devserver::Fault::Kind::Status, 503, "{}", {}});
    app->startSignIn();
    settle();
    EXPECT_EQ(desktop.last("Couldn't start the sign-in")->alert.informative,
              "Brindle couldn't start the sign-in (HTTP 503).");
    EXPECT_FALSE(app->signingIn());
}

TEST_F(SignInFlowTest, OnlyAWebApprovalPageIsOpened) {
    const nlohmann::json code{{"device_code", "d"},
                              {"user_code", "U"},
                              {"verification_uri", "https://brindle.app/device"},
                              {"verification_uri_complete", "file:///etc/passwd"}};
    server.injectFault("/api/v1/device/code", devserver::Fault{devserver::Fault::Kind::Status, 200, code.dump(), {}});
    launchSigningIn(false);
    EXPECT_TRUE(desktop.urls.empty());
    ASSERT_NE(desktop.last("Couldn't start the sign-in"), nullptr);
    EXPECT_EQ(desktop.last("Couldn't start the sign-in")->alert.informative,
              "The sign-in page the service sent is not a web address: file:///etc/passwd");
    EXPECT_FALSE(app->signingIn());
}

TEST_F(SignInFlowTest, WithNoStoreTheConnectionsPageOpensAndSyncingStartsOnceOneAppears) {
    service().setCodeTiming(600, 1);
    service().setStores({});
    service().setGitHubRepo(std::nullopt);
    service().scriptPolls({"approve"});
    launchSigningIn();
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

// The window's own poller: a slow_down answer waits five seconds longer.
TEST_F(SignInFlowTest, SlowDownLengthensThePollIntervalByFiveSeconds) {
    service().setCodeTiming(600, 1);
    service().scriptPolls({"slow_down", "authorization_pending"});
    launchSigningIn();
    advance(1.0);
    EXPECT_EQ(service().pollCount(), 1);
    advance(5.8);
    EXPECT_EQ(service().pollCount(), 1);
    advance(0.3);
    EXPECT_EQ(service().pollCount(), 2);
}

}  // namespace
