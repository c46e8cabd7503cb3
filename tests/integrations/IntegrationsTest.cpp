#include "integrations/Integrations.h"

#include <future>
#include <thread>

#include "common/Text.h"
#include "devserver/DevServer.h"
#include "integrations/ContactStore.h"
#include "integrations/ContactsMerge.h"
#include "integrations/GoogleContactsClient.h"
#include "integrations/IntegrationError.h"
#include "integrations/NoteText.h"
#include "integrations/PlaudSync.h"
#include "support/Expect.h"
#include "support/FakePlaud.h"
#include "support/PeopleData.h"
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

    // Runners that wait at a gate the test opens, so "still running" is a fact, not timing.
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
    void runBoth(Integrations& integrations, bool withContacts = true, bool backfill = false) {
        integrations.syncPlaud(backfill, 0);
        if (withContacts) integrations.syncContacts(0);
        loop.advance(0);
        finish(integrations);
    }
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
    EXPECT_EQ(integrations->plaudLine() + integrations->contactsLine(), "Plaud: syncing\u2026Contacts: waiting\u2026");
    EXPECT_EQ(contactsRuns, 0);
    finish(*integrations);
    EXPECT_EQ(plaudRuns + 10 * contactsRuns, 11);
    loop.advance(900);  // the next tick runs again
    finish(*integrations);
    integrations.reset();  // timers hold the object weakly
    loop.advance(21600);
    EXPECT_EQ(plaudRuns, 2);
}
TEST_F(IntegrationsTest, StatusLinesTellTheOutcomeAndOnlyABackfillShowsProgress) {
    auto integrations = make();
    plaudResult = {4, 3, 1, 0};
    contactsResult = {2, 10, 2, 1, 7};
    runBoth(*integrations);
    EXPECT_EQ(integrations->plaudLine() + "|" + integrations->contactsLine(),
              "Plaud: 3 new, 1 still processing \u00b7 9:41 AM|Contacts: 2 new, 1 updated \u00b7 9:41 AM");
    EXPECT_THAT(readFile(home.logFile()),
                AllOf(HasSubstr("Plaud: wrote 3 note(s)"), HasSubstr("Contacts: 2 created, 1 updated")));
    plaudResult = {2, 0, 2, 0};
    contactsResult = {2, 10, 0, 0, 10};
    runBoth(*integrations);
    EXPECT_EQ(integrations->plaudLine() + "|" + integrations->contactsLine(),
              "Plaud: up to date, 2 still processing \u00b7 9:41 AM|Contacts: up to date \u00b7 9:41 AM");
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
    EXPECT_EQ(Text::joined(lines, "|"), "Plaud: syncing\u2026|" + lines[1] +
                                            "|Plaud: syncing\u2026|Plaud: Listed 50 recordings\u2026|"
                                            "Plaud: Couldn't create /x/Meetings: Permission denied");
    EXPECT_EQ(backfills, 1);
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
    fs::remove_all(checkout / "meetings");
    EXPECT_THROW_WITH(integrations->importLoft(checkout.path()), IntegrationError,
                      "That folder doesn't look like a loft checkout (no meetings folder).");
}

using nlohmann::json;

class ContactsTest : public ::testing::Test {
protected:
    ContactsTest() {
        server.start();
        env.set("BRINDLE_PEOPLE_URL", server.url() + "/");
    }

    GoogleContactsClient client(const std::string& token) {
        return GoogleContactsClient("Work", [this, token] {
            ++tokensHanded;
            return token;
        });
    }
    size_t pageRequests() const { return server.requestsTo("/v1/people/me/connections").size(); }

    IsolatedHome home;
    devserver::DevServer server;
    ScopedEnv env;
    TempDir folder;
    fs::path contacts = folder / "Contacts";
    int tokensHanded = 0;
};

TEST_F(ContactsTest, ClientReadsEveryPageAndFlattensPeople) {
    std::vector<json> people = peopleData("p", 4);
    people.push_back(json::parse(R"({"resourceName": "people/c9", "etag": "e9", "names": [{"displayName": "Plain"},
        {"displayName": "Dr. Ada Lovelace", "givenName": "Ada", "familyName": "Lovelace", "metadata": {"primary": true}}],
        "emailAddresses": [{"value": "  Ada@Example.COM \n"}, {"value": ""}, {"type": "no value"}],
        "phoneNumbers": [{"value": " +44 20 7946 0000 "}], "biographies": [{"value": "First"}, {"value": "Second"}],
        "addresses": [{"formattedValue": "12 St James's Square\nLondon"}],
        "organizations": [{"name": "Acme", "title": "CTO"}, {"title": "Countess"}, {"name": "Royal Society"}, {}],
        "photos": [{"url": "https://x/default.png", "default": true}, {"url": "https://x/ada.png"}]})"));
    people.push_back(json::parse(R"({"resourceName": "people/c10", "photos": [{"url": "d", "default": true}]})"));
    server.people().setConnections("t1", people);
    server.people().setPageSize(2);
    std::vector<GoogleContact> read = client("t1").list();
    ASSERT_EQ(read.size(), 6u);
    EXPECT_EQ(pageRequests(), 3u);
    const GoogleContact& ada = read[4];
    EXPECT_EQ(Text::joined({read[0].displayName, ada.account, ada.displayName, ada.familyName, ada.notes, *ada.photoURL,
                            Text::joined(ada.emails, ","), Text::joined(ada.phones, ","),
                            Text::joined(ada.organizations, ","), read[5].displayName},
                           "|"),
              "p Person 0|Work|Dr. Ada Lovelace|Lovelace|First|https://x/ada.png|ada@example.com|+44 20 7946 0000|"
              "CTO at Acme,Countess,Royal Society|people/c10");  // no name: its resource name
    EXPECT_EQ(read[5].photoURL, std::nullopt);
    EXPECT_EQ(tokensHanded, 1);
}
TEST_F(ContactsTest, ClientRefreshesAnExpiredTokenOnceOnly) {
    server.people().setConnections("t1", peopleData("p", 3));
    server.people().expireOnce("t1");
    EXPECT_EQ(client("t1").list().size(), 3u);
    EXPECT_EQ(tokensHanded, 2);
    EXPECT_THROW_WITH(client("unknown").list(), IntegrationError, "People API failed for \u201cWork\u201d (HTTP 401)");
    EXPECT_EQ(tokensHanded, 4);
    server.people().answerWith("t1", 403);
    EXPECT_THROW(client("t1").list(), IntegrationError);
    EXPECT_EQ(tokensHanded, 5);                       // no refresh for anything but 401
    env.set("BRINDLE_PEOPLE_URL", "people.example");  // not a URL: a clear error, no request
    EXPECT_THROW(client("t1").list(), IntegrationError);
}
TEST_F(ContactsTest, RepeatedPageTokenStopsTheListing) {  // at once or after a detour
    for (const std::vector<std::string>& tokens : {std::vector<std::string>{"again", "again"}, {"a", "b", "a"}}) {
        for (const std::string& token : tokens) {
            json page{{"connections", json::array()}, {"nextPageToken", token}};
            server.injectFault("/v1/people/me/connections", {devserver::Fault::Kind::Status, 200, page.dump(), {}});
        }
        size_t before = pageRequests();
        EXPECT_THROW_WITH(
            client("t1").list(), IntegrationError,
            "People API for \u201cWork\u201d sent the same page token twice; stopped reading its contacts.");
        EXPECT_EQ(pageRequests() - before, tokens.size());
    }
}

GoogleContact record(const std::string& name, std::vector<std::string> emails, std::string phone = "",
                     std::string notes = "") {
    return {.account = "acct",
            .resourceName = "people/" + name,
            .displayName = name,
            .givenName = name + "-given",
            .emails = std::move(emails),
            .phones = phone.empty() ? std::vector<std::string>{} : std::vector{phone},
            .notes = std::move(notes)};
}
TEST_F(ContactsTest, MergeJoinsChainsAndKeepsFirstSeenOrder) {
    EXPECT_TRUE(ContactsMerge::merge({}).empty());
    auto merged = ContactsMerge::merge(
        {record("A", {"1@x"}, "+1 555", ""), record("Solo", {}), record("B", {"2@x"}, "+1555", "B's notes"),
         record("Ccccc", {"1@x", "2@x"}, "+1 555"), record("Solo", {}), record("DD", {"3@x"}), record("EE", {"3@x"})});
    ASSERT_EQ(merged.size(), 4u);
    ASSERT_EQ(merged[0].sources.size(), 3u);
    EXPECT_EQ(
        Text::joined({merged[0].displayName, merged[0].givenName, merged[0].notes, Text::joined(merged[0].emails, ","),
                      Text::joined(merged[0].phones, ","), merged[0].sources[1].at("resource_name")},
                     "|"),
        "Ccccc|Ccccc-given|B's notes|1@x,2@x|+1 555,+1555|people/B");
    // no address: never merged by name; equal lengths keep the first
    EXPECT_EQ(merged[1].displayName + merged[2].displayName + merged[3].displayName, "SoloSoloDD");
}

MergedContact person(const std::string& name, const std::string& email, std::optional<std::string> photo = {}) {
    return {.displayName = name,
            .emails = {email},
            .photoURL = std::move(photo),
            .sources = {{{"account", "Work"}, {"resource_name", "people/" + email}, {"etag", "e1"}}}};
}
TEST_F(ContactsTest, StoreWritesSortedPrettyFilesAndFindsThemAgain) {
    ContactStore store(contacts);
    EXPECT_EQ(store.upsert(person("Zoë O'Neil", "zoe@x.org", "https://p/1.jpg"), "2025-03-07T14:05:09Z"),
              ContactStore::Status::created);
    EXPECT_EQ(store.upsert(person("???", "anon@x.org"), "2025-03-07T14:05:09Z"), ContactStore::Status::created);
    store.commit();
    std::vector<std::string> files = pathsIn(contacts);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_THAT(files[0], StartsWith("contact-"));
    ASSERT_EQ(files[1].size(), std::string("zo-o-neil-12345678.json").size()) << files[1];
    fs::path zoe = contacts / files[1];
    std::string text = readFile(zoe);
    EXPECT_EQ(text, json::parse(text).dump(2) + "\n");  // pretty, keys sorted
    EXPECT_EQ(json::parse(text), json::parse(R"({"addresses": [], "created_at": "2025-03-07T14:05:09Z",
        "display_name": "Zoë O'Neil", "emails": ["zoe@x.org"], "enrichment": {}, "family_name": "", "given_name": "",
        "id": ")" + files[1].substr(10, 8) + R"(", "notes": "", "organizations": [], "phones": [],
        "photo_url": "https://p/1.jpg", "synced_at": "2025-03-07T14:05:09Z",
        "sources": [{"account": "Work", "etag": "e1", "resource_name": "people/zoe@x.org"}]})"));
    // a later run finds the file by its address, whatever its case, and keeps fields it does not know
    json edited = json::parse(readFile(zoe));
    edited["emails"] = {"  ZOE@X.org "};
    edited["sources"] = json::array();
    edited["birthday"] = "05-01";
    writeFile(zoe, edited.dump());
    writeFile(contacts / "broken.json", "{\"emails\": [\"anon@x.org\"");
    ContactStore again(contacts);
    EXPECT_EQ(again.find(person("Zoe", "zoe@x.org")), zoe);
    EXPECT_EQ(again.upsert(person("Zoë O'Neil", "zoe@x.org", "https://p/2.jpg"), "2025-03-08T00:00:00Z"),
              ContactStore::Status::updated);
    again.commit();
    json after = json::parse(readFile(zoe));  // the photo written along with the other changes
    EXPECT_EQ(after["birthday"].dump() + after["photo_url"].dump() + after["created_at"].dump(),
              R"("05-01""https://p/2.jpg""2025-03-07T14:05:09Z")");
    EXPECT_EQ(readFile(contacts / "broken.json"), "{\"emails\": [\"anon@x.org\"");
}

class PlaudSyncTest : public ::testing::Test {
protected:
    PlaudSync importer() {
        return PlaudSync(meetings,
                         [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1741356309)); });
    }
    std::string daysAsked(std::optional<int> days = std::nullopt) {
        importer().run(false, days);
        std::string last;
        for (auto& call : plaud.calls())
            if (call.starts_with("recent")) last = call;
        return last;
    }

    IsolatedHome home;
    FakePlaud plaud;
    ScopedEnv env{"LARDER_PLAUD", plaud.path()};
    TempDir folder;
    fs::path meetings = folder / "Meetings";
};

TEST_F(PlaudSyncTest, LooksBackFromTheNewestDatedNote) {  // "now" is 2025-03-07T14:05:09Z
    EXPECT_EQ(daysAsked(), "recent --days 2");            // no notes yet
    for (auto [name, content] : Tree{{"notes.md", "not dated"}, {"README.md", "short"}, {"2025-02-25-a.md", "10 days"}})
        writeFile(meetings / name, content);
    EXPECT_EQ(daysAsked(), "recent --days 12");
    fs::remove(meetings / "2025-02-25-a.md");
    writeFile(meetings / "2023-03-07-old.md", "two years old");
    EXPECT_EQ(daysAsked(), "recent --days 367");
    writeFile(meetings / "2025-13-45-odd.md", "bad date");  // the greatest prefix decides, even when it is no date
    EXPECT_EQ(importer().daysSinceNewestNote(), 0);
    EXPECT_EQ(daysAsked(), "recent --days 2");
    EXPECT_EQ(daysAsked(30), "recent --days 30");
}
TEST_F(PlaudSyncTest, WritesTheNoteLayoutExactly) {
    plaud.setRecent("Recent recordings:\n  " + hexID(1) + "  He said\n");
    plaud.addRecording(hexID(1), "Name: He said \"hi\" — Café\nCreated_At: 2025-03-01T09:00:00Z\n", "  The summary.\n",
                       "Speaker 1: hello\nSpeaker 2: hi\n\n");
    EXPECT_EQ(importer().run(false).written, 1);
    EXPECT_EQ(readFile(meetings / "2025-03-01-he-said-hi-caf.md"),
              "---\ntitle: \"He said 'hi' — Café\"\ndate: 2025-03-01\nplaud_id: " + hexID(1) +
                  "\nsource: plaud\nsynced_at: 2025-03-07T14:05:09Z\n---\n\n# He said \"hi\" — Café\n\n"
                  "## Summary\n\nThe summary.\n\n## Transcript\n\nSpeaker 1: hello\nSpeaker 2: hi\n");
}
TEST_F(PlaudSyncTest, ReadsTitlesDatesIDsAndSlugs) {
    using Parsed = std::pair<std::string, std::string>;
    PlaudSync sync = importer();
    EXPECT_EQ(sync.parseDetails("Title - Other\nname:   Weekly sync  \ncreated_at: 2024-12-31 10:00", "x"),
              Parsed("Weekly sync", "2024-12-31"));
    EXPECT_EQ(sync.parseDetails("TITLE: Board call\nrecorded 2024-11-05 at noon\n", "x"),
              Parsed("Board call", "2024-11-05"));
    // Neither a title nor a date: the id names it, today dates it.
    EXPECT_EQ(sync.parseDetails("duration: 12m\n", "abc"), Parsed("Plaud recording abc", "2025-03-07"));

    std::string text = hexID(3) + " first\nof_" + hexID(4) + " twin\n" + hexID(3) + " again\nX" + hexID(5) +
                       " glued to a letter\n" + hexID(6).substr(1) + " too short\nABCDEF" + hexID(7).substr(6) +
                       " upper case\n";
    EXPECT_EQ(PlaudSync::extractIDs(text), (std::vector<std::string>{hexID(3), "of_" + hexID(4)}));

    auto slug = [](const std::string& title) { return NoteText::slugify(title, 60); };
    EXPECT_EQ(Text::joined({slug("Q3 Planning — Café & Budget!"), slug("?!… —"), slug("Встреча команды"),
                            slug(std::string(59, 'a') + " bcd"), slug(std::string(100, 'z'))},
                           "|"),  // cut at 60, a "-" at the cut dropped
              "q3-planning-caf-budget|untitled|untitled|" + std::string(59, 'a') + "|" + std::string(60, 'z'));
}
TEST_F(PlaudSyncTest, SkipsRecordingsThatHaveNotesAndNumbersNamesThatClash) {
    writeFile(meetings / "2025-03-01-old.md", "---\nplaud_id: " + hexID(8) + "\n---\n");
    const fs::path base = meetings / "2025-03-02-weekly-sync";
    plaud.setRecent("of_" + hexID(8) + "\n" + hexID(9) + "\n" + hexID(10) + "\n");
    plaud.addRecording(hexID(10), "name: Weekly sync\ncreated_at: 2025-03-02\n", "sum", "");
    // files of the same name appear while the recording is fetched
    plaud.beforeCommand("summary", hexID(10),
                        "echo mine > '" + base.string() + ".md'; echo also mine > '" + base.string() + "-2.md'");
    PlaudSync::Result result = importer().run(false);  // hexID(9) has no details
    EXPECT_EQ(std::tuple(result.found, result.written, result.notReady), std::tuple(3, 1, 1));
    for (auto& call : plaud.calls()) EXPECT_THAT(call, Not(HasSubstr(hexID(8))));
    EXPECT_EQ(readFile(base.string() + ".md") + readFile(base.string() + "-2.md"), "mine\nalso mine\n");
    EXPECT_THAT(readFile(base.string() + "-3.md"), HasSubstr("plaud_id: " + hexID(10)));
}
TEST_F(PlaudSyncTest, BackfillReadsPagesUntilNothingIsNew) {
    for (int page : {1, 2, 3, 4})  // page 3 only repeats: the end
        plaud.setPage(page, hexID(10 + page) + "\n" + (page < 3 ? hexID(11 + page) + "\n" : ""));
    std::vector<std::string> progress;
    EXPECT_EQ(importer().run(true, std::nullopt, [&](const std::string& line) { progress.push_back(line); }).found, 3);
    EXPECT_EQ(progress, (std::vector<std::string>{"Listed 2 recordings\u2026", "Listed 3 recordings\u2026"}));
    EXPECT_EQ(plaud.calls()[1], "files --page 1 --page-size 50");
}
TEST_F(PlaudSyncTest, FailuresOfTheToolReadClearlyAndOutputWithoutIDsIsNotFatal) {
    plaud.setRecent("Something entirely different\n");
    EXPECT_EQ(importer().run(false).found, 0);
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Plaud: output had no recording IDs; format may have changed"));
    auto failure = [&] {
        try {
            importer().run(false);
        } catch (const IntegrationError& failure) {
            return std::string(failure.notConfigured() ? "not configured: " : "") + failure.what();
        }
        return std::string("(nothing thrown)");
    };
    plaud.failRecent("\n  rate limited  \n");
    EXPECT_EQ(failure(), "plaud recent failed: rate limited");
    plaud.signOut();
    EXPECT_EQ(failure(), "not configured: Not signed in to Plaud. Run `plaud login` in Terminal.");
    // Nowhere to be found: not given, not on the search path, not in the home.
    ScopedEnv nowhere({{"LARDER_PLAUD", std::nullopt}, {"PATH", "/nonexistent"}, {"SHELL", "/bin/sh"}});
    EXPECT_EQ(failure(),
              "not configured: The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login");
}
TEST_F(PlaudSyncTest, HugeAndInvalidOutputStillMakesValidNotes) {
    std::string transcript(size_t{10} << 20, 'x');
    plaud.setRecent(hexID(15) + "\n" + hexID(16) + "\n");
    plaud.addRecording(hexID(15), "name: Marathon\ncreated_at: 2025-03-03\n", "", transcript);
    plaud.addRecording(hexID(16), "name: Bad \xff\xfe bytes\ncreated_at: 2025-03-04\n", "sum \xc3", "");
    writeFile(meetings / "2025-01-01-binary.md", "\xff\xfe not text plaud_id: x\n");
    EXPECT_EQ(importer().run(false).written, 2);
    EXPECT_THAT(readFile(meetings / "2025-03-03-marathon.md"), HasSubstr(transcript));
    EXPECT_THAT(readFile(meetings / "2025-03-04-bad-bytes.md"), HasSubstr("# Bad \xef\xbf\xbd\xef\xbf\xbd bytes\n"));
    EXPECT_THAT(readFile(meetings / "2025-01-01-binary.md"), StartsWith("\xff\xfe"));  // left alone
}

}  // namespace
}  // namespace brindle::test
