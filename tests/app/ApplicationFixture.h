#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Application.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/Keychain.h"
#include "service/Secrets.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedDesktop.h"
#include "support/TempDir.h"
#include "support/TestMainLoop.h"

namespace brindle::test {

// The application on the test main loop with a scripted desktop, against the
// stand-in service; passes of the engine only count themselves.
class ApplicationFixture : public ::testing::Test {
protected:
    void SetUp() override {
        TearDown();
        server.start();
        service().setAcceptAnyToken(true);
        env.set("BRINDLE_URL", server.url());
        env.set("LARDER_VOLUMES", (home.path() / "volumes").string());
    }
    void TearDown() override {
        app.reset();
        Secrets::forgetCache();
        Keychain::forgetCache();
    }

    devserver::BrindleService& service() { return server.brindle(); }
    std::filesystem::path folder() const { return home.path() / "Larder"; }

    void signIn() { Brindle::storeAccount({server.url(), "device-token-1"}); }

    Application::Options options() {
        Application::Options made;
        made.engine.folder = folder();
        made.engine.stateDir = home.path() / "state";
        made.engine.deviceName = "Test laptop";
        made.integrations.plaud = [](const std::filesystem::path&, bool, const PlaudSync::Progress&) {
            return PlaudSync::Result{};
        };
        made.integrations.contacts = [](const std::filesystem::path&) { return ContactsSync::Result{}; };
        made.shareWait = [](double) {};
        made.watchFolder = false;
        made.prepare = [this](SyncEngine& engine) {
            engine.setPassRunner([this] {
                ++passes;
                return SyncResult{};
            });
        };
        return made;
    }

    void launch() {
        std::filesystem::create_directories(folder());
        app = Application::create(loop, desktop, options());
        app->launch();
        settle();
    }

    // Runs what is due now on the main loop and waits for the background
    // work it starts, until both are quiet.
    void settle() {
        for (int round = 0; round < 50; ++round) {
            loop.advance(0);
            if (app) app->waitForBackground();
            loop.drain();
            if (!app || app->backgroundIdle()) return;
        }
    }
    // Moves virtual time forward, settling after every step of `step` seconds.
    void advance(double seconds, double step = 0.1) {
        for (double done = 0; done + 1e-9 < seconds; done += step) {
            loop.advance(std::min(step, seconds - done));
            settle();
        }
    }
    // Waits (briefly, in real time) for the engine's queue to run passes.
    bool passesReach(int count) {
        for (int i = 0; i < 400 && passes.load() < count; ++i) {
            loop.advance(0.02);  // the engine never starts a pass sooner
            settle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        settle();
        return passes.load() >= count;
    }

    IsolatedHome home;
    ScopedEnv env{{{"BRINDLE_TEST_ACCOUNT", std::nullopt}, {"BRINDLE_TEST_AUTOSIGNIN", std::nullopt}}};
    devserver::DevServer server;
    TestMainLoop loop;
    ScriptedDesktop desktop{loop, home.path() / "pasteboard"};
    std::atomic<int> passes{0};
    std::shared_ptr<Application> app;
};

}  // namespace brindle::test
