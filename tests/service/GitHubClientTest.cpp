#include "service/GitHub.h"

#include "ServiceFixture.h"
#include "devserver/GitHubService.h"
#include "service/HTTP.h"

using namespace brindle;
using nlohmann::json;

namespace {

class GitHubClientTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        test::ServiceFixture::SetUp();
        env.set("BRINDLE_GITHUB_API_URL", server.url() + "/");
        server.github().setUser("octo", "ghp-good");
    }
    std::string messageOf(std::function<void()> call) { return test::failureText<GitHubError>(call); }
};

}  // namespace

TEST_F(GitHubClientTest, AMissingRepoIsCreatedPrivateOnceAndFailuresSayWhatWentWrong) {
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 2; ++i) GitHub::ensureRepo("octo", "Larder", "ghp-good");
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("Created GitHub repo octo/Larder"));
    EXPECT_EQ(json(server.github().creations()), json::parse(R"([{"name": "Larder", "private": true,
                  "description": "Synced by the Brindle app from ~/Desktop/Larder"}])"));
    auto ensure = [] { GitHub::ensureRepo("octo", "Other", "ghp-good"); };
    answer("/repos/", 500);
    EXPECT_EQ(messageOf(ensure), "Could not check repo (HTTP 500).");
    answer("/user/repos", 403, R"({"message": "Resource not accessible by personal access token"})");
    EXPECT_EQ(messageOf(ensure),
              "Could not create repo Other: Resource not accessible by personal access token. Make "
              "sure the token has the 'repo' scope.");
    EXPECT_EQ(server.requestsTo("/user/repos").size(), 2u);
}
