#include "PartReceiver.h"
#include "Pictures.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brindle {
namespace {

using devserver::Fault;
using test::writeFile;

// "--morsel-clipboard" run as a program against the stand-in, with a
// pasteboard folder and a made-up signed-in account.
class MorselModeTest : public ::testing::Test {
protected:
    void SetUp() override { server_.start(); }
    std::map<std::string, std::string> env(bool signedIn = true, const std::string& server = "") {
        std::string url = server.empty() ? server_.url() : server;
        std::map<std::string, std::string> values{{"BRINDLE_URL", url},
                                                  {"BRINDLE_TEST_PASTEBOARD", board_.path().string()}};
        values["BRINDLE_TEST_ACCOUNT"] =
            signedIn ? nlohmann::json{{"server", url}, {"device_token", "tok"}}.dump() : "";
        return values;
    }
    test::ProgramResult run(bool signedIn = true) { return test::runBrindle({"--morsel-clipboard"}, env(signedIn), 60); }
    // Runs against a receiver that shows the uploaded form part.
    test::PartReceiver::Part runForPart() {
        test::PartReceiver receiver;
        test::ProgramResult result = test::runBrindle({"--morsel-clipboard"}, env(true, receiver.url()), 60);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Added to your Morsels.\n");
        auto uploads = receiver.uploads();
        if (uploads.size() != 1 || uploads[0].size() != 1) {
            ADD_FAILURE() << "expected one upload of one part";
            return {};
        }
        return uploads[0][0];
    }
    void expectRefused(const std::string& message) {
        test::ProgramResult result = run();
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "error: " + message + "\n");
        EXPECT_TRUE(server_.requestsTo("/api/v1/morsels").empty());
    }
    void put(const std::string& type, const std::string& data) { writeFile(board_ / type, data); }
    test::IsolatedHome home_;
    devserver::DevServer server_;
    test::TempDir board_;
    test::TempDir files_;
};

TEST_F(MorselModeTest, SecretMarkerStopsEverything) {
    put("public.utf8-plain-text", "just a harmless note");
    put("org.nspasteboard.ConcealedType", "");
    expectRefused("That looks like a password or a one-time code, so it was not added to Morsels.");
}

TEST_F(MorselModeTest, TextUpToTheLimitIsSentAsJSON) {
    std::string text(20479, 'a');
    text += "\xC3\xA9";  // 20,481 bytes: one too many
    put("public.utf8-plain-text", "\n  " + text + "\t\n");
    expectRefused("That is too long for a morsel (over 20 KB). Save it as a file instead.");

    text = std::string(20478, 'a') + "\xC3\xA9";  // exactly 20,480 bytes
    put("public.utf8-plain-text", "\n  " + text + "\t\n");
    test::ProgramResult result = run();
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Added to your Morsels.\n");
    auto morsels = server_.brindle().morsels();
    ASSERT_EQ(morsels.size(), 1u);
    EXPECT_EQ(morsels[0].contentType, "application/json");
    EXPECT_EQ(nlohmann::json::parse(morsels[0].body)["text"], text);
}

TEST_F(MorselModeTest, CopiedFileIsSentWithAQuoteSafeName) {
    writeFile(files_ / "a\"b.txt", "file body");
    put("public.file-url", "file://" + files_.path().string() + "/a%22b.txt\n");
    put("public.utf8-plain-text", "text beside the file");
    test::PartReceiver::Part part = runForPart();
    EXPECT_EQ(part.name, "file");
    EXPECT_EQ(part.filename, "a_b.txt");
    EXPECT_EQ(part.contentType, "application/octet-stream");
    EXPECT_EQ(part.content, "file body");
}

TEST_F(MorselModeTest, TIFFPictureArrivesAsPNG) {
    put("public.tiff", test::makeTIFF(4, 3));
    test::PartReceiver::Part part = runForPart();
    EXPECT_EQ(part.filename, "Clipboard picture.png");
    std::optional<test::DecodedPNG> png = test::decodePNG(part.content);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 4u);
    EXPECT_EQ(png->height, 3u);
}

TEST_F(MorselModeTest, ServiceRefusalAndSignedOut) {
    put("public.utf8-plain-text", "hello");
    server_.injectFault("/api/v1/morsels", Fault{Fault::Kind::Status, 413, R"({"message":"Too big for today."})", {}});
    test::ProgramResult refused = run();
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "error: Too big for today.\n");

    server_.clearRequests();
    test::ProgramResult signedOut = run(false);
    EXPECT_EQ(signedOut.status, 1);
    EXPECT_EQ(signedOut.err, "error: Sign in to Brindle first (Brindle menu).\n");
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(MorselModeTest, BadFileAddressesAreRefusedClearly) {
    put("public.utf8-plain-text", "fallback");
    put("public.file-url", "file://" + (files_ / "missing.txt").string());
    expectRefused("That file couldn't be read.");
    put("public.file-url", "not a url");
    expectRefused("The clipboard holds a file address that isn't a URL: not a url");
}

TEST_F(MorselModeTest, SystemClipboardWithoutADisplayReadsAsEmpty) {
    std::map<std::string, std::string> values = env();
    values.erase("BRINDLE_TEST_PASTEBOARD");
    values["DISPLAY"] = values["WAYLAND_DISPLAY"] = values["QT_QPA_PLATFORM"] = "";
    test::ProgramResult result = test::runBrindle({"--morsel-clipboard"}, values, 60);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("without a display"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("error: The clipboard is empty.\n"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace brindle
