#include <gtest/gtest.h>

#include <cstdlib>

#include "devserver/DevServer.h"
#include "devserver/PeopleService.h"
#include "integrations/ContactStore.h"
#include "integrations/ContactsMerge.h"
#include "integrations/GoogleContactsClient.h"
#include "integrations/IntegrationError.h"
#include "support/Expect.h"
#include "support/PeopleData.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::readFile;
using test::writeFile;

class ContactsTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        env.set("BRINDLE_PEOPLE_URL", server.url() + "/");
    }

    GoogleContactsClient client(const std::string& token) {
        return GoogleContactsClient("Work", [this, token] {
            ++tokensHanded;
            return token;
        });
    }

    test::IsolatedHome home;
    devserver::DevServer server;
    test::ScopedEnv env;
    test::TempDir folder;
    fs::path contacts = folder / "Contacts";
    int tokensHanded = 0;
};

TEST_F(ContactsTest, ClientReadsEveryPageAndFlattensPeople) {
    std::vector<json> people = test::peopleData("p", 4);
    people.push_back(json::parse(R"({
        "resourceName": "people/c9", "etag": "e9",
        "names": [{"displayName": "Plain", "givenName": "P"},
                  {"displayName": "Dr. Ada Lovelace", "givenName": "Ada", "familyName": "Lovelace",
                   "metadata": {"primary": true}}],
        "emailAddresses": [{"value": "  Ada@Example.COM \n"}, {"value": ""}, {"type": "no value"}],
        "phoneNumbers": [{"value": " +44 20 7946 0000 "}],
        "organizations": [{"name": "Acme", "title": "CTO"}, {"title": "Countess"}, {"name": "Royal Society"}, {}],
        "addresses": [{"formattedValue": "12 St James's Square\nLondon"}],
        "biographies": [{"value": "First"}, {"value": "Second"}],
        "photos": [{"url": "https://x/default.png", "default": true}, {"url": "https://x/ada.png"}]})"));
    people.push_back(json::parse(R"({"resourceName": "people/c10", "photos": [{"url": "d", "default": true}]})"));
    server.people().setConnections("t1", people);
    server.people().setPageSize(2);

    std::vector<GoogleContact> read = client("t1").list();
    ASSERT_EQ(read.size(), 6u);
    EXPECT_EQ(server.requestsTo("/v1/people/me/connections").size(), 3u);
    EXPECT_EQ(read[0].displayName, "p Person 0");
    const GoogleContact& ada = read[4];
    EXPECT_EQ(ada.account, "Work");
    EXPECT_EQ(ada.displayName, "Dr. Ada Lovelace");
    EXPECT_EQ(ada.familyName, "Lovelace");
    EXPECT_EQ(ada.emails, std::vector<std::string>{"ada@example.com"});
    EXPECT_EQ(ada.phones, std::vector<std::string>{"+44 20 7946 0000"});
    EXPECT_EQ(ada.organizations, (std::vector<std::string>{"CTO at Acme", "Countess", "Royal Society"}));
    EXPECT_EQ(ada.notes, "First");
    EXPECT_EQ(ada.photoURL, "https://x/ada.png");
    EXPECT_EQ(read[5].displayName, "people/c10");  // no name: its resource name
    EXPECT_EQ(read[5].photoURL, std::nullopt);
    EXPECT_EQ(tokensHanded, 1);
}

TEST_F(ContactsTest, ClientRefreshesAnExpiredTokenOnceOnly) {
    server.people().setConnections("t1", test::peopleData("p", 3));
    server.people().expireOnce("t1");
    EXPECT_EQ(client("t1").list().size(), 3u);
    EXPECT_EQ(tokensHanded, 2);

    tokensHanded = 0;
    EXPECT_THROW_WITH(client("unknown").list(), IntegrationError, "People API failed for \u201cWork\u201d (HTTP 401)");
    EXPECT_EQ(tokensHanded, 2);

    tokensHanded = 0;
    server.people().answerWith("t1", 403);
    EXPECT_THROW(client("t1").list(), IntegrationError);
    EXPECT_EQ(tokensHanded, 1);  // no refresh for anything but 401

    env.set("BRINDLE_PEOPLE_URL", "people.example");  // not a URL: a clear error, no request
    EXPECT_THROW(client("t1").list(), IntegrationError);
}

GoogleContact record(const std::string& name, std::vector<std::string> emails, std::string phone = "",
                     std::string notes = "") {
    GoogleContact contact;
    contact.account = "acct";
    contact.resourceName = "people/" + name;
    contact.displayName = name;
    contact.givenName = name + "-given";
    contact.emails = std::move(emails);
    if (!phone.empty()) contact.phones = {phone};
    contact.notes = std::move(notes);
    return contact;
}

TEST_F(ContactsTest, MergeJoinsChainsAndKeepsFirstSeenOrder) {
    EXPECT_TRUE(ContactsMerge::merge({}).empty());
    auto merged = ContactsMerge::merge({
        record("A", {"1@x"}, "+1 555", ""),
        record("Solo", {}),
        record("B", {"2@x"}, "+1555", "B's notes"),
        record("Ccccc", {"1@x", "2@x"}, "+1 555"),
        record("Solo", {}),
        record("DD", {"3@x"}),
        record("EE", {"3@x"}),
    });
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].displayName, "Ccccc");
    EXPECT_EQ(merged[0].givenName, "Ccccc-given");
    EXPECT_EQ(merged[0].emails, (std::vector<std::string>{"1@x", "2@x"}));
    EXPECT_EQ(merged[0].phones, (std::vector<std::string>{"+1 555", "+1555"}));
    EXPECT_EQ(merged[0].notes, "B's notes");
    ASSERT_EQ(merged[0].sources.size(), 3u);
    EXPECT_EQ(merged[0].sources[1].at("resource_name"), "people/B");
    EXPECT_EQ(merged[1].displayName, "Solo");  // no address: never merged by name
    EXPECT_EQ(merged[2].displayName, "Solo");
    EXPECT_EQ(merged[3].displayName, "DD");  // equal lengths keep the first
}

MergedContact person(const std::string& name, const std::string& email, std::optional<std::string> photo = {}) {
    MergedContact merged;
    merged.displayName = name;
    merged.emails = {email};
    merged.photoURL = std::move(photo);
    merged.sources = {{{"account", "Work"}, {"resource_name", "people/" + email}, {"etag", "e1"}}};
    return merged;
}

TEST_F(ContactsTest, StoreWritesSortedPrettyFilesAndFindsThemAgain) {
    ContactStore store(contacts);
    EXPECT_EQ(store.upsert(person("Zoë O'Neil", "zoe@x.org", "https://p/1.jpg"), "2025-03-07T14:05:09Z"),
              ContactStore::Status::created);
    EXPECT_EQ(store.upsert(person("???", "anon@x.org"), "2025-03-07T14:05:09Z"), ContactStore::Status::created);
    store.commit();
    std::vector<fs::path> files;
    for (auto& entry : fs::directory_iterator(contacts)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].filename().string().starts_with("contact-"));
    std::string name = files[1].filename().string();
    ASSERT_EQ(name.size(), std::string("zo-o-neil-12345678.json").size()) << name;
    std::string id = name.substr(10, 8);
    EXPECT_EQ(
        readFile(files[1]),
        "{\n  \"addresses\": [],\n  \"created_at\": \"2025-03-07T14:05:09Z\",\n  \"display_name\": \"Zoë O'Neil\",\n"
        "  \"emails\": [\n    \"zoe@x.org\"\n  ],\n  \"enrichment\": {},\n  \"family_name\": \"\",\n"
        "  \"given_name\": \"\",\n  \"id\": \"" +
            id +
            "\",\n  \"notes\": \"\",\n  \"organizations\": [],\n"
            "  \"phones\": [],\n  \"photo_url\": \"https://p/1.jpg\",\n  \"sources\": [\n    {\n"
            "      \"account\": \"Work\",\n      \"etag\": \"e1\",\n      \"resource_name\": \"people/zoe@x.org\"\n"
            "    }\n  ],\n  \"synced_at\": \"2025-03-07T14:05:09Z\"\n}\n");

    // A later run finds the file by its address, whatever its case.
    json edited = json::parse(readFile(files[1]));
    edited["emails"] = {"  ZOE@X.org "};
    edited["sources"] = json::array();
    edited["birthday"] = "05-01";
    writeFile(files[1], edited.dump());
    writeFile(contacts / "broken.json", "{\"emails\": [\"anon@x.org\"");
    ContactStore again(contacts);
    EXPECT_EQ(again.find(person("Zoe", "zoe@x.org")), files[1]);
    EXPECT_EQ(again.upsert(person("Zoë O'Neil", "zoe@x.org", "https://p/2.jpg"), "2025-03-08T00:00:00Z"),
              ContactStore::Status::updated);
    again.commit();
    json after = json::parse(readFile(files[1]));
    EXPECT_EQ(after["birthday"], "05-01");
    EXPECT_EQ(after["photo_url"], "https://p/2.jpg");  // written along with the other changes
    EXPECT_EQ(after["created_at"], "2025-03-07T14:05:09Z");
    EXPECT_EQ(readFile(contacts / "broken.json"), "{\"emails\": [\"anon@x.org\"");
}

TEST_F(ContactsTest, OnlyRealChangesRewriteAFile) {
    ContactStore store(contacts);
    store.upsert(person("Ann", "ann@x.org", "https://p/1.jpg"), "2025-03-07T14:05:09Z");
    store.commit();
    fs::path file = *store.find(person("Ann", "ann@x.org"));
    std::string written = readFile(file);
    EXPECT_EQ(store.upsert(person("Ann", "ann@x.org", "https://p/new.jpg"), "later"), ContactStore::Status::unchanged);
    EXPECT_EQ(store.upsert(person("Ann", "ann@x.org", "https://p/1.jpg"), "later"), ContactStore::Status::unchanged);
    EXPECT_EQ(readFile(file), written);

    store.upsert(person("Bob", "bob@x.org"), "t0");
    fs::path bob = *store.find(person("Bob", "bob@x.org"));
    EXPECT_EQ(store.upsert(person("Bob", "bob@x.org", "https://p/bob.jpg"), "t1"), ContactStore::Status::updated);
    store.commit();
    EXPECT_EQ(json::parse(readFile(bob))["photo_url"], "https://p/bob.jpg");
    EXPECT_NE(readFile(home.logFile()).find("Contact " + bob.filename().string() + " changed: photo_url"),
              std::string::npos);
}

}  // namespace
}  // namespace brindle
