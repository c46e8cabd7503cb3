// Each headless mode of the real brindle program once: exit status, output
// and error line; the library suites test the rules behind them.
#include <nlohmann/json.hpp>

#include <fstream>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "devserver/PeopleService.h"
#include "drives/DriveMarker.h"
#include "service/Brindle.h"
#include "service/Secrets.h"
#include "support/Expect.h"
#include "support/FakePlaud.h"
#include "support/PeopleData.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
using Env = std::map<std::string, std::string>;
using Files = std::map<std::string, std::string>;  // relative path -> content
using nlohmann::json;

const char* kStick = "5a1d0c4e-0000-4000-8000-0000000000a1";

Files filesIn(const fs::path& root) {
    Files files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(root).generic_string()] = readFile(entry.path());
    return files;
}

Files filesInRepository(const fs::path& bare) {  // of its main branch
    Files files;
    if (runProgram({"/usr/bin/git", "-C", bare.string(), "rev-parse", "--verify", "-q", "main"}).status != 0)
        return files;  // nothing pushed yet
    std::string names = git(bare.string(), {"-c", "core.quotePath=false", "ls-tree", "-r", "--name-only", "main"});
    for (size_t at = 0, end; (end = names.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string name = names.substr(at, end - at);
        files[name] = git(bare.string(), {"show", "main:" + name});
    }
    return files;
}

void writeOld(const fs::path& path, const std::string& content) {
    writeFile(path, content);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(30));
}

// "status output", with standard error after a failure.
std::string ran(const ProgramResult& result) {
    return std::to_string(result.status) + " " + result.out + (result.status ? result.err : "");
}

void expectError(const ProgramResult& result, const std::string& message) {
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, EndsWith("error: " + message + "\n"));
}

// The program in an isolated home against the stand-in, git without system configuration.
class ModesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Secrets::forgetCache();  // the cache outlives a test's home
        server.start();
    }
    void TearDown() override { Secrets::forgetCache(); }

    Env signedIn(Env more = {}) const {
        more["BRINDLE_URL"] = server.url();
        more["BRINDLE_TEST_ACCOUNT"] = json{{"server", server.url()}, {"device_token", "device-1"}}.dump();
        return more;
    }
    std::string bareRepository(const std::string& relative) const {
        fs::create_directories(temp / relative);
        git((temp / relative).string(), {"init", "-q", "--bare"});
        return "file://" + (temp / relative).string();
    }
    Env larder(Env more = {}) const {
        more["LARDER_FOLDER"] = folder.string();
        more["LARDER_STATE_DIR"] = (temp / "state").string();
        more["LARDER_GITHUB_BASE"] = "file://" + (temp / "github").string();
        more["LARDER_VOLUMES"] = (temp / "volumes").string();
        more.insert(gitEnv.begin(), gitEnv.end());
        return signedIn(more);
    }

    // GitHub (a bare repository), Dropbox, a plugged drive "Stick" and an absent "Travel".
    void threeStores() {
        server.brindle().setStores({"github", "dropbox"});
        server.brindle().setDrives({{kStick, "Stick"}, {"5a1d0c4e-0000-4000-8000-0000000000b2", "Travel"}});
        bareRepository("github/demo/Larder.git");
        fs::create_directories(drive);
        DriveMarker::write(temp / "volumes/STICK", kStick);
    }

    IsolatedHome home;
    TempDir temp;
    fs::path folder = temp / "Larder";
    fs::path drive = temp / "volumes/STICK/Larder";
    devserver::DevServer server;
    const Env gitEnv{{"GIT_CONFIG_NOSYSTEM", "1"}};
};

TEST_F(ModesTest, SyncOnceFolderPushesQuietlyWhileAnotherPassWaitsItsTurn) {
    std::string remote = bareRepository("remote.git");
    for (int i = 0; i < 50; ++i) writeFile(folder / ("f" + std::to_string(i)), "x");
    const std::string state = (temp / "state.git").string();
    ProgramResult refused =
        runBrindle({"--sync-once", folder.string(), (folder / "state.git").string(), remote, "Desk"}, gitEnv);
    EXPECT_THAT(ran(refused), StartsWith("1 error: "));  // a state folder inside the synced one
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_FALSE(fs::exists(folder / "state.git"));
    // The tray and a command-line pass syncing the same folder at once.
    const auto command = brindleCommand({"--sync-once", folder.string(), state, remote, "Desk"});
    ChildProcess first(command, gitEnv), second(command, gitEnv);
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    EXPECT_EQ(first.output() + second.output(), "");
    EXPECT_EQ(filesInRepository(temp / "remote.git").size(), 50u);
}

TEST_F(ModesTest, SyncOnceBringsEveryStoreOfTheAccountToTheSameFiles) {
    threeStores();
    writeOld(folder / "Notes/Plan.md", "# Plan\n");
    writeOld(folder / "Grüße.txt", "hallo\n");
    writeOld(folder / "photo.bin", std::string(70000, 'p'));
    auto expectEveryStoreHolds = [&](const Files& expected) {
        EXPECT_EQ(filesIn(folder), expected);
        EXPECT_EQ(filesInRepository(temp / "github/demo/Larder.git"), expected);
        EXPECT_EQ(filesIn(server.dropbox().folder()), expected);
        EXPECT_EQ(filesIn(drive), expected);
    };
    Files files = filesIn(folder);
    ASSERT_EQ(ran(runBrindle({"--sync-once"}, larder())), "0 Up to date.\n");
    expectEveryStoreHolds(files);
    EXPECT_EQ(server.brindle().reports().back()["status"][3]["detail"], "not plugged in");
    // Another computer changes the Dropbox folder between passes.
    server.dropbox().writeFile("Notes/Plan.md", files["Notes/Plan.md"] = "# Plan\n\nedited through Dropbox\n");
    server.dropbox().writeFile("Shopping.txt", files["Shopping.txt"] = "bread\n");
    ASSERT_EQ(runBrindle({"--sync-once"}, larder()).status, 0);
    expectEveryStoreHolds(files);
}

TEST_F(ModesTest, BrindleLoginShowsTheCodeFirstAndLogoutRevokes) {
    const Env env{{"BRINDLE_URL", server.url() + "/"}, {"BRINDLE_LOGIN_PAUSE_SCALE", "0"}};
    server.brindle().scriptPolls({"authorization_pending", "approve"});
    server.brindle().holdPolls(true);
    ChildProcess login(brindleCommand({"--brindle-login", "Test box"}), env);
    std::string first = login.readLine();  // the first poll is held: flushed before any polling
    EXPECT_EQ(first, "CODE " + server.brindle().userCodes().at(0));
    std::string arguments = readFile("/proc/" + std::to_string(login.pid()) + "/cmdline");
    server.brindle().holdPolls(false);
    EXPECT_EQ(login.wait(), 0);
    EXPECT_EQ(login.output(), "SIGNED_IN\nREPO demo/Larder\n");
    EXPECT_EQ(runBrindle({"--brindle-status"}, env).out, "SIGNED_IN\n");

    const std::string token = server.brindle().issuedTokens().at(0);
    ProgramResult logout = runBrindle({"--brindle-logout"}, env);
    EXPECT_EQ(ran(logout) + runBrindle({"--brindle-status"}, env).out, "0 SIGNED_OUT\nSIGNED_OUT\n");
    EXPECT_EQ(server.brindle().revokedTokens(), std::vector<std::string>{token});
    for (const std::string& seen : {arguments, logout.out, logout.err, readFile(home.logFile())})
        EXPECT_THAT(seen, Not(HasSubstr(token)));
    // Logging out never leaves a device signed in, even with the service down.
    Brindle::storeAccount({"http://127.0.0.1:1", "device-token-1"});
    std::string loggedOut = runBrindle({"--brindle-logout"}, env).out;
    EXPECT_EQ(loggedOut + runBrindle({"--brindle-status"}, env).out, "SIGNED_OUT\nSIGNED_OUT\n");
    server.brindle().scriptPolls({"access_denied"});
    EXPECT_THAT(ran(runBrindle({"--brindle-login", "Test box"}, env)),
                ::testing::AllOf(StartsWith("1 "), HasSubstr("\nDENIED\n")));
}

// Two Google accounts, one person in both.
TEST_F(ModesTest, ContactsOnceCountsWhatItImported) {
    server.brindle().setGoogleAccounts({{"one@gmail.com", ""}, {"two@gmail.com", "Work"}});
    server.brindle().setGoogleToken("one@gmail.com", "google-one");
    server.brindle().setGoogleToken("two@gmail.com", "google-two");
    server.people().setConnections("google-one", peopleData("a", 3, 1));
    server.people().setConnections("google-two", peopleData("b", 2, 1));
    const fs::path contacts = temp / "Contacts";
    Env env = signedIn({{"BRINDLE_PEOPLE_URL", server.url()}});
    auto contactsOnce = [&] { return ran(runBrindle({"--contacts-once", contacts.string()}, env)); };
    EXPECT_EQ(contactsOnce(), "0 accounts 2, fetched 5, created 4, updated 0, unchanged 0\n");
    EXPECT_EQ(contactsOnce(), "0 accounts 2, fetched 5, created 0, updated 0, unchanged 4\n");
    env.erase("BRINDLE_TEST_ACCOUNT");
    expectError(runBrindle({"--contacts-once", contacts.string()}, env),
                "Sign in to Brindle in Settings\u2026 to sync contacts.");
    // A real sign-in retires the Google sign-ins that older versions kept.
    for (const char* name : {"refresh:one@gmail.com", "client-id", "access"})
        Secrets::set("old", name, "Larder Google");
    Brindle::storeAccount({server.url(), "device-1"});
    ASSERT_EQ(contactsOnce().front(), '0');
    Secrets::forgetCache();
    EXPECT_EQ(Secrets::accounts("Larder Google"), std::vector<std::string>{"access"});
}

TEST_F(ModesTest, PlaudOnceWritesNotesAndSaysHowToSignIn) {
    FakePlaud plaud;
    plaud.setRecent(hexID(1) + " Quotes\n" + hexID(2) + " Processing\n");
    plaud.addRecording(hexID(1), "name: He said \"hi\"\ncreated_at: 2025-03-01\n", "Short summary.", "Hello.");
    plaud.addRecording(hexID(2), "name: Later\ncreated_at: 2025-03-01\n", "", "");
    const fs::path meetings = temp / "Meetings";
    const Env env{{"LARDER_PLAUD", plaud.path()}};
    EXPECT_EQ(ran(runBrindle({"--plaud-once", meetings.string(), "3"}, env)),
              "0 Wrote 2025-03-01-he-said-hi.md\nfound 2, written 1, already had 0, not ready 1\n");
    EXPECT_THAT(plaud.calls(), ::testing::Contains("recent --days 3"));
    EXPECT_THAT(readFile(meetings / "2025-03-01-he-said-hi.md"), HasSubstr("\n## Transcript\n\nHello.\n"));
    plaud.signOut();
    expectError(runBrindle({"--plaud-once", meetings.string()}, env),
                "Not signed in to Plaud. Run `plaud login` in Terminal.");
}

TEST_F(ModesTest, MorselClipboardAddsTextButNeverASecret) {
    TempDir board;
    const Env env = signedIn({{"BRINDLE_TEST_PASTEBOARD", board.path().string()}});
    writeFile(board / "public.utf8-plain-text", "\n  a note\t\n");
    EXPECT_EQ(ran(runBrindle({"--morsel-clipboard"}, env, 60)), "0 Added to your Morsels.\n");
    EXPECT_EQ(json::parse(server.brindle().morsels().at(0).body)["text"], "a note");
    writeFile(board / "org.nspasteboard.ConcealedType", "");
    expectError(runBrindle({"--morsel-clipboard"}, env, 60),
                "That looks like a password or a one-time code, so it was not added to Morsels.");
    EXPECT_EQ(server.brindle().morsels().size(), 1u);
}

// The account's repository is a local bare one: the pass before the share really pushes.
TEST_F(ModesTest, ShareCopiesAnOutsideFileSyncsItAndShares) {
    bareRepository("github/demo/Larder.git");
    fs::create_directories(folder);
    writeFile(temp / "outside/report.pdf", "%PDF");
    const Env env = larder({{"BRINDLE_SHARE_ANSWER", ""}});
    EXPECT_EQ(
        ran(runBrindle({"--share", "Ann@Example.org; bob@x.org", (temp / "outside/report.pdf").string()}, env, 120)),
        "0 Copied report.pdf into your Larder (Shared/).\nShared with ann@example.org, bob@x.org\n");
    EXPECT_EQ(server.brindle().shares().at(0),
              (json{{"paths", {"Shared/report.pdf"}}, {"emails", {"ann@example.org", "bob@x.org"}}, {"note", ""}}));
    EXPECT_EQ(filesInRepository(temp / "github/demo/Larder.git").count("Shared/report.pdf"), 1u);
    expectError(runBrindle({"--share", " ,;\t", (temp / "outside/report.pdf").string()}, env, 120),
                "Add at least one e-mail address to share with.");
    EXPECT_EQ(server.brindle().shares().size(), 1u);
}

// Files added after the first look are offered; given a share that the
// service refuses part-way, the files not shared are offered again.
TEST_F(ModesTest, SharedFolderCheckOffersNewFilesAndAgainWhatItCouldNotShare) {
    auto addShared = [&](const std::string& name) { writeOld(folder / "Shared" / name, "content"); };
    auto check = [&](const Env& env) { return runBrindle({"--shared-folder-check"}, env, 60); };
    bareRepository("github/demo/Larder.git");
    Env env = larder();
    addShared("old.txt");
    EXPECT_EQ(ran(check(env)), "0 ");
    addShared("new.txt");
    EXPECT_EQ(ran(check(env)), "0 NEW Shared/new.txt\n");
    env["BRINDLE_SHARE_ANSWER"] = " ; ";
    expectError(check(env), "BRINDLE_SHARE_ANSWER holds no e-mail address.");
    addShared("later.txt");  // files listed once stay offered; only this one is new
    env["BRINDLE_SHARE_ANSWER"] = "C@x.org";
    EXPECT_EQ(check(env).out, "SHARED Shared/later.txt\n");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) addShared(name);
    server.injectEvery("/api/v1/shares", 2, {devserver::Fault{devserver::Fault::Kind::Status, 503, "", {}}});
    EXPECT_THAT(ran(check(env)), StartsWith("1 SHARED Shared/a.txt\n"));
    server.clearFaults();
    EXPECT_EQ(ran(check(env)), "0 SHARED Shared/b.txt\nSHARED Shared/c.txt\n");
}

// Changes of every kind pending on three stores: each action is listed once,
// and nothing anywhere changes.
TEST_F(ModesTest, PreviewListsEveryPendingActionOnceAndChangesNothing) {
    threeStores();
    server.brindle().setDrives({{kStick, "Stick"}});
    for (auto name : {"edited.md", "gone-here.md", "gone-db.md", "gone-stick.md", "both.md"})
        writeOld(folder / name, "old");
    ASSERT_EQ(runBrindle({"--sync-once"}, larder()).status, 0);
    writeOld(folder / "new.md", "new");
    writeOld(folder / "edited.md", "edited here");
    fs::remove(folder / "gone-here.md");
    server.dropbox().deleteFile("gone-db.md");
    server.dropbox().writeFile("from-db.md", "db");
    fs::remove(drive / "gone-stick.md");
    writeOld(folder / "both.md", "here");
    writeOld(drive / "both.md", "on the stick");
    std::ofstream(folder / "huge.bin").seekp(100 * 1048576LL).put('x');  // over Dropbox's limit, sparse
    fs::last_write_time(folder / "huge.bin", fs::file_time_type::clock::now() - std::chrono::seconds(30));
    auto everything = [&] {  // with modification times
        std::string all;
        for (const auto& entry : fs::recursive_directory_iterator(temp.path()))
            all += entry.path().string() + std::to_string(entry.last_write_time().time_since_epoch().count()) +
                   (entry.is_regular_file() ? readFile(entry.path()) : "/");
        return all;
    };
    std::string before = everything();
    size_t requestsBefore = server.requests().size();

    std::string preview = ran(runBrindle({"--preview"}, larder()));
    EXPECT_EQ(
        preview,
        "0 Dropbox: delete here gone-db.md\nDropbox: delete in Dropbox gone-here.md\nDropbox: download from-db.md\n"
        "Dropbox: skip: too big huge.bin\nDropbox: upload both.md\nDropbox: upload edited.md\n"
        "Dropbox: upload new.md\nGitHub: delete in GitHub gone-here.md\nGitHub: skip: too big huge.bin\n"
        "GitHub: upload both.md\nGitHub: upload edited.md\nGitHub: upload new.md\n"
        "Stick: conflict copy both.md\nStick: delete here gone-stick.md\nStick: delete in Stick gone-here.md\n"
        "Stick: upload edited.md\nStick: upload huge.bin\nStick: upload new.md\n"
        "Dropbox: 7 action(s)\nGitHub: 5 action(s)\nStick: 6 action(s)\n");
    EXPECT_EQ(everything(), before);
    std::vector<devserver::Recorded> requests = server.requests();
    for (size_t at = requestsBefore; at < requests.size(); ++at)
        EXPECT_THAT(
            requests[at].method + " " + requests[at].path,
            ::testing::AnyOf(HasSubstr(" /2/files/list_folder"), EndsWith(" /api/v1/config"),
                             EndsWith("/api/v1/github/token"), EndsWith("/api/v1/larder/token"), "GET /api/v1/drives"));
    EXPECT_EQ(ran(runBrindle({"--preview"}, larder())), preview) << "stable from run to run";
}

TEST_F(ModesTest, DriveAddMarksTheDriveAndRegistersItOnce) {
    TempDir volume;
    auto add = [&] { return ran(runBrindle({"--drive-add", volume.path().string(), "Blue Stick"}, signedIn())); };
    std::string added = add();
    EXPECT_EQ(added, "0 Added \"Blue Stick\" " + DriveMarker::read(volume.path()).value_or("?") + "\n");
    EXPECT_TRUE(fs::is_directory(volume / "Larder"));
    EXPECT_EQ(add(), added);
    EXPECT_EQ(server.brindle().drives().size(), 1u);
    TempDir other;
    expectError(runBrindle({"--drive-add", other.path().string(), "Red"}, {{"BRINDLE_URL", server.url()}}),
                "You're signed out of Brindle.");
    EXPECT_FALSE(DriveMarker::read(other.path()));
}

}  // namespace
}  // namespace brindle::test
