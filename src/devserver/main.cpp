#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"

namespace {

void usage() {
    std::cerr << "usage: brindle-devserver [--port N] [--data FOLDER] [--auto-approve] [--seed-token TOKEN]\n"
                 "       [--stores PROVIDER,...] [--github-repo OWNER/NAME|none] [--drives ID=LABEL,...]\n";
}

// "id=label,id=label" as (id, label) pairs; items without "=" are left out.
std::vector<std::pair<std::string, std::string>> parseDrives(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> drives;
    for (const std::string& item : brindle::Text::split(text, ',')) {
        size_t equals = item.find('=');
        if (equals != std::string::npos) drives.emplace_back(item.substr(0, equals), item.substr(equals + 1));
    }
    return drives;
}

}  // namespace

int main(int argc, char** argv) {
    brindle::devserver::Options options;
    std::vector<std::string> seedTokens;    // device tokens accepted without a sign-in
    std::optional<std::string> stores;      // the account's providers, comma-separated
    std::optional<std::string> githubRepo;  // the connected repository, or "none"
    std::optional<std::string> drives;      // the account's drives as id=label, comma-separated
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc)
            options.port = std::atoi(argv[++i]);
        else if (arg == "--data" && i + 1 < argc)
            options.dataFolder = argv[++i];
        else if (arg == "--auto-approve")
            options.autoApprove = true;
        else if (arg == "--seed-token" && i + 1 < argc)
            seedTokens.push_back(argv[++i]);
        else if (arg == "--stores" && i + 1 < argc)
            stores = argv[++i];
        else if (arg == "--github-repo" && i + 1 < argc)
            githubRepo = argv[++i];
        else if (arg == "--drives" && i + 1 < argc)
            drives = argv[++i];
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
        if (stores) {
            std::vector<std::string> providers;
            for (const std::string& name : brindle::Text::split(*stores, ','))
                if (!name.empty()) providers.push_back(name);
            server.brindle().setStores(providers);
        }
        if (drives) server.brindle().setDrives(parseDrives(*drives));
        if (githubRepo) server.brindle().setGitHubRepo(*githubRepo == "none" ? std::nullopt : githubRepo);
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
