#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

void usage() {
    std::cerr << "usage: brindle-devserver [--port N] [--data FOLDER] [--auto-approve] [--seed-token TOKEN]\n";
}

}  // namespace

int main(int argc, char** argv) {
    brindle::devserver::Options options;
    std::vector<std::string> seedTokens;  // device tokens accepted without a sign-in
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) options.port = std::atoi(argv[++i]);
        else if (arg == "--data" && i + 1 < argc) options.dataFolder = argv[++i];
        else if (arg == "--auto-approve") options.autoApprove = true;
        else if (arg == "--seed-token" && i + 1 < argc) seedTokens.push_back(argv[++i]);
        else {
            usage();
            return 2;
        }
    }
    // Serve until SIGTERM or SIGINT; the signals are taken synchronously so
    // the server stops from an ordinary thread.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        brindle::devserver::DevServer server(options);
        for (const std::string& token : seedTokens) server.brindle().addDeviceToken(token);
        if (!seedTokens.empty()) server.brindle().setAcceptAnyToken(false);
        server.start();
        std::cout << "LISTENING " << server.url() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        server.stop();
    } catch (const std::exception& failure) {
        std::cerr << "error: " << failure.what() << std::endl;
        return 1;
    }
    return 0;
}
