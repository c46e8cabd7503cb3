// The account modes of the real brindle program against the stand-in.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServiceFixture.h"
#include "support/RunProgram.h"

extern char** environ;

using namespace brindle;
using nlohmann::json;

namespace {

// The brindle program running with its standard output on a pipe, so a test
// can read lines while it runs.
class RunningBrindle {
public:
    RunningBrindle(const std::vector<std::string>& args, const std::map<std::string, std::string>& overlay) {
        // Everything the child needs is built before fork: the stand-in's
        // threads may hold locks that the child must not touch.
        std::map<std::string, std::string> env;
        for (char** entry = environ; *entry; ++entry) {
            std::string text = *entry;
            size_t equals = text.find('=');
            if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
        }
        for (const auto& [name, value] : overlay) env[name] = value;
        std::vector<std::string> envText, argText{BRINDLE_BIN};
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        argText.insert(argText.end(), args.begin(), args.end());
        std::vector<char*> envp, argv;
        for (auto& text : envText) envp.push_back(text.data());
        for (auto& text : argText) argv.push_back(text.data());
        envp.push_back(nullptr);
        argv.push_back(nullptr);

        int pipeEnds[2];
        if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeEnds[1], STDOUT_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(pipeEnds[1]);
        out_ = pipeEnds[0];
    }
    ~RunningBrindle() {
        if (pid_ > 0) finish();
    }

    pid_t pid() const { return pid_; }

    // The next line of output (without its newline); "" after 60 seconds of
    // silence or at the end of the output.
    std::string readLine() {
        std::string line;
        char c;
        pollfd wanted{out_, POLLIN, 0};
        while (::poll(&wanted, 1, 60000) > 0 && ::read(out_, &c, 1) == 1) {
            if (c == '\n') return line;
            line.push_back(c);
        }
        return line;
    }

    // The rest of the output and the exit status.
    std::pair<std::string, int> finish() {
        std::string rest;
        char buffer[4096];
        for (ssize_t got; (got = ::read(out_, buffer, sizeof buffer)) > 0;)
            rest.append(buffer, static_cast<size_t>(got));
        ::close(out_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return {rest, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class AccountModesTest : public test::ServiceFixture {
protected:
    // Polls follow one another without real pauses.
    std::map<std::string, std::string> fast{{"BRINDLE_LOGIN_PAUSE_SCALE", "0"}};

    test::ProgramResult login() { return test::runBrindle({"--brindle-login", "Test box"}, fast, 120); }
    std::string status() { return test::runBrindle({"--brindle-status"}).out; }
    json secretsOnDisk() { return json::parse(test::readFile(Secrets::file())); }
};

}  // namespace

TEST_F(AccountModesTest, LoginShowsTheCodeBeforePollingThenSignsIn) {
    service().scriptPolls({"authorization_pending", "slow_down", "approve"});
    service().holdPolls(true);
    auto env = fast;
    env["BRINDLE_URL"] = server.url() + "/";
    env["LARDER_KEYCHAIN_SUFFIX"] = " e2e";
    RunningBrindle running({"--brindle-login", "Test box"}, env);

    // The first poll is held by the stand-in, so this line was flushed first.
    std::string first = running.readLine();
    ASSERT_EQ(service().userCodes().size(), 1u);
    EXPECT_EQ(first, "CODE " + service().userCodes()[0]);
    EXPECT_EQ(service().pollCount(), 0);
    service().holdPolls(false);
    auto [rest, exitStatus] = running.finish();
    EXPECT_EQ(exitStatus, 0);
    EXPECT_EQ(rest, "SIGNED_IN\nREPO demo/Larder\n");
    EXPECT_EQ(service().pollCount(), 3);
    EXPECT_EQ(service().deviceNames(), std::vector<std::string>{"Test box"});

    const std::string token = service().issuedTokens().at(0);
    EXPECT_EQ(secretsOnDisk(), (json{{"Larder Brindle e2e", {{"server", server.url()}, {"device-token", token}}}}));
    auto config = server.requestsTo("/api/v1/config");
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].header("Authorization"), "Bearer " + token);
}

TEST_F(AccountModesTest, LoginEndingWithoutApprovalStoresNothing) {
    struct Case {
        std::vector<std::string> polls;
        std::string line;
    };
    service().setCodeTiming(3, 1);
    for (const Case& each :
         {Case{{"authorization_pending", "access_denied"}, "DENIED"}, Case{{"expired_token"}, "EXPIRED"},
          Case{{"authorization_pending", "authorization_pending", "authorization_pending"}, "TIMED_OUT"}}) {
        service().scriptPolls(each.polls);
        test::ProgramResult result = login();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "CODE " + service().userCodes().back() + "\n" + each.line + "\n");
    }
    service().scriptPolls({"server_error"});
    test::ProgramResult failed = login();
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("error: Brindle sign-in failed (server_error).\n"), std::string::npos) << failed.err;
    EXPECT_EQ(status(), "SIGNED_OUT\n");
    EXPECT_FALSE(std::filesystem::exists(Secrets::file()));
}

TEST_F(AccountModesTest, LoginWithoutAConnectedRepoSaysNone) {
    service().setGitHubRepo(std::nullopt);
    service().scriptPolls({"approve"});
    test::ProgramResult result = login();
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("SIGNED_IN\nREPO none\n"), std::string::npos) << result.out;
}

TEST_F(AccountModesTest, LogoutRevokesAndForgetsTheDevice) {
    EXPECT_EQ(status(), "SIGNED_OUT\n");
    Brindle::storeAccount(account);
    EXPECT_EQ(status(), "SIGNED_IN\n");
    test::ProgramResult result = test::runBrindle({"--brindle-logout"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "SIGNED_OUT\n");
    EXPECT_EQ(service().revokedTokens(), std::vector<std::string>{"device-token-1"});
    EXPECT_EQ(secretsOnDisk(), json::object());
    EXPECT_EQ(status(), "SIGNED_OUT\n");
}

TEST_F(AccountModesTest, LogoutCompletesWhenSignedOutOrTheServiceIsDown) {
    // A token without a server is signed out, yet logging out removes it.
    Secrets::set("orphan", "device-token", "Larder Brindle");
    test::ProgramResult result = test::runBrindle({"--brindle-logout"});
    EXPECT_EQ(result.out, "SIGNED_OUT\n");
    EXPECT_TRUE(server.requestsTo("/api/v1/device/revoke").empty());
    EXPECT_EQ(secretsOnDisk(), json::object());

    Brindle::storeAccount({"http://127.0.0.1:1", "device-token-1"});
    result = test::runBrindle({"--brindle-logout"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "SIGNED_OUT\n");
    EXPECT_EQ(secretsOnDisk(), json::object());
}

TEST_F(AccountModesTest, TokensStayOutOfLogsOutputAndArguments) {
    service().holdPolls(true);
    service().scriptPolls({"approve"});
    RunningBrindle running({"--brindle-login", "Test box"}, fast);
    running.readLine();
    std::string arguments = test::readFile("/proc/" + std::to_string(running.pid()) + "/cmdline");
    service().holdPolls(false);
    auto [out, exitStatus] = running.finish();
    ASSERT_EQ(exitStatus, 0);
    const std::string token = service().issuedTokens().at(0);

    // Later account work with the stored token.
    test::ProgramResult logout = test::runBrindle({"--brindle-logout"});
    for (const std::string& seen : {arguments, out, logout.out, logout.err, test::readFile(home.logFile())})
        EXPECT_EQ(seen.find(token), std::string::npos) << seen;
}
