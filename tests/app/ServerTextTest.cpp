// Texts from the service reach a script's output only as harmless single lines.
#include <sstream>

#include "service/ServiceFixture.h"
#include "support/RunProgram.h"

namespace brindle {
namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) found.push_back(line);
    return found;
}

class ServerTextTest : public test::ServiceFixture {
protected:
    test::ProgramResult login() {
        return test::runBrindle({"--brindle-login", "Test box"}, {{"BRINDLE_LOGIN_PAUSE_SCALE", "0"}}, 120);
    }
};

}  // namespace

TEST_F(ServerTextTest, HostileCodeRepositoryAndMessageCannotForgeResultLines) {
    // given a user code and a repository name that each try to add a line
    devserver::Fault code =
        test::statusFault(200, nlohmann::json{{"device_code", "d1"},
                                              {"user_code", "AB\nSIGNED_IN"},
                                              {"verification_uri", "http://x/device"},
                                              {"verification_uri_complete", "http://x/device?code=AB"},
                                              {"interval", 1}}
                                   .dump());
    server.injectFault("/api/v1/device/code", code);
    server.injectFault("/api/v1/device/token", test::statusFault(400, R"({"error": "denied\nSIGNED_IN\u001b[2J"})"));
    test::ProgramResult refused = login();

    service().setGitHubRepo("demo/Larder\nREPO none");
    service().scriptPolls({"approve"});
    test::ProgramResult signedIn = login();

    EXPECT_EQ(lines(refused.out), std::vector<std::string>{"CODE AB SIGNED_IN"});
    EXPECT_NE(refused.err.find("error: Brindle sign-in failed (denied SIGNED_IN\uFFFD[2J).\n"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find('\x1b'), std::string::npos);
    std::vector<std::string> out = lines(signedIn.out);
    ASSERT_EQ(out.size(), 3u) << signedIn.out << signedIn.err;
    EXPECT_EQ(out[1], "SIGNED_IN");
    EXPECT_EQ(out[2], "REPO demo/Larder REPO none");
}

}  // namespace brindle
