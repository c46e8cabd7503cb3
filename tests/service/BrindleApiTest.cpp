#include "ServiceFixture.h"
#include "service/HTTP.h"

using namespace brindle;
using nlohmann::json;

using BrindleApiTest = test::ServiceFixture;

TEST_F(BrindleApiTest, SendsTheServiceHeadersAndBodyToTheServerWithoutTrailingSlashes) {
    env.set("BRINDLE_URL", server.url() + "//");
    Brindle::api("POST", "/api/v1/sync/report", account, json{{"events", {1, 2}}});
    Brindle::api("POST", "/api/v1/device/code");
    auto sent = server.requests();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].path, "/api/v1/sync/report");
    EXPECT_EQ(sent[0].header("Accept") + " " + sent[0].header("Content-Type"), "application/json application/json");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer device-token-1");
    EXPECT_EQ(json::parse(sent[0].body), (json{{"events", {1, 2}}}));
    EXPECT_EQ(sent[1].header("Authorization") + sent[1].body, "");
    env.set("BRINDLE_URL", std::nullopt);
    EXPECT_EQ(Brindle::serverURL(), Brindle::kDefaultServer);
}

TEST_F(BrindleApiTest, BadAnswersReadAsEmptyCutOnesFailInTransportAndBadBodiesBeforeSending) {
    for (const char* body : {"<html>Internal error</html>", "", "[1,2]", "\"text\"", "{\"cut\": "}) {
        answer("/api/v1/config", 500, body);
        Brindle::Answer answer = Brindle::api("GET", "/api/v1/config", account);
        EXPECT_EQ(answer.status, 500) << body;
        EXPECT_EQ(answer.json, json::object()) << body;
    }
    server.injectFault("/api/v1/config", devserver::Fault{devserver::Fault::Kind::Drop, 0, "", {}});
    EXPECT_THROW(Brindle::larderConfig(account), HTTP::TransportError);  // not a service failure
    server.clearRequests();
    EXPECT_THROW(Brindle::api("POST", "/api/v1/sync/report", account, json{{"path", std::string("bad \xff")}}), Error);
    EXPECT_TRUE(server.requests().empty());
}
