#include "ServiceFixture.h"
#include "service/HTTP.h"

using namespace brindle;
using test::statusFault;

using BrindleApiTest = test::ServiceFixture;

TEST_F(BrindleApiTest, ServerURLLosesEverySlashAtBothEnds) {
    env.set("BRINDLE_URL", server.url() + "//");
    EXPECT_EQ(Brindle::serverURL(), server.url());
    Brindle::api("GET", "/api/v1/config", std::string("t"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/api/v1/config");

    env.set("BRINDLE_URL", std::nullopt);
    EXPECT_EQ(Brindle::serverURL(), Brindle::kDefaultServer);
    EXPECT_EQ(Brindle::defaultHost(), "brindle.app");
}

TEST_F(BrindleApiTest, SendsTheServiceHeadersAndJSONBody) {
    Brindle::api("POST", "/api/v1/sync/report", account, nlohmann::json{{"events", {1, 2}}});
    Brindle::api("POST", "/api/v1/device/code");
    auto sent = server.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer device-token-1");
    EXPECT_EQ(sent[0].header("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(sent[0].body), (nlohmann::json{{"events", {1, 2}}}));
    EXPECT_EQ(sent[1].header("Authorization"), "");
    EXPECT_EQ(sent[1].body, "");
}

TEST_F(BrindleApiTest, AnswersThatAreNotJSONObjectsReadAsEmpty) {
    for (const char* body : {"<html>Internal error</html>", "", "[1,2]", "\"text\"", "{\"cut\": "}) {
        server.injectFault("/api/v1/config", statusFault(500, body));
        Brindle::Answer answer = Brindle::api("GET", "/api/v1/config", account);
        EXPECT_EQ(answer.status, 500) << body;
        EXPECT_TRUE(answer.json.is_object() && answer.json.empty()) << body;
    }
}

TEST_F(BrindleApiTest, TransportFailuresAreNotServiceFailures) {
    devserver::Fault drop;
    drop.kind = devserver::Fault::Kind::Drop;
    server.injectFault("/api/v1/config", drop);
    EXPECT_THROW(Brindle::larderConfig(account), HTTP::TransportError);
    EXPECT_THROW(Brindle::stores({"http://127.0.0.1:1", "t"}), HTTP::TransportError);
}

TEST_F(BrindleApiTest, ABodyThatCannotBeEncodedFailsBeforeSending) {
    nlohmann::json body{{"path", std::string("bad \xff name")}};
    EXPECT_THROW(Brindle::api("POST", "/api/v1/sync/report", account, body), Error);
    EXPECT_TRUE(server.requests().empty());
}
