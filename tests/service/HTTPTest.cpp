#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "service/HTTP.h"
#include "support/TempDir.h"

using namespace brindle;

namespace {

HTTP::Request request(const std::string& method, const std::string& url) {
    HTTP::Request made;
    made.method = method;
    made.url = url;
    return made;
}

// A tiny loopback server with a few fixed answers.
class HTTPTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.Post("/echo", [](const httplib::Request& request, httplib::Response& response) {
            response.set_header("X-Method", request.method);
            response.set_content(request.body, "application/octet-stream");
        });
        server.Get("/broken", [](const httplib::Request&, httplib::Response& response) {
            response.status = 500;
            response.set_content("<html>oops</html>", "text/html");
        });
        server.Get("/cut", [](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(100, "text/plain", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("half", 4);
                return false;
            });
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    void TearDown() override {
        server.stop();
        thread.join();
    }
    std::string url(const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }

    httplib::Server server;
    std::thread thread;
    int port = 0;
};

}  // namespace

TEST_F(HTTPTest, ErrorStatusesAreReturnedNotThrown) {
    HTTP::Response response = HTTP::send(request("GET", url("/broken")));
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "<html>oops</html>");
    EXPECT_EQ(response.header("content-type"), "text/html");
}

TEST_F(HTTPTest, TransportFailuresThrow) {
    EXPECT_THROW(HTTP::send(request("GET", url("/cut"))), HTTP::TransportError);
    EXPECT_THROW(HTTP::send(request("GET", "http://127.0.0.1:1/nothing")), HTTP::TransportError);
}

TEST_F(HTTPTest, StreamsUploadsFromAndDownloadsToFiles) {
    test::TempDir folder;
    std::string content(3 * 1024 * 1024 + 7, 'x');
    content[12345] = '\0';
    test::writeFile(folder / "up.bin", content);
    HTTP::Request echo = request("POST", url("/echo"));
    echo.bodyFile = folder / "up.bin";
    echo.downloadTo = folder / "down.bin";
    HTTP::Response response = HTTP::send(echo);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("x-method"), "POST");
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(test::readFile(folder / "down.bin"), content);
}
