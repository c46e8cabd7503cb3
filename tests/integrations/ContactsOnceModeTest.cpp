#include <gtest/gtest.h>

#include "PeopleData.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/PeopleService.h"
#include "service/Brindle.h"
#include "service/Secrets.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::readFile;
using test::writeFile;

// Two Google accounts on the stand-in service: 300 and 200 people, 50 of
// them the same by address; the first account has no label.
class ContactsOnceModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        server.brindle().setGoogleAccounts({{"one@gmail.com", ""}, {"two@gmail.com", "Work"}});
        server.brindle().setGoogleToken("one@gmail.com", "google-one");
        server.brindle().setGoogleToken("two@gmail.com", "google-two");
        server.people().setConnections("google-one", test::peopleData("a", 300, 50));
        server.people().setConnections("google-two", test::peopleData("b", 200, 50));
    }

    std::map<std::string, std::string> env(bool testAccount = true) const {
        std::map<std::string, std::string> values{{"BRINDLE_PEOPLE_URL", server.url()}, {"BRINDLE_URL", server.url()}};
        if (testAccount)
            values["BRINDLE_TEST_ACCOUNT"] = json{{"server", server.url()}, {"device_token", "device-1"}}.dump();
        return values;
    }
    test::ProgramResult contactsOnce(bool testAccount = true) {
        return test::runBrindle({"--contacts-once", contacts.string()}, env(testAccount));
    }
    fs::path fileOf(const std::string& email) {
        for (auto& entry : fs::directory_iterator(contacts))
            if (readFile(entry.path()).find("\"" + email + "\"") != std::string::npos) return entry.path();
        return {};
    }

    test::IsolatedHome home;
    devserver::DevServer server;
    test::TempDir folder;
    fs::path contacts = folder / "Contacts";
};

TEST_F(ContactsOnceModeTest, ImportsMergedPeopleAndThenOnlyTheirChanges) {
    writeFile(contacts / "broken.json", "{\"emails\": [\"a299@example.com\"");
    test::ProgramResult first = contactsOnce();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "accounts 2, fetched 500, created 450, updated 0, unchanged 0\n");
    std::string log = readFile(home.logFile());
    EXPECT_NE(log.find("Contacts [one@gmail.com]: fetched 300"), std::string::npos);
    EXPECT_NE(log.find("Contacts [Work]: fetched 200"), std::string::npos);
    EXPECT_EQ(readFile(contacts / "broken.json"), "{\"emails\": [\"a299@example.com\"");  // never lost

    json shared = json::parse(readFile(fileOf("shared7@example.com")));
    EXPECT_EQ(shared["sources"].size(), 2u);
    EXPECT_EQ(shared["sources"][1]["account"], "Work");

    EXPECT_EQ(contactsOnce().out, "accounts 2, fetched 500, created 0, updated 0, unchanged 450\n");

    // A person renamed in Google, whose file a user added a key to.
    fs::path file = fileOf("a120@example.com");
    json edited = json::parse(readFile(file));
    edited["birthday"] = "1990-05-01";
    writeFile(file, edited.dump(2));
    auto people = test::peopleData("a", 300, 50);
    people[120]["names"][0]["displayName"] = "Renamed Person";
    server.people().setConnections("google-one", people);

    EXPECT_EQ(contactsOnce().out, "accounts 2, fetched 500, created 0, updated 1, unchanged 449\n");
    json after = json::parse(readFile(file));
    EXPECT_EQ(after["display_name"], "Renamed Person");
    EXPECT_EQ(after["birthday"], "1990-05-01");
    EXPECT_EQ(after["id"], edited["id"]);
    EXPECT_NE(readFile(home.logFile()).find("Contact " + file.filename().string() + " changed: display_name"),
              std::string::npos);
}

TEST_F(ContactsOnceModeTest, AFailingAccountStopsTheRunBeforeAnyFileIsWritten) {
    server.people().answerWith("google-two", 403);
    test::ProgramResult run = contactsOnce();
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with("\nerror: People API failed for \u201cWork\u201d (HTTP 403)\n")) << run.err;
    EXPECT_FALSE(fs::exists(contacts));
}

TEST_F(ContactsOnceModeTest, AnswersThatAreNotJSONEndTheListingWithoutLosingFiles) {
    ASSERT_EQ(contactsOnce().status, 0);
    devserver::Fault html;
    html.status = 200;
    html.body = "<html>Service Unavailable</html>";
    server.injectFault("/v1/people", html);  // the first account's page
    test::ProgramResult run = contactsOnce();
    ASSERT_EQ(run.status, 0) << run.err;
    // The shared people lose the unread account from their sources until the next good run.
    EXPECT_EQ(run.out, "accounts 2, fetched 200, created 0, updated 50, unchanged 150\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(contacts), fs::directory_iterator()), 450);
}

TEST_F(ContactsOnceModeTest, NotSignedInOrNothingConnectedSaysWhatToDo) {
    test::ProgramResult signedOut = contactsOnce(false);
    EXPECT_EQ(signedOut.err, "error: Sign in to Brindle in Settings\u2026 to sync contacts.\n");
    server.brindle().setGoogleAccounts({});
    test::ProgramResult none = contactsOnce();
    std::string host = server.url().substr(std::string("http://").size());
    EXPECT_EQ(none.err, "error: No Google account is connected. Connect one on " + host + "/connections.\n");
}

TEST_F(ContactsOnceModeTest, RetiresGoogleSignInsOfOlderVersions) {
    for (const char* name : {"refresh:one@gmail.com", "client-id", "client-secret", "access"})
        Secrets::set("old", name, "Larder Google");
    ASSERT_EQ(contactsOnce().status, 0);  // a test account keeps them
    Secrets::forgetCache();
    EXPECT_EQ(Secrets::accounts("Larder Google").size(), 4u);

    Brindle::storeAccount({server.url(), "device-1"});
    test::ProgramResult run = contactsOnce(false);
    ASSERT_EQ(run.status, 0) << run.err;
    Secrets::forgetCache();
    EXPECT_EQ(Secrets::accounts("Larder Google"), std::vector<std::string>{"access"});
}

}  // namespace
}  // namespace brindle
