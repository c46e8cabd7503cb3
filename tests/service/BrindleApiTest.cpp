#include "ServiceFixture.h"
#include "service/HTTP.h"

using namespace brindle;
using nlohmann::json;

using BrindleApiTest = test::ServiceFixture;

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
