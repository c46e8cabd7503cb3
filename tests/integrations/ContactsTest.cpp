#include <gtest/gtest.h>

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

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
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
    EXPECT_EQ(pageRequests(), 3u);
    EXPECT_EQ(read[0].displayName, "p Person 0");
    const GoogleContact& ada = read[4];
    EXPECT_EQ(ada.account + "|" + ada.displayName + "|" + ada.familyName + "|" + ada.notes + "|" + *ada.photoURL,
              "Work|Dr. Ada Lovelace|Lovelace|First|https://x/ada.png");
    EXPECT_EQ(ada.emails, std::vector<std::string>{"ada@example.com"});
    EXPECT_EQ(ada.phones, std::vector<std::string>{"+44 20 7946 0000"});
    EXPECT_EQ(ada.organizations, (std::vector<std::string>{"CTO at Acme", "Countess", "Royal Society"}));
    EXPECT_EQ(read[5].displayName, "people/c10");  // no name: its resource name
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

// Tokens that come back, at once or after a detour, would list for ever.
TEST_F(ContactsTest, RepeatedPageTokenStopsTheListing) {
    for (const std::vector<std::string>& tokens : {std::vector<std::string>{"again", "again"}, {"a", "b", "a"}}) {
        // Pages after these would come from the stand-in itself, which knows no such tokens.
        for (const std::string& token : tokens)
            server.injectFault("/v1/people/me/connections",
                               {devserver::Fault::Kind::Status,
                                200,
                                json{{"connections", json::array()}, {"nextPageToken", token}}.dump(),
                                {}});
        size_t before = pageRequests();
        EXPECT_THROW_WITH(
            client("t1").list(), IntegrationError,
            "People API for \u201cWork\u201d sent the same page token twice; stopped reading its contacts.");
        EXPECT_EQ(pageRequests() - before, tokens.size());
    }
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
    auto merged = ContactsMerge::merge(
        {record("A", {"1@x"}, "+1 555", ""), record("Solo", {}), record("B", {"2@x"}, "+1555", "B's notes"),
         record("Ccccc", {"1@x", "2@x"}, "+1 555"), record("Solo", {}), record("DD", {"3@x"}), record("EE", {"3@x"})});
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].displayName + "|" + merged[0].givenName + "|" + merged[0].notes, "Ccccc|Ccccc-given|B's notes");
    EXPECT_EQ(merged[0].emails, (std::vector<std::string>{"1@x", "2@x"}));
    EXPECT_EQ(merged[0].phones, (std::vector<std::string>{"+1 555", "+1555"}));
    ASSERT_EQ(merged[0].sources.size(), 3u);
    EXPECT_EQ(merged[0].sources[1].at("resource_name"), "people/B");
    // no address: never merged by name; equal lengths keep the first
    EXPECT_EQ(merged[1].displayName + merged[2].displayName + merged[3].displayName, "SoloSoloDD");
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
    // A later run finds the file by its address, whatever its case, and keeps fields it does not know.
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
    json after = json::parse(readFile(zoe));
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
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Contact " + bob.filename().string() + " changed: photo_url"));
}

}  // namespace
}  // namespace brindle::test
