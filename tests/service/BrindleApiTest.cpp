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
    EXPECT_EQ(sent[0].path + " " + sent[0].header("Accept") + " " + sent[0].header("Content-Type") + " " +
                  sent[0].header("Authorization") + " " + sent[0].body,
              "/api/v1/sync/report application/json application/json Bearer device-token-1 {\"events\":[1,2]}");
    EXPECT_EQ(sent[1].header("Authorization") + sent[1].body, "");
    env.set("BRINDLE_URL", std::nullopt);
    EXPECT_EQ(Brindle::serverURL(), Brindle::kDefaultServer);
}

TEST_F(BrindleApiTest, BadAnswersReadAsEmptyCutOnesFailInTransportAndBadBodiesBeforeSending) {
    for (const char* body : {"<html>Internal error</html>", "", "[1,2]", "{\"cut\": "}) {
        answer("/api/v1/config", 500, body);
        EXPECT_EQ(Brindle::api("GET", "/api/v1/config", account).json, json::object()) << body;
    }
    server.injectFault("/api/v1/config", devserver::Fault{devserver::Fault::Kind::Drop, 0, "", {}});
    EXPECT_THROW(Brindle::larderConfig(account), HTTP::TransportError);  // not a service failure
    server.clearRequests();
    EXPECT_THROW(Brindle::api("POST", "/api/v1/sync/report", account, json{{"path", std::string("bad \xff")}}), Error);
    EXPECT_TRUE(server.requests().empty());
}
