// Writes to the secret file never replace items they could not read.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "ServiceFixture.h"
#include "support/RunProgram.h"

using namespace brindle;

namespace {

constexpr const char* kStored = "{\"Larder Brindle\": {\"server\": \"https://s.example\", \"device-token\": \"t\"}}\n";

class SecretSafetyTest : public test::ServiceFixture {
protected:
    // The brindle program as the unprivileged user "nobody": root would read
    // any file, whatever its permissions.
    test::ProgramResult runAsNobody(const std::vector<std::string>& args) {
        std::vector<std::string> argv{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                      BRINDLE_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        return test::runProgram(argv);
    }
};

// A path of exactly `length` characters below root.
std::filesystem::path pathOfLength(const std::filesystem::path& root, size_t length) {
    std::string path = root.string();
    while (length - path.size() > 250) path += "/" + std::string(200, 'x');
    path += "/" + std::string(length - path.size() - 1, 'y');
    return path;
}

}  // namespace

// A secret file only root can read, in a folder the user owns.
TEST_F(SecretSafetyTest, FileThatCannotBeReadIsLeftAlone) {
    const std::filesystem::path file = Secrets::file();
    test::writeFile(file, kStored);
    ::chmod(file.c_str(), 0600);
    ASSERT_EQ(::chown(file.parent_path().c_str(), 65534, 65534), 0);
    test::ProgramResult result = runAsNobody({"--brindle-logout"});
    EXPECT_EQ(test::readFile(file), kStored);
    EXPECT_NE(result.err.find("Could not read " + file.string() + " (Permission denied); left it as it is"),
              std::string::npos)
        << result.err;
}

// A path with room for a temporary file's name but not for the longer name
// the damaged file would be kept under.
TEST_F(SecretSafetyTest, DamagedFileThatCannotBeMovedAsideIsNotOverwritten) {
    env.set("XDG_CONFIG_HOME", pathOfLength(home.path(), 4067 - std::string("/brindle").size()).string());
    test::writeFile(Secrets::file(), "{\"Svc\": {\"a\": ");
    EXPECT_FALSE(Secrets::set("v", "b", "Svc"));
    EXPECT_EQ(test::readFile(Secrets::file()), "{\"Svc\": {\"a\": ");
    Secrets::forgetCache();
    EXPECT_EQ(Secrets::get("b", "Svc"), std::nullopt);
}

// A config folder whose "brindle" is a file: nothing can be stored there.
TEST_F(SecretSafetyTest, LoginThatCannotStoreTheSignInRevokesAndFails) {
    test::writeFile(home.path() / "blocked/brindle", "");
    service().scriptPolls({"approve"});
    test::ProgramResult result = test::runBrindle(
        {"--brindle-login", "Test box"},
        {{"BRINDLE_LOGIN_PAUSE_SCALE", "0"}, {"XDG_CONFIG_HOME", (home.path() / "blocked").string()}}, 120);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.find("SIGNED_IN"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("error: Could not save the sign-in in "), std::string::npos) << result.err;
    ASSERT_EQ(service().issuedTokens().size(), 1u);
    EXPECT_EQ(service().revokedTokens(), service().issuedTokens());
}
