#pragma once

#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/Keychain.h"
#include "service/Secrets.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {

// An isolated home, an empty secret cache and the stand-in service on
// loopback; `account` is a device signed in to it.
class ServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("BRINDLE_TEST_ACCOUNT", std::nullopt);
        env.set("LARDER_KEYCHAIN_SUFFIX", std::nullopt);
        Secrets::forgetCache();
        Keychain::forgetCache();
        server.start();
        env.set("BRINDLE_URL", server.url());
        account = {server.url(), "device-token-1"};
    }
    void TearDown() override {
        Secrets::forgetCache();
        Keychain::forgetCache();
    }
    devserver::BrindleService& service() { return server.brindle(); }

    IsolatedHome home;
    ScopedEnv env;
    devserver::DevServer server;
    Brindle::Account account;
};

// Runs body and returns the Brindle::Failure it threw; fails the test when it
// threw nothing or something else.
template <typename Body>
Brindle::Failure failureOf(Body body) {
    try {
        body();
    } catch (const Brindle::Failure& failure) {
        return failure;
    } catch (const std::exception& other) {
        ADD_FAILURE() << "threw another error: " << other.what();
        return Brindle::Failure(Brindle::Problem::other, "");
    }
    ADD_FAILURE() << "threw nothing";
    return Brindle::Failure(Brindle::Problem::other, "");
}

inline devserver::Fault statusFault(int status, const std::string& body) {
    devserver::Fault fault;
    fault.status = status;
    fault.body = body;
    return fault;
}

}  // namespace brindle::test
