#pragma once

#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/Keychain.h"
#include "service/Secrets.h"
#include "support/Expect.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {

// An isolated home with empty secret caches, and no thread of its own: a
// test may fork and have the child write secrets.
class SecretsHome : public ::testing::Test {
protected:
    void SetUp() override {
        Secrets::forgetCache();
        Keychain::forgetCache();
    }
    void TearDown() override {
        Secrets::forgetCache();
        Keychain::forgetCache();
    }

    IsolatedHome home;
    ScopedEnv env{{{"BRINDLE_TEST_ACCOUNT", std::nullopt}, {"LARDER_KEYCHAIN_SUFFIX", std::nullopt}}};
};

// Also the stand-in service on loopback; `account` is a device signed in to it.
class ServiceFixture : public SecretsHome {
protected:
    void SetUp() override {
        SecretsHome::SetUp();
        server.start();
        env.set("BRINDLE_URL", server.url());
        account = {server.url(), "device-token-1"};
    }
    devserver::BrindleService& service() { return server.brindle(); }
    // The next answer of path: status and body.
    void answer(const std::string& path, int status, const std::string& body = "", int times = 1) {
        server.injectFault(path, devserver::Fault{devserver::Fault::Kind::Status, status, body, {}}, times);
    }

    devserver::DevServer server;
    Brindle::Account account;
};

// The Brindle::Failure that body throws; fails the test on anything else.
template <typename Body>
Brindle::Failure failureOf(Body body) {
    try {
        body();
    } catch (const Brindle::Failure& failure) {
        return failure;
    } catch (...) {
    }
    ADD_FAILURE() << "threw no Brindle::Failure";
    return Brindle::Failure(Brindle::Problem::other, "");
}

}  // namespace brindle::test
