#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "morsels/Morsels.h"
#include "platform/NamedPasteboard.h"
#include "service/HTTP.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brindle {
namespace {

using devserver::Fault;
using Morsels::Clip;

TEST(MultipartTest, OnePartNamedFileWithQuotesReplaced) {
    Morsels::Multipart form = Morsels::multipart("a\"b\r\n.txt", std::string("\0data\r\n", 7));
    ASSERT_EQ(form.boundary.rfind("Brindle-", 0), 0u);
    std::string uuid = form.boundary.substr(8);
    EXPECT_EQ(uuid.size(), 36u);
    EXPECT_EQ(uuid.find_first_of("abcdef"), std::string::npos);  // upper case
    std::string expected = "--" + form.boundary + "\r\n" +
                           "Content-Disposition: form-data; name=\"file\"; filename=\"a_b__.txt\"\r\n"
                           "Content-Type: application/octet-stream\r\n\r\n" +
                           std::string("\0data\r\n", 7) + "\r\n--" + form.boundary + "--\r\n";
    EXPECT_EQ(form.body, expected);
    EXPECT_NE(Morsels::multipart("x", "").boundary, form.boundary);
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override { server_.start(); }
    void answer(int status, const std::string& body) {
        server_.injectFault("/api/v1/morsels", Fault{Fault::Kind::Status, status, body, {}});
    }
    std::string failure(const Clip& clip) {
        try {
            Morsels::send(account(), clip);
        } catch (const Morsels::Problem& problem) {
            return problem.what();
        }
        return "(sent)";
    }
    Brindle::Account account() const { return {server_.url(), "tok"}; }
    devserver::DevServer server_;
};

TEST_F(UploadTest, TextGoesAsJSONAndFilesAsMultipart) {
    EXPECT_EQ(Morsels::send(account(), Clip::makeText("caf\xC3\xA9 \"quoted\"")), "Added to your Morsels.");
    EXPECT_EQ(Morsels::send(account(), Clip::makeFile("bytes", "x.bin")), "Added to your Morsels.");

    auto sent = server_.requestsTo("/api/v1/morsels");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer tok");
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    auto morsels = server_.brindle().morsels();
    ASSERT_EQ(morsels.size(), 2u);
    EXPECT_EQ(morsels[0].contentType, "application/json");
    EXPECT_EQ(nlohmann::json::parse(morsels[0].body), (nlohmann::json{{"text", "caf\xC3\xA9 \"quoted\""}}));
    EXPECT_EQ(morsels[1].contentType.rfind("multipart/form-data; boundary=Brindle-", 0), 0u);
}

TEST_F(UploadTest, AnyBodyOfA200IsSuccess) {
    answer(200, "not json at all");
    EXPECT_EQ(Morsels::send(account(), Clip::makeText("t")), "Added to your Morsels.");
}

TEST_F(UploadTest, RefusalsShowTheServiceMessageOrTheStatus) {
    answer(413, R"({"message": "Morsels are limited to 5 MB."})");
    EXPECT_EQ(failure(Clip::makeText("t")), "Morsels are limited to 5 MB.");
    answer(500, "<html><body>Internal error</body></html>");
    EXPECT_EQ(failure(Clip::makeText("t")), "Morsels couldn't be reached right now (HTTP 500).");
    answer(422, R"({"message": 42})");
    EXPECT_EQ(failure(Clip::makeText("t")), "Morsels couldn't be reached right now (HTTP 422).");
    answer(401, R"({"message": "token revoked"})");
    EXPECT_EQ(failure(Clip::makeText("t")), "You're signed out of Brindle. Sign in from the Brindle menu.");
}

TEST(UploadFailureTest, UnreachableServiceIsATransportError) {
    // Nothing listens on port 1 of the loopback interface.
    EXPECT_THROW(Morsels::send({"http://127.0.0.1:1", "tok"}, Clip::makeText("t")), HTTP::TransportError);
}

TEST_F(UploadTest, MenuFlowTurnsEveryFailureIntoAnOutcome) {
    test::TempDir board;
    test::writeFile(board / "public.utf8-plain-text", "hello");
    NamedPasteboard pasteboard(board.path());
    Morsels::Outcome signedOut = Morsels::sendClipboard(pasteboard, std::nullopt);
    EXPECT_EQ(signedOut.message, "Sign in to Brindle first (Brindle menu).");
    EXPECT_FALSE(signedOut.ok);
    Morsels::Outcome added = Morsels::sendClipboard(pasteboard, account());
    EXPECT_EQ(added.message, "Added to your Morsels.");
    EXPECT_TRUE(added.ok);
    Morsels::Outcome down = Morsels::sendClipboard(pasteboard, Brindle::Account{"http://127.0.0.1:1", "tok"});
    EXPECT_FALSE(down.ok);
    EXPECT_FALSE(down.message.empty());
}

}  // namespace
}  // namespace brindle
