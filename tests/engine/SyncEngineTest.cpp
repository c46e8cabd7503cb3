#include "engine/SyncEngine.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/GitHubService.h"
#include "service/BrindleFailure.h"
#include "service/Keychain.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A pass against the in-process stand-in service and real bare repositories
// under file:// remotes.
class SyncEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Keychain::forgetCache();
        server.start();
        env.set("BRINDLE_TEST_ACCOUNT", json{{"server", server.url()}, {"device_token", "device-1"}}.dump());
        env.set("BRINDLE_GITHUB_API_URL", server.url());
    }
    void TearDown() override { Keychain::forgetCache(); }

    fs::path bare(const std::string& repo) {
        fs::path path = remotes / (repo + ".git");
        fs::create_directories(path);
        test::git(path.string(), {"init", "-q", "--bare", "-b", "main"});
        return path;
    }
    std::shared_ptr<SyncEngine> makeEngine() {
        auto engine = SyncEngine::create({folder, home.path() / "state", "Test Box", 5, "file://" + remotes.string()});
        engine->setPause([this](double seconds) { pauses.push_back(seconds); });
        return engine;
    }
    std::vector<json> reports() { return server.brindle().reports(); }
    std::string files(const fs::path& repo) {
        return test::git(repo.string(), {"ls-tree", "-r", "--name-only", "main"});
    }
    // The problem of the Brindle::Failure a pass ended with, if it did.
    static std::optional<Brindle::Problem> problemOf(const SyncResult& result) {
        try {
            if (result.failure) std::rethrow_exception(result.failure);
        } catch (const Brindle::Failure& failure) {
            return failure.problem();
        } catch (...) {
        }
        return std::nullopt;
    }

    test::IsolatedHome home;
    test::ScopedEnv env;
    devserver::DevServer server;
    fs::path remotes = home.path() / "remotes";
    fs::path folder = home.path() / "Larder";
    std::vector<double> pauses;
};

TEST_F(SyncEngineTest, AccountPassPushesTheFolderAndReportsOpeningAndClosing) {
    fs::path repo = bare("demo/Larder");
    test::writeFile(folder / "notes.md", "hello");
    test::writeFile(folder / "sub" / "list.txt", "milk, eggs");
    auto engine = makeEngine();
    SyncResult result = engine->syncOnce();
    ASSERT_TRUE(result.succeeded()) << result.description();
    EXPECT_EQ(files(repo), "notes.md\nsub/list.txt\n");
    EXPECT_EQ(engine->storeNames(), std::vector<std::string>{"GitHub"});
    EXPECT_EQ(engine->larderWebURL(), "https://github.com/demo/Larder");
    EXPECT_EQ(json(reports()), json::parse(R"([{"events":[],"status":[{"store":"GitHub","state":"syncing"}]},
        {"events":[{"store":"GitHub","kind":"uploaded","path":"notes.md","bytes":5},
                   {"store":"GitHub","kind":"uploaded","path":"sub/list.txt","bytes":10}],
         "status":[{"store":"GitHub","state":"synced","files":2,"bytes":15}]}])"));
    EXPECT_TRUE(pauses.empty());  // one store never sweeps twice
}

// A token of the user's own syncs the owner's Larder without reports; the owner
// is looked up again after a GitHub error or a new account.
TEST_F(SyncEngineTest, UserSetTokenSyncsTheOwnersLarderAndAGitHubErrorDropsTheCachedSyncer) {
    env.set("BRINDLE_TEST_ACCOUNT", std::nullopt);
    fs::path repo = bare("octo/Larder");
    Keychain::setToken("ghp-dev-token");
    test::writeFile(folder / "a.txt", "1");
    auto engine = makeEngine();
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(engine->syncOnce().succeeded());
    EXPECT_EQ(files(repo), "a.txt\n");
    EXPECT_EQ(engine->larderWebURL(), "https://github.com/octo/Larder");
    EXPECT_TRUE(server.requestsTo("/api/v1/sync/report").empty() && server.requestsTo("/api/v1/config").empty());
    EXPECT_EQ(server.requestsTo("/user").size(), 1u);

    test::writeFile(repo / "hooks" / "pre-receive", "#!/bin/sh\nexit 1\n");  // the remote refuses every push
    fs::permissions(repo / "hooks" / "pre-receive", fs::perms::owner_all);
    test::writeFile(folder / "b.txt", "2");
    EXPECT_EQ(engine->syncOnce().description(), "Could not push after several attempts; will retry.");
    fs::remove(repo / "hooks" / "pre-receive");
    ASSERT_TRUE(engine->syncOnce().succeeded());
    engine->resetAccount();  // signing in or setting a token starts afresh
    ASSERT_TRUE(engine->syncOnceExclusive().succeeded());
    EXPECT_EQ(server.requestsTo("/user").size(), 3u);
    EXPECT_EQ(files(repo), "a.txt\nb.txt\n");
    Keychain::setToken("");  // an empty token counts as none
    EXPECT_EQ(engine->syncOnce().description(), NeedsSignIn().what());
}

TEST_F(SyncEngineTest, ServiceFailuresEndThePassWithTheirOwnMeaningAndAreReported) {
    auto engine = makeEngine();
    server.brindle().setStores({});
    server.brindle().setGitHubRepo(std::nullopt);
    EXPECT_EQ(problemOf(engine->syncOnce()), Brindle::Problem::noStore);
    server.brindle().setStores({"carrier-pigeon"});  // a store this program does not know: nothing to do
    EXPECT_TRUE(engine->syncOnce().succeeded() && reports().empty());
    // A disabled Larder fails the GitHub run, which reports the error.
    server.brindle().setStores({"github"});
    server.brindle().setGitHubRepo("demo/Larder");
    server.brindle().setLarderDisabled(true);
    bare("demo/Larder");
    std::string text = "Syncing is turned off for your account. Turn it on at " + server.url() + "/dashboard";
    EXPECT_EQ(engine->syncOnce().description(), text);
    EXPECT_EQ(reports().at(1)["status"], json::array({{{"store", "GitHub"}, {"state", "error"}, {"detail", text}}}));
}

template <class... Runs>
StoreRuns runsOf(Runs&&... runs) {
    StoreRuns list;
    (list.push_back(std::move(runs)), ...);
    return list;
}

// Sweeps repeat while several runs change the folder; the last sweep's failures count.
TEST_F(SyncEngineTest, SweepsRepeatWhileSeveralRunsChangeTheFolderAndTheLastOnesFailuresCount) {
    auto engine = makeEngine();
    fs::create_directories(folder);
    int writes = 0;
    auto changing = [&] {
        return std::make_unique<ActionRun>("Dropbox", [&] {
            test::writeFile(folder / ("n" + std::to_string(writes)), "x");
            if (writes++ == 0) throw Error("first sweep only");
        });
    };
    auto quiet = [] { return std::make_unique<ActionRun>("Stick", [] {}); };
    StoreRuns first = runsOf(changing(), std::make_unique<ActionRun>("Stick", [] { throw Error("gone"); }));
    auto failures = engine->sweep(first);
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(pauses, (std::vector<double>{1.2, 1.2}));
    ASSERT_EQ(failures.size(), 1u);  // the first sweep's Dropbox failure is forgotten
    EXPECT_EQ(failures[0].run->name(), "Stick");
    pauses.clear();
    engine->sweep(runsOf(changing()));
    engine->sweep(runsOf(quiet(), quiet()));
    EXPECT_EQ(writes, 4);  // a single store never gets a second sweep, nor an unchanged folder
    EXPECT_TRUE(pauses.empty());
    ActionRun gitHub("GitHub", [] {}), dropbox("Dropbox", [] {}), stick("Stick", [] {});
    std::vector<RunFailure> both{{&gitHub, std::make_exception_ptr(Error("a")), "a"},
                                 {&dropbox, std::make_exception_ptr(Error("b")), "b"}};
    EXPECT_EQ(
        SyncEngine::combine(2, both, {}).description() + "|" + SyncEngine::combine(1, {both[0]}, {}).description(),
        "GitHub: a; Dropbox: b|a");
    both.push_back({&stick, std::make_exception_ptr(Brindle::Failure::signedOut()), "signed out"});
    EXPECT_EQ(problemOf(SyncEngine::combine(3, both, {})), Brindle::Problem::signedOut);
    EXPECT_EQ(SyncEngine::combine(2, {}, {"huge.iso"}).skipped, std::vector<std::string>{"huge.iso"});
}

}  // namespace
}  // namespace brindle
