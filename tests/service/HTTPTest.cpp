#include "service/HTTP.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

#include "support/TempDir.h"

using namespace brindle;

// A tiny loopback server with a few fixed answers.
TEST(HTTPTest, StatusesAreReturnedTransportFailuresThrownAndBodiesStreamedThroughFiles) {
    httplib::Server server;
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
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    auto request = [&](const std::string& method, const std::string& path) {
        HTTP::Request made;
        made.method = method;
        made.url = "http://127.0.0.1:" + std::to_string(port) + path;
        return made;
    };

    HTTP::Response broken = HTTP::send(request("GET", "/broken"));
    EXPECT_EQ(std::to_string(broken.status) + broken.body + broken.header("content-type"),
              "500<html>oops</html>text/html");
    EXPECT_THROW(HTTP::send(request("GET", "/cut")), HTTP::TransportError);
    test::TempDir folder;
    std::string content(3 * 1024 * 1024 + 7, 'x');
    content[12345] = '\0';
    test::writeFile(folder / "up.bin", content);
    HTTP::Request echo = request("POST", "/echo");
    echo.bodyFile = folder / "up.bin";
    echo.downloadTo = folder / "down.bin";
    HTTP::Response echoed = HTTP::send(echo);
    EXPECT_EQ(std::to_string(echoed.status) + echoed.header("x-method") + echoed.body, "200POST");
    EXPECT_EQ(test::readFile(folder / "down.bin"), content);
    server.stop();
    thread.join();
}
