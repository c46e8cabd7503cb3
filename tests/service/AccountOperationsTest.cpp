#include "ServiceFixture.h"

using namespace brindle;
using Brindle::Problem;
using nlohmann::json;
using test::failureOf;

namespace {

class AccountOperationsTest : public test::ServiceFixture {
protected:
    void serveConfig(const json& config) { answer("/api/v1/config", 200, config.dump()); }
};

}  // namespace

TEST_F(AccountOperationsTest, StoreListFollowsTheFirstRuleThatApplies) {
    const std::pair<json, std::vector<std::string>> cases[] = {
        {{{"larder", {{"stores", {{{"provider", "dropbox"}}, json::object(), {{"provider", "github"}}}}}}},
         {"dropbox", "github"}},
        {{{"larder", {{"stores", json::array()}, {"connected", true}, {"provider", "dropbox"}}}}, {"dropbox"}},
        {{{"larder", {{"stores", {json::object()}}, {"connected", true}, {"provider", "dropbox"}}}}, {}},
        {{{"larder", {{"connected", false}, {"provider", "dropbox"}}},
          {"connections", {{"github", {{"connected", true}}}}}},
         {"github"}},
        {{{"larder", "nonsense"}, {"connections", {{"github", {{"connected", "yes"}}}}}}, {}},
    };
    for (const auto& [config, stores] : cases) {
        serveConfig(config);
        EXPECT_EQ(Brindle::stores(account), stores) << config.dump();
    }
}

TEST_F(AccountOperationsTest, ConfigReadsDrivesAndGoogleAccounts) {
    const std::string id = "0c6e2d9a-1f3b-4c5d-8e7f-a0b1c2d3e4f5";
    // an id that is not a lower-case UUID would name files outside the state folder
    serveConfig({{"drives",
                  {{{"drive_id", id}, {"label", "Blue"}},
                   {{"drive_id", "d2"}},
                   "x",
                   {{"drive_id", "../../evil"}, {"label", "Evil"}},
                   {{"drive_id", "0C6E2D9A-1F3B-4C5D-8E7F-A0B1C2D3E4F5"}, {"label", "Upper"}}}}});
    EXPECT_EQ(Brindle::larderConfig(account).drives, (std::vector<Brindle::Drive>{{id, "Blue"}}));
    serveConfig({{"connections",
                  {{"google_accounts", {{{"account", "a@x.org"}, {"label", "Work"}}, {{"label", "none"}}}},
                   {"google", {"ignored@x.org"}}}}});
    EXPECT_EQ(Brindle::googleAccounts(account), (std::vector<Brindle::GoogleAccount>{{"a@x.org", "Work"}}));
    serveConfig({{"connections", {{"google", {"b@x.org", 7}}}}});
    EXPECT_EQ(Brindle::googleAccounts(account), (std::vector<Brindle::GoogleAccount>{{"b@x.org", ""}}));

    env.set("BRINDLE_URL", "http://127.0.0.1:1");  // the account's own server answers, not the default
    server.clearRequests();
    EXPECT_NO_THROW(Brindle::larderConfig(account));
    EXPECT_EQ(server.requestsTo("/api/v1/config").size(), 1u);
}

TEST_F(AccountOperationsTest, StatusRulesOfConfigAndTheConnectedRepository) {
    answer("/api/v1/config", 401, "", 4);
    for (auto call : {+[](const Brindle::Account& a) { Brindle::stores(a); },
                      +[](const Brindle::Account& a) { Brindle::larderConfig(a); },
                      +[](const Brindle::Account& a) { Brindle::googleAccounts(a); },
                      +[](const Brindle::Account& a) { Brindle::connectedRepo(a); }}) {
        Brindle::Failure failure = failureOf([&] { call(account); });
        EXPECT_EQ(failure.problem(), Problem::signedOut);
        EXPECT_STREQ(failure.what(), "You're signed out of Brindle. Choose Sign In to Brindle\u2026 from the menu.");
    }
    answer("/api/v1/config", 502, "<html/>");
    EXPECT_EQ(failureOf([&] { Brindle::larderConfig(account); }).message(), "Brindle couldn't be reached (HTTP 502).");

    EXPECT_EQ(Brindle::connectedRepo(account), "demo/Larder");
    answer("/api/v1/config", 500, json{{"connections", {{"github", {{"connected", true}, {"repo", "a/b"}}}}}}.dump());
    EXPECT_EQ(Brindle::connectedRepo(account), "a/b");
    answer("/api/v1/config", 500, "oops");
    EXPECT_EQ(Brindle::connectedRepo(account), std::nullopt);
    service().setGitHubRepo(std::nullopt);
    EXPECT_EQ(Brindle::connectedRepo(account), std::nullopt);
}

TEST_F(AccountOperationsTest, GoogleTokenAndItsMessages) {
    service().setGoogleToken("a@x.org", "ya29.token");
    EXPECT_EQ(Brindle::googleToken("a@x.org", account), "ya29.token");
    EXPECT_EQ(json::parse(server.requestsTo("/api/v1/google/token").at(0).body), (json{{"account", "a@x.org"}}));

    service().setGoogleError("a@x.org", "google_needs_reconnect");
    auto message = [&](const std::string& who) {
        return failureOf([&] { Brindle::googleToken(who, account); }).message();
    };
    EXPECT_EQ(message("a@x.org"), "Google needs you to reconnect a@x.org. Do that on brindle.app/connections.");
    EXPECT_EQ(message("b@x.org"), "b@x.org isn't connected any more. Connect it on brindle.app/connections.");
    answer("/api/v1/google/token", 200, "{\"token\": 5}");
    EXPECT_EQ(message("a@x.org"), "Brindle couldn't get access to a@x.org (HTTP 200).");
    answer("/api/v1/google/token", 401);
    EXPECT_EQ(failureOf([&] { Brindle::googleToken("a@x.org", account); }).problem(), Problem::signedOut);
}

TEST_F(AccountOperationsTest, ReportsSendBothListsAndNeverThrow) {
    Brindle::report(account, {}, {});
    EXPECT_TRUE(server.requests().empty());
    json event{{"store", "GitHub"}, {"kind", "uploaded"}, {"path", "a.txt"}, {"bytes", 3}};
    Brindle::report(account, {event}, {});
    Brindle::report(account, {}, {{{"store", "GitHub"}, {"state", "syncing"}}});
    auto reports = service().reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], (json{{"events", {event}}, {"status", json::array()}}));
    EXPECT_EQ(reports[1]["status"][0]["state"], "syncing");

    answer("/api/v1/sync/report", 500);
    EXPECT_NO_THROW(Brindle::report(account, {event}, {}));
    EXPECT_NO_THROW(Brindle::report({"http://127.0.0.1:1", "t"}, {event}, {}));
    EXPECT_NO_THROW(Brindle::report(account, {{{"path", std::string("\xff")}}}, {}));
}
