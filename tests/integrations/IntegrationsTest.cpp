#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <ctime>

#include "integrations/IntegrationError.h"
#include "integrations/Integrations.h"
#include "support/Expect.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestMainLoop.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// Holds a run until the test lets it go, so "still running" is a fact and
// not a matter of timing.
class Gate {
public:
    void pass() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    bool waitForArrivals(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return arrived_ >= count; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int arrived() {
        std::lock_guard<std::mutex> guard(mutex_);
        return arrived_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

class IntegrationsTest : public ::testing::Test {
protected:
    void SetUp() override { ::tzset(); }
    void TearDown() override {
        plaudGate.open();
        contactsGate.open();
        tz.reset();
        ::tzset();
    }

    std::shared_ptr<Integrations> make() {
        Integrations::Runners runners;
        runners.plaud = [this](const fs::path&, bool backfill, const PlaudSync::Progress& progress) {
            track(+1);
            plaudGate.pass();
            if (progress) progress("Listed 50 recordings\u2026");
            backfills += backfill;
            track(-1);
            if (plaudFailure) std::rethrow_exception(plaudFailure);
            return plaudResult;
        };
        runners.contacts = [this](const fs::path&) {
            track(+1);
            contactsGate.pass();
            track(-1);
            return contactsResult;
        };
        runners.now = [] {
            return std::chrono::system_clock::time_point(std::chrono::seconds(1741340460));
        };  // 09:41 UTC
        auto integrations = Integrations::create(root.path(), loop, runners);
        integrations->setOnChange([this] { ++changes; });
        return integrations;
    }
    void track(int step) {
        int now = active += step;
        int seen = mostActive.load();
        while (now > seen && !mostActive.compare_exchange_weak(seen, now)) {
        }
    }
    // Lets every run finish and applies the status lines they posted.
    void finish(Integrations& integrations) {
        plaudGate.open();
        contactsGate.open();
        integrations.waitUntilIdle();
        loop.drain();
    }

    std::optional<test::ScopedEnv> tz{std::in_place, "TZ", "UTC"};
    test::IsolatedHome home;
    test::TestMainLoop loop;
    test::TempDir root;
    Gate plaudGate, contactsGate;
    std::atomic<int> active{0}, mostActive{0}, backfills{0};
    int changes = 0;
    PlaudSync::Result plaudResult;
    ContactsSync::Result contactsResult;
    std::exception_ptr plaudFailure;
};

TEST_F(IntegrationsTest, RequestsWhileARunIsUnderWayAreDropped) {
    auto integrations = make();
    integrations->start();
    loop.advance(10);  // the first Plaud run starts and is held
    ASSERT_TRUE(plaudGate.waitForArrivals(1));
    loop.advance(890);  // the 15-minute tick arrives meanwhile
    integrations->syncPlaud(false, 0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(plaudGate.arrived(), 1);
    EXPECT_EQ(contactsGate.arrived(), 1);  // the start-up run at +15 s

    loop.advance(900);  // the next tick runs again
    finish(*integrations);
    EXPECT_EQ(plaudGate.arrived(), 2);

    integrations.reset();  // timers hold the object weakly
    loop.advance(21600);
    EXPECT_EQ(plaudGate.arrived(), 2);
}

TEST_F(IntegrationsTest, PlaudAndContactsNeverRunTogether) {
    auto integrations = make();
    integrations->syncPlaud(false, 0);
    integrations->syncContacts(0);
    loop.advance(0);
    ASSERT_TRUE(plaudGate.waitForArrivals(1));
    loop.drain();
    EXPECT_EQ(integrations->plaudLine(), "Plaud: syncing\u2026");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: waiting\u2026");
    EXPECT_EQ(contactsGate.arrived(), 0);
    finish(*integrations);
    EXPECT_EQ(contactsGate.arrived(), 1);
    EXPECT_EQ(mostActive.load(), 1);
}

TEST_F(IntegrationsTest, StatusLinesTellTheOutcome) {
    auto integrations = make();
    plaudResult = {4, 3, 1, 0};
    contactsResult = {2, 10, 2, 1, 7};
    integrations->syncPlaud(false, 0);
    integrations->syncContacts(0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: 3 new, 1 still processing \u00b7 9:41 AM");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: 2 new, 1 updated \u00b7 9:41 AM");
    EXPECT_GE(changes, 4);
    std::string log = readFile(home.logFile());
    EXPECT_NE(log.find("Plaud: wrote 3 note(s)"), std::string::npos);
    EXPECT_NE(log.find("Contacts: 2 created, 1 updated"), std::string::npos);

    plaudResult = {2, 0, 2, 0};
    contactsResult = {2, 10, 0, 0, 10};
    integrations->syncPlaud(false, 0);
    integrations->syncContacts(0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: up to date, 2 still processing \u00b7 9:41 AM");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: up to date \u00b7 9:41 AM");
}

TEST_F(IntegrationsTest, FailuresAreShownCutAndLoggedUnlessNotConfigured) {
    auto integrations = make();
    plaudFailure = std::make_exception_ptr(
        IntegrationError("The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login", true));
    integrations->syncPlaud(false, 0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(integrations->plaudLine(),
              "Plaud: The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then");
    EXPECT_EQ(readFile(home.logFile()).find("Plaud error"), std::string::npos);

    plaudFailure = std::make_exception_ptr(Error("Couldn't create /x/Meetings: Permission denied"));
    integrations->syncPlaud(true, 0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: Couldn't create /x/Meetings: Permission denied");
    EXPECT_NE(readFile(home.logFile()).find("Plaud error: Couldn't create /x/Meetings: Permission denied"),
              std::string::npos);
    EXPECT_EQ(backfills.load(), 1);
}

TEST_F(IntegrationsTest, BackfillShowsProgressOrdinaryRunsDoNot) {
    auto integrations = make();
    std::vector<std::string> lines;
    integrations->setOnChange([&] { lines.push_back(integrations->plaudLine()); });
    integrations->syncPlaud(false, 0);
    loop.advance(0);
    finish(*integrations);
    integrations->syncPlaud(true, 0);
    loop.advance(0);
    finish(*integrations);
    EXPECT_EQ(lines, (std::vector<std::string>{"Plaud: syncing\u2026", "Plaud: up to date \u00b7 9:41 AM",
                                               "Plaud: syncing\u2026", "Plaud: Listed 50 recordings\u2026",
                                               "Plaud: up to date \u00b7 9:41 AM"}));
}

TEST_F(IntegrationsTest, LoftImportCopiesWhatIsMissingAndNothingElse) {
    auto integrations = make();
    test::TempDir checkout;
    writeFile(checkout / "meetings/2024-01-01-kickoff.md", "theirs");
    writeFile(checkout / "meetings/.DS_Store", "junk");
    writeFile(checkout / "meetings/2023/old.md", "old");
    writeFile(checkout / "contacts/ann-1234abcd.json", "{}");
    writeFile(checkout / "corvane-intelligence/report.md", "report");
    writeFile(checkout / ".git/HEAD", "ref");
    writeFile(root / "Meetings/2024-01-01-kickoff.md", "ours");

    EXPECT_EQ(integrations->importLoft(checkout.path()), 3);
    EXPECT_EQ(readFile(root / "Meetings/2024-01-01-kickoff.md"), "ours");
    EXPECT_EQ(readFile(root / "Meetings/2023/old.md"), "old");
    EXPECT_EQ(readFile(root / "Contacts/ann-1234abcd.json"), "{}");
    EXPECT_EQ(readFile(root / "Corvane Intelligence/report.md"), "report");
    EXPECT_FALSE(fs::exists(root / "Meetings/.DS_Store"));
    EXPECT_FALSE(fs::exists(root / ".git"));
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "Meetings"), fs::directory_iterator()), 2);
    EXPECT_NE(readFile(home.logFile()).find("Imported 3 file(s) from " + checkout.path().string()), std::string::npos);

    EXPECT_EQ(integrations->importLoft(checkout.path()), 0);  // all there already

    test::TempDir notACheckout;
    writeFile(notACheckout / "notes/a.md", "a");
    EXPECT_THROW_WITH(integrations->importLoft(notACheckout.path()), IntegrationError,
                      "That folder doesn't look like a loft checkout (no meetings folder).");
}

}  // namespace
}  // namespace brindle
