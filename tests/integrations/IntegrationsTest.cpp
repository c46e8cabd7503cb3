#include "integrations/Integrations.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "integrations/IntegrationError.h"
#include "support/Expect.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "support/TestMainLoop.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class IntegrationsTest : public ::testing::Test {
protected:
    IntegrationsTest() { ::tzset(); }
    ~IntegrationsTest() override {
        open();
        tz.reset();
        ::tzset();
    }

    // Runners that wait at a gate until the test opens it, so "still running"
    // is a fact and not a matter of timing.
    std::shared_ptr<Integrations> make() {
        Integrations::Runners runners;
        runners.plaud = [this](const fs::path&, bool backfill, const PlaudSync::Progress& progress) {
            ++plaudRuns;
            opened.wait();
            if (progress) progress("Listed 50 recordings\u2026");
            backfills += backfill;
            if (plaudFailure) std::rethrow_exception(plaudFailure);
            return plaudResult;
        };
        runners.contacts = [this](const fs::path&) {
            ++contactsRuns;
            opened.wait();
            return contactsResult;
        };
        runners.now = [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1741340460)); };  // 09:41
        return Integrations::create(root.path(), loop, runners);
    }
    void open() {
        if (opened.wait_for(std::chrono::seconds(0)) != std::future_status::ready) opener.set_value();
    }
    // Asks for both runs (or Plaud's only) and lets them finish.
    void runBoth(Integrations& integrations, bool withContacts = true, bool backfill = false) {
        integrations.syncPlaud(backfill, 0);
        if (withContacts) integrations.syncContacts(0);
        loop.advance(0);
        finish(integrations);
    }
    // Lets every run finish and applies the status lines they posted.
    void finish(Integrations& integrations) {
        open();
        integrations.waitUntilIdle();
        loop.drain();
    }

    std::optional<ScopedEnv> tz{std::in_place, "TZ", "UTC"};
    IsolatedHome home;
    TestMainLoop loop;
    TempDir root;
    std::promise<void> opener;
    std::shared_future<void> opened = opener.get_future().share();
    std::atomic<int> plaudRuns{0}, contactsRuns{0}, backfills{0};
    PlaudSync::Result plaudResult;
    ContactsSync::Result contactsResult;
    std::exception_ptr plaudFailure;
};

TEST_F(IntegrationsTest, RequestsWhileARunIsUnderWayAreDroppedAndTheTwoNeverRunTogether) {
    auto integrations = make();
    integrations->start();
    loop.advance(10);  // the first Plaud run starts and is held
    while (plaudRuns == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    loop.advance(890);  // the 15-minute tick arrives meanwhile
    integrations->syncPlaud(false, 0);
    integrations->syncContacts(0);
    loop.advance(0);
    loop.drain();
    EXPECT_EQ(integrations->plaudLine(), "Plaud: syncing\u2026");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: waiting\u2026");
    EXPECT_EQ(contactsRuns, 0);
    finish(*integrations);
    EXPECT_EQ(plaudRuns, 1);
    EXPECT_EQ(contactsRuns, 1);
    loop.advance(900);  // the next tick runs again
    finish(*integrations);
    EXPECT_EQ(plaudRuns, 2);
    integrations.reset();  // timers hold the object weakly
    loop.advance(21600);
    EXPECT_EQ(plaudRuns, 2);
}

TEST_F(IntegrationsTest, StatusLinesTellTheOutcomeAndOnlyABackfillShowsProgress) {
    auto integrations = make();
    plaudResult = {4, 3, 1, 0};
    contactsResult = {2, 10, 2, 1, 7};
    runBoth(*integrations);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: 3 new, 1 still processing \u00b7 9:41 AM");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: 2 new, 1 updated \u00b7 9:41 AM");
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Plaud: wrote 3 note(s)"));
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Contacts: 2 created, 1 updated"));
    plaudResult = {2, 0, 2, 0};
    contactsResult = {2, 10, 0, 0, 10};
    runBoth(*integrations);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: up to date, 2 still processing \u00b7 9:41 AM");
    EXPECT_EQ(integrations->contactsLine(), "Contacts: up to date \u00b7 9:41 AM");
    std::vector<std::string> lines;
    integrations->setOnChange([&] { lines.push_back(integrations->plaudLine()); });
    plaudFailure = std::make_exception_ptr(
        IntegrationError("The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login", true));
    runBoth(*integrations, false);
    EXPECT_EQ(integrations->plaudLine(),
              "Plaud: The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then");
    EXPECT_THAT(readFile(home.logFile()), Not(HasSubstr("Plaud error")));  // not configured is no error
    plaudFailure = std::make_exception_ptr(Error("Couldn't create /x/Meetings: Permission denied"));
    runBoth(*integrations, false, true);
    EXPECT_EQ(lines, (std::vector<std::string>{"Plaud: syncing\u2026", lines[1], "Plaud: syncing\u2026",
                                               "Plaud: Listed 50 recordings\u2026",
                                               "Plaud: Couldn't create /x/Meetings: Permission denied"}));
    EXPECT_EQ(backfills, 1);
    EXPECT_EQ(integrations->plaudLine(), "Plaud: Couldn't create /x/Meetings: Permission denied");
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Plaud error: Couldn't create /x/Meetings: Permission denied"));
}

TEST_F(IntegrationsTest, LoftImportCopiesWhatIsMissingAndNothingElse) {
    auto integrations = make();
    TempDir checkout;
    for (auto path : {"meetings/.DS_Store", "meetings/2023/old.md", "contacts/ann-1234abcd.json",
                      "corvane-intelligence/report.md", ".git/HEAD", "meetings/2024-01-01-kickoff.md"})
        writeFile(checkout / path, path);
    writeFile(root / "Meetings/2024-01-01-kickoff.md", "ours");
    EXPECT_EQ(integrations->importLoft(checkout.path()), 3);
    EXPECT_EQ(filesIn(root.path()), (Tree{{"Meetings/2024-01-01-kickoff.md", "ours"},
                                          {"Meetings/2023/old.md", "meetings/2023/old.md"},
                                          {"Contacts/ann-1234abcd.json", "contacts/ann-1234abcd.json"},
                                          {"Corvane Intelligence/report.md", "corvane-intelligence/report.md"}}));
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Imported 3 file(s) from " + checkout.path().string()));
    EXPECT_EQ(integrations->importLoft(checkout.path()), 0);  // all there already
    TempDir notACheckout;
    writeFile(notACheckout / "notes/a.md", "a");
    EXPECT_THROW_WITH(integrations->importLoft(notACheckout.path()), IntegrationError,
                      "That folder doesn't look like a loft checkout (no meetings folder).");
}

}  // namespace
}  // namespace brindle::test
