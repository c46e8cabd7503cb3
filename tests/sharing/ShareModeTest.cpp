#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::Fault;
using nlohmann::json;
using test::writeFile;

// "--share" and "--shared-folder-check" run as programs against the
// stand-in, in an isolated home with their own Larder folder and state
// directory. The account's GitHub repository is a local bare repository, so
// the sync pass before a share really pushes.
class ShareModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.start();
        fs::create_directories(larder_);
        fs::create_directories(remotes_ / "demo");
        test::runProgram({"/usr/bin/git", "init", "-q", "--bare", (remotes_ / "demo/Larder.git").string()});
    }
    std::map<std::string, std::string> env(bool signedIn = true) {
        return {{"BRINDLE_URL", server_.url()},
                {"LARDER_FOLDER", larder_.string()},
                {"LARDER_STATE_DIR", state_.string()},
                {"BRINDLE_SHARE_ANSWER", ""},
                {"LARDER_GITHUB_BASE", "file://" + remotes_.string()},
                {"BRINDLE_TEST_ACCOUNT",
                 signedIn ? json{{"server", server_.url()}, {"device_token", "tok"}}.dump() : std::string()}};
    }
    test::ProgramResult share(const std::vector<std::string>& args, bool signedIn = true) {
        std::vector<std::string> all{"--share"};
        all.insert(all.end(), args.begin(), args.end());
        return test::runBrindle(all, env(signedIn), 120);
    }
    test::ProgramResult check(const std::optional<std::string>& answer = std::nullopt, bool signedIn = true) {
        auto values = env(signedIn);
        if (answer) values["BRINDLE_SHARE_ANSWER"] = *answer;
        else values.erase("BRINDLE_SHARE_ANSWER");
        return test::runBrindle({"--shared-folder-check"}, values, 60);
    }
    // The "error: " line of a run (the sync pass may log lines before it).
    static std::string errorLine(const test::ProgramResult& result) {
        size_t at = result.err.rfind("error: ");
        return at == std::string::npos ? result.err : result.err.substr(at);
    }
    // Writes a file in the Shared folder, modified secondsAgo seconds ago.
    void addShared(const std::string& relative, int secondsAgo = 60) {
        fs::path path = larder_ / "Shared" / relative;
        writeFile(path, "content");
        struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - secondsAgo, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    test::IsolatedHome home_;
    devserver::DevServer server_;
    fs::path larder_ = home_.path() / "Larder";
    fs::path state_ = home_.path() / "state";
    fs::path remotes_ = home_.path() / "remotes";
    test::TempDir outside_;
};

TEST_F(ShareModeTest, OutsideFileIsCopiedUnderAFreeNameEachTime) {
    writeFile(outside_ / "report.pdf", "%PDF");
    test::ProgramResult first = share({"Ann@Example.org; bob@x.org", (outside_ / "report.pdf").string()});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "Copied report.pdf into your Larder (Shared/).\nShared with ann@example.org, bob@x.org\n");
    test::ProgramResult second = share({"ann@example.org", (outside_ / "report.pdf").string()});
    EXPECT_EQ(second.status, 0) << second.err;

    auto shares = server_.brindle().shares();
    ASSERT_EQ(shares.size(), 2u);
    EXPECT_EQ(shares[0], (json{{"paths", {"Shared/report.pdf"}}, {"emails", {"ann@example.org", "bob@x.org"}}, {"note", ""}}));
    EXPECT_EQ(shares[1]["paths"], json({"Shared/report (2).pdf"}));
    EXPECT_EQ(test::readFile(larder_ / "Shared/report (2).pdf"), "%PDF");
    // The copies were synced before the service was asked.
    std::string pushed = test::git((remotes_ / "demo/Larder.git").string(), {"log", "--all", "--name-only", "--format="});
    EXPECT_NE(pushed.find("Shared/report (2).pdf"), std::string::npos) << pushed;
}

TEST_F(ShareModeTest, FileInsideThroughALinkIsSharedInPlace) {
    writeFile(larder_ / "Docs/plan.md", "plan");
    fs::create_directory_symlink(larder_, home_.path() / "link");
    test::ProgramResult result = share({"a@x.org", (home_.path() / "link/Docs/plan.md").string()});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Shared with a@x.org\n");
    EXPECT_EQ(server_.brindle().shares().at(0)["paths"], json({"Docs/plan.md"}));
    EXPECT_FALSE(fs::exists(larder_ / "Shared"));
}

TEST_F(ShareModeTest, RefusalsSendNothing) {
    writeFile(outside_ / "a.txt", "a");
    fs::create_directory(outside_ / "Photos");
    test::ProgramResult folder = share({"a@x.org", (outside_ / "a.txt").string(), (outside_ / "Photos").string()});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(errorLine(folder), "error: Photos is not a file. Folders can't be shared yet; share the files inside.\n");

    test::ProgramResult nobody = share({" ,;\t", (outside_ / "a.txt").string()});
    EXPECT_EQ(nobody.status, 1);
    EXPECT_EQ(errorLine(nobody), "error: Add at least one e-mail address to share with.\n");

    test::ProgramResult signedOut = share({"a@x.org", (outside_ / "a.txt").string()}, false);
    EXPECT_EQ(signedOut.status, 1);
    EXPECT_EQ(errorLine(signedOut), "error: Sign in to Brindle first (Brindle menu).\n");

    EXPECT_FALSE(fs::exists(larder_ / "Shared"));
    EXPECT_TRUE(server_.requestsTo("/api/v1/shares").empty());
}

TEST_F(ShareModeTest, NotFoundFiveTimesFails) {
    writeFile(larder_ / "a.txt", "a");
    server_.injectFault("/api/v1/shares",
                        Fault{Fault::Kind::Status, 404, R"({"error":"not_found","message":"a.txt isn't there yet."})", {}},
                        5);
    test::ProgramResult result = share({"a@x.org", (larder_ / "a.txt").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(errorLine(result), "error: a.txt isn't there yet.\n");
    EXPECT_EQ(server_.requestsTo("/api/v1/shares").size(), 5u);
}

TEST_F(ShareModeTest, FolderCheckOffersNewFilesAfterABaseline) {
    addShared("old.txt");
    test::ProgramResult first = check();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "");
    json baseline = json::parse(test::readFile(state_ / "shared-offered.json"));
    EXPECT_TRUE(baseline.contains("Shared/old.txt"));

    // Modified "in the future" (a clock ahead of ours): still being written,
    // whatever the speed of this run. The 2-second case runs on a test clock
    // in ShareOffersTest.
    addShared("fresh.txt", -30);
    for (const char* name : {".hidden", "movie.part", "doc.icloud"}) addShared(name);
    addShared("x/name.txt");
    EXPECT_EQ(check().out, "NEW Shared/x/name.txt\n");
    addShared("fresh.txt", 5);
    EXPECT_EQ(check().out, "NEW Shared/fresh.txt\n");
    EXPECT_EQ(check().out, "");
}

TEST_F(ShareModeTest, FolderCheckSharesWithTheAnswer) {
    check();
    addShared("b.txt");
    addShared("a.txt");
    // Without an account the files are only listed, and stay offered.
    EXPECT_EQ(check("a@x.org", false).out, "NEW Shared/a.txt\nNEW Shared/b.txt\n");
    addShared("c.txt");
    test::ProgramResult shared = check("C@x.org, d@y.org");
    EXPECT_EQ(shared.status, 0) << shared.err;
    EXPECT_EQ(shared.out, "SHARED Shared/c.txt\n");
    ASSERT_EQ(server_.brindle().shares().size(), 1u);
    EXPECT_EQ(server_.brindle().shares()[0],
              (json{{"paths", {"Shared/c.txt"}}, {"emails", {"c@x.org", "d@y.org"}}, {"note", ""}}));
}

TEST_F(ShareModeTest, FolderCheckRecoversFromBadState) {
    addShared("a.txt");
    writeFile(state_ / "shared-offered.json", "{ not json");
    test::ProgramResult result = check();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(json::parse(test::readFile(state_ / "shared-offered.json")).contains("Shared/a.txt"));

    // An answer without addresses records nothing, so the file stays new.
    addShared("b.txt");
    test::ProgramResult nobody = check(" ; ");
    EXPECT_EQ(nobody.status, 1);
    EXPECT_EQ(errorLine(nobody), "error: BRINDLE_SHARE_ANSWER holds no e-mail address.\n");
    EXPECT_EQ(check().out, "NEW Shared/b.txt\n");
}

TEST_F(ShareModeTest, FolderCheckOffersAgainWhatItCouldNotShare) {
    check();
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) addShared(name);
    Fault refused;
    refused.status = 503;
    server_.injectEvery("/api/v1/shares", 2, {refused});

    test::ProgramResult failed = check("ann@x.org");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.out, "SHARED Shared/a.txt\n");
    server_.clearFaults();
    test::ProgramResult retried = check("ann@x.org");
    EXPECT_EQ(retried.status, 0) << retried.err;
    EXPECT_EQ(retried.out, "SHARED Shared/b.txt\nSHARED Shared/c.txt\n");
}

}  // namespace
}  // namespace brindle
