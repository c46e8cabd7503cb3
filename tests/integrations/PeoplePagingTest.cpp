#include <gtest/gtest.h>

#include <cstdlib>

#include "devserver/DevServer.h"
#include "integrations/GoogleContactsClient.h"
#include "integrations/IntegrationError.h"
#include "support/PeopleData.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

devserver::Fault page(const std::string& nextToken) {
    devserver::Fault fault;
    fault.status = 200;
    fault.body = nlohmann::json{{"connections", nlohmann::json::array()}, {"nextPageToken", nextToken}}.dump();
    return fault;
}

class PeoplePagingTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.start();
        ::setenv("BRINDLE_PEOPLE_URL", server.url().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("BRINDLE_PEOPLE_URL"); }

    test::IsolatedHome home;
    devserver::DevServer server;
    GoogleContactsClient client{"Work", [] { return std::string("t1"); }};
};

}  // namespace

// Tokens that come back, at once or after a detour, would list for ever.
TEST_F(PeoplePagingTest, RepeatedPageTokenStopsTheListing) {
    for (const std::vector<std::string>& tokens :
         {std::vector<std::string>{"again", "again"}, std::vector<std::string>{"a", "b", "a"}}) {
        // Pages after these would come from the stand-in itself, which knows no such tokens.
        for (const std::string& token : tokens) server.injectFault("/v1/people/me/connections", page(token));
        size_t before = server.requestsTo("/v1/people/me/connections").size();
        try {
            client.list();
            ADD_FAILURE() << "the listing ended without an error";
        } catch (const IntegrationError& failure) {
            EXPECT_EQ(std::string(failure.what()),
                      "People API for \u201cWork\u201d sent the same page token twice; stopped reading its contacts.");
        }
        EXPECT_EQ(server.requestsTo("/v1/people/me/connections").size() - before, tokens.size());
    }
}

}  // namespace brindle
