#include "devserver/DevServer.h"
#include "morsels/Morsels.h"
#include "service/HTTP.h"

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
            Morsels::send(server_.url(), "tok", clip);
        } catch (const Morsels::Problem& problem) {
            return problem.what();
        }
        return "(sent)";
    }
    devserver::DevServer server_;
};

TEST_F(UploadTest, TextGoesAsJSONAndFilesAsMultipart) {
    answer(200, "not json at all");
    EXPECT_EQ(Morsels::send(server_.url(), "tok", Clip::makeText("caf\xC3\xA9 \"quoted\"")), "Added to your Morsels.");
    answer(200, "");
    EXPECT_EQ(Morsels::send(server_.url(), "tok", Clip::makeFile("bytes", "x.bin")), "Added to your Morsels.");

    auto sent = server_.requestsTo("/api/v1/morsels");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].header("Authorization"), "Bearer tok");
    EXPECT_EQ(sent[0].header("Accept"), "application/json");
    EXPECT_EQ(sent[0].header("Content-Type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(sent[0].body), (nlohmann::json{{"text", "caf\xC3\xA9 \"quoted\""}}));
    std::string type = sent[1].header("Content-Type");
    ASSERT_EQ(type.rfind("multipart/form-data; boundary=Brindle-", 0), 0u);
    std::string boundary = type.substr(type.find('=') + 1);
    EXPECT_NE(sent[1].body.find("filename=\"x.bin\"\r\nContent-Type: application/octet-stream\r\n\r\nbytes\r\n--" +
                                boundary + "--\r\n"),
              std::string::npos);
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

TEST_F(UploadTest, UnreachableServiceIsATransportError) {
    std::string url = server_.url();
    server_.stop();
    EXPECT_THROW(Morsels::send(url, "tok", Clip::makeText("t")), HTTP::TransportError);
}

}  // namespace
}  // namespace brindle
