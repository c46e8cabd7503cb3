#include <gtest/gtest.h>

#include <regex>

#include "devserver/DevServer.h"
#include "morsels/Morsels.h"
#include "support/Expect.h"

namespace brindle {
namespace {

using devserver::Fault;

TEST(UploadTest, OnePartNamedFileWithAHeaderSafeNameAndRefusalsShowTheServiceMessageOrTheStatus) {
    const std::string data("\0data\r\n", 7);
    Morsels::Multipart form = Morsels::multipart("a\"b\r\n.txt", data);
    EXPECT_TRUE(std::regex_match(form.boundary, std::regex("Brindle-[0-9A-F-]{36}"))) << form.boundary;
    EXPECT_EQ(form.body, "--" + form.boundary + "\r\n" +
                             "Content-Disposition: form-data; name=\"file\"; filename=\"a_b__.txt\"\r\n"
                             "Content-Type: application/octet-stream\r\n\r\n" +
                             data + "\r\n--" + form.boundary + "--\r\n");
    devserver::DevServer server;
    server.start();
    auto failure = [&](int status, const std::string& body) -> std::string {
        server.injectFault("/api/v1/morsels", Fault{Fault::Kind::Status, status, body, {}});
        std::string sent, failure = test::failureText<Morsels::Problem>([&] {
                              sent = Morsels::send({server.url(), "tok"}, Morsels::Clip::makeText("t"));
                          });
        return sent.empty() ? failure : sent;
    };
    EXPECT_EQ(failure(200, "not json"), "Added to your Morsels.");
    EXPECT_EQ(failure(500, "<html>oops</html>"), "Morsels couldn't be reached right now (HTTP 500).");
    EXPECT_EQ(failure(422, R"({"message": 42})"), "Morsels couldn't be reached right now (HTTP 422).");
    EXPECT_EQ(failure(401, R"({"message": "revoked"})"),
              "You're signed out of Brindle. Sign in from the Brindle menu.");
}

}  // namespace
}  // namespace brindle
