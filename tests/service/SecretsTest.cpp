#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ServiceFixture.h"

using namespace brindle;
using nlohmann::json;

namespace {

// Forks writers: a fork of a process with other threads (a server's) may
// hang in a lock one of them held.
class SecretsTest : public test::SecretsHome {
protected:
    static unsigned modeOf(const std::filesystem::path& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 0777;
    }
    json onDisk() const { return json::parse(test::readFile(Secrets::file())); }
    static bool exitedCleanly(pid_t child) {
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

}  // namespace

TEST_F(SecretsTest, AnyBytesRoundTripThroughTheFile) {
    const std::string binary("\xff\x00\x01 token", 9);
    const std::string text = "Zürich \u2026 token";
    Secrets::set(binary, "raw", "Svc");
    Secrets::set(text, "text", "Svc");
    Secrets::set("", "empty", "Svc");
    Secrets::forgetCache();  // as a new process would read them
    EXPECT_EQ(Secrets::get("raw", "Svc"), binary);
    EXPECT_EQ(Secrets::get("text", "Svc").value_or("?") + Secrets::get("empty", "Svc").value_or("?"), text);
    EXPECT_EQ(Secrets::get("missing", "Svc"), std::nullopt);
    EXPECT_TRUE(onDisk()["Svc"]["raw"].contains("base64"));
}

TEST_F(SecretsTest, TheFileIsPrivateAndWiderPermissionsAreTightened) {
    Secrets::set("v", "a", "Svc");
    const std::filesystem::path file = Secrets::file();
    EXPECT_EQ(file, home.path() / ".config/brindle/secrets.json");
    EXPECT_EQ(modeOf(file.parent_path()) * 01000 + modeOf(file), 0700600u);
    ::chmod(file.c_str(), 0644);
    ::chmod(file.parent_path().c_str(), 0755);
    Secrets::forgetCache();
    ::testing::internal::CaptureStderr();  // the log line goes to standard error too
    EXPECT_EQ(Secrets::get("a", "Svc"), "v");
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(modeOf(file.parent_path()) * 01000 + modeOf(file), 0700600u);
    EXPECT_NE(log.find(file.string() + " was open to other users; tightened it to 0600"), std::string::npos) << log;
}

TEST_F(SecretsTest, ChangesKeepOtherItemsAccountsAreSortedAndADamagedFileIsKeptAside) {
    test::writeFile(Secrets::file(),
                    R"({"Larder Google": {"z@x.org": "1", "a@x.org": "2", "bad": 5}, "Other": {"k": "v"}})");
    Secrets::set("3", "m@x.org", "Larder Google");
    Secrets::remove("z@x.org", "Larder Google");
    EXPECT_EQ(Secrets::accounts("Larder Google"), (std::vector<std::string>{"a@x.org", "m@x.org"}));
    EXPECT_EQ(onDisk()["Other"]["k"], "v");
    Secrets::remove("k", "Other");
    EXPECT_FALSE(onDisk().contains("Other"));
    test::writeFile(Secrets::file(), "{\"Svc\": {\"a\": ");  // damaged: kept aside, not overwritten
    Secrets::set("v", "b", "Svc");
    EXPECT_EQ(onDisk(), (json{{"Svc", {{"b", "v"}}}}));
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Secrets::file().parent_path()))
        kept += test::readFile(entry.path()) == "{\"Svc\": {\"a\": ";
    EXPECT_EQ(kept, 1);
}

TEST_F(SecretsTest, TwoProcessesWritingAtOnceLoseNothing) {
    constexpr int kItems = 40;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> writers;
    for (int writer = 0; writer < 2; ++writer) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            char go;
            ::close(start[1]);
            if (::read(start[0], &go, 1) != 0) ::_exit(3);  // wait until the parent closes the pipe
            for (int i = 0; i < kItems; ++i)
                Secrets::set("value", "w" + std::to_string(writer) + "-" + std::to_string(i), "Svc");
            ::_exit(0);
        }
        writers.push_back(child);
    }
    ::close(start[0]);
    ::close(start[1]);  // both writers start now
    for (pid_t child : writers) EXPECT_TRUE(exitedCleanly(child));
    EXPECT_EQ(Secrets::accounts("Svc").size(), 2u * kItems);
}

// While another process holds the writers' lock, a writer waits in flock.
TEST_F(SecretsTest, AWriterWaitsWhileAnotherProcessHoldsTheLock) {
    Secrets::set("v", "first", "Svc");
    int held = ::open((Secrets::file().parent_path() / "secrets.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        ::close(held);  // the lock belongs to the open file, which the parent alone must hold
        Secrets::set("v", "second", "Svc");
        ::_exit(0);
    }
    const std::string inFlock = std::to_string(SYS_flock) + " ";
    bool blocked = false, finished = false;
    int status = 0;
    for (int tries = 0; tries < 10000 && !blocked && !finished; ++tries) {
        finished = ::waitpid(writer, &status, WNOHANG) == writer;
        blocked = test::readFile("/proc/" + std::to_string(writer) + "/syscall").starts_with(inFlock);
        if (!blocked && !finished) ::usleep(1000);
    }
    EXPECT_TRUE(blocked) << (finished ? "the writer wrote while the lock was held" : "the writer never waited");
    ::close(held);
    if (!finished) ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Secrets::forgetCache();
    EXPECT_EQ(Secrets::get("second", "Svc"), "v");
}

TEST_F(SecretsTest, AccountNeedsBothItemsUnderTheSuffixedService) {
    env.set("LARDER_KEYCHAIN_SUFFIX", "-test");
    Secrets::set("tok", "device-token", "Larder Brindle-test");
    Secrets::set("", "server", "Larder Brindle-test");
    EXPECT_EQ(Brindle::account(), std::nullopt);
    Brindle::storeAccount({"https://s.example", "tok"});
    EXPECT_EQ(Brindle::account(), (Brindle::Account{"https://s.example", "tok"}));
    EXPECT_FALSE(onDisk().contains("Larder Brindle"));
    Brindle::forgetAccount();
    EXPECT_FALSE(Brindle::account() || onDisk().contains("Larder Brindle-test"));
}
