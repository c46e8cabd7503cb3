#include "ServiceFixture.h"

using namespace brindle;
using Brindle::Problem;
using nlohmann::json;
using test::failureOf;

using AccountOperationsTest = test::ServiceFixture;

TEST_F(AccountOperationsTest, StoreListFollowsTheFirstRuleThatApplies) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {R"({"larder": {"stores": [{"provider": "dropbox"}, {}, {"provider": "github"}]}})", {"dropbox", "github"}},
        {R"({"larder": {"stores": [], "connected": true, "provider": "dropbox"}})", {"dropbox"}},
        {R"({"larder": {"stores": [{}], "connected": true, "provider": "dropbox"}})", {}},
        {R"({"larder": {"connected": false}, "connections": {"github": {"connected": true}}})", {"github"}},
    };
    for (const auto& [config, stores] : cases) {
        answer("/api/v1/config", 200, config);
        EXPECT_EQ(Brindle::stores(account), stores) << config;
    }
}

// A drive id that is not a lower-case UUID would name files outside the state folder.
TEST_F(AccountOperationsTest, ConfigReadsSafeDriveIdsAndGoogleAccountsFromTheAccountsOwnServer) {
    const std::string id = "0c6e2d9a-1f3b-4c5d-8e7f-a0b1c2d3e4f5", upper = "0C6E2D9A-1F3B-4C5D-8E7F-A0B1C2D3E4F5";
    answer("/api/v1/config", 200,
           R"({"drives": [{"drive_id": ")" + id + R"(", "label": "Blue"}, {"drive_id": "d2"}, "x",
               {"drive_id": "../../evil", "label": "Evil"}, {"drive_id": ")" +
               upper + R"(", "label": "Upper"}]})");
    env.set("BRINDLE_URL", "http://127.0.0.1:1");  // dead: the account's server answers
    EXPECT_EQ(Brindle::larderConfig(account).drives, (std::vector<Brindle::Drive>{{id, "Blue"}}));
    answer("/api/v1/config", 200,
           R"({"connections": {"google_accounts": [{"account": "a@x.org", "label": "Work"}, {"label": "none"}],
                                "google": ["ignored@x.org"]}})");
    EXPECT_EQ(Brindle::googleAccounts(account), (std::vector<Brindle::GoogleAccount>{{"a@x.org", "Work"}}));
    answer("/api/v1/config", 200, R"({"connections": {"google": ["b@x.org", 7]}})");
    EXPECT_EQ(Brindle::googleAccounts(account), (std::vector<Brindle::GoogleAccount>{{"b@x.org", ""}}));
}

TEST_F(AccountOperationsTest, StatusRulesOfConfigTheConnectedRepositoryAndGoogleTokens) {
    answer("/api/v1/config", 401);
    EXPECT_STREQ(failureOf([&] { Brindle::stores(account); }).what(),
                 "You're signed out of Brindle. Choose Sign In to Brindle\u2026 from the menu.");
    answer("/api/v1/config", 502, "<html/>");
    EXPECT_EQ(failureOf([&] { Brindle::larderConfig(account); }).message(), "Brindle couldn't be reached (HTTP 502).");
    answer("/api/v1/config", 500, json{{"connections", {{"github", {{"connected", true}, {"repo", "a/b"}}}}}}.dump());
    EXPECT_EQ(Brindle::connectedRepo(account), "a/b");
    answer("/api/v1/config", 500, "oops");
    EXPECT_EQ(Brindle::connectedRepo(account), std::nullopt);
    answer("/api/v1/config", 401);
    EXPECT_EQ(failureOf([&] { Brindle::connectedRepo(account); }).problem(), Problem::signedOut);
    service().setGoogleToken("a@x.org", "ya29.token");
    EXPECT_EQ(Brindle::googleToken("a@x.org", account), "ya29.token");
    service().setGoogleError("a@x.org", "google_needs_reconnect");
    auto message = [&](const std::string& who) {
        return failureOf([&] { Brindle::googleToken(who, account); }).message();
    };
    EXPECT_EQ(message("a@x.org"), "Google needs you to reconnect a@x.org. Do that on brindle.app/connections.");
    EXPECT_EQ(message("b@x.org"), "b@x.org isn't connected any more. Connect it on brindle.app/connections.");
    answer("/api/v1/google/token", 200, "{\"token\": 5}");
    EXPECT_EQ(message("a@x.org"), "Brindle couldn't get access to a@x.org (HTTP 200).");
}

TEST_F(AccountOperationsTest, ReportsSendBothListsAndNeverThrow) {
    Brindle::report(account, {}, {});
    EXPECT_TRUE(server.requests().empty());
    json event{{"store", "GitHub"}, {"kind", "uploaded"}, {"path", "a.txt"}, {"bytes", 3}};
    Brindle::report(account, {event}, {});
    EXPECT_EQ(service().reports(), std::vector<json>{(json{{"events", {event}}, {"status", json::array()}})});
    answer("/api/v1/sync/report", 500);
    EXPECT_NO_THROW(Brindle::report(account, {event}, {}));
    EXPECT_NO_THROW(Brindle::report({"http://127.0.0.1:1", "t"}, {event}, {}));
}
