#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle::test {

// The real `brindle` over a Larder folder and a plugged drive "Stick" against
// the stand-in, in an isolated home; stores: the account's cloud stores besides
// the drive ("github" syncs with a bare repository the test makes under temp/github).
class DriveProgram : public ::testing::Test {
protected:
    static constexpr const char* kStickId = "5a1d0c4e-0000-4000-8000-0000000000c3";

    explicit DriveProgram(const std::vector<std::string>& stores = {}) {
        server.start();
        server.brindle().setStores(stores);
        if (stores.empty()) server.brindle().setGitHubRepo(std::nullopt);
        server.brindle().setDrives({{kStickId, "Stick"}});
        std::filesystem::create_directories(drive);
        std::filesystem::create_directories(folder);
        DriveMarker::write(temp / "volumes/STICK", kStickId);
    }

    std::map<std::string, std::string> env() const {
        nlohmann::json account = {{"server", server.url()}, {"device_token", "device-1"}};
        return {{"BRINDLE_TEST_ACCOUNT", account.dump()},
                {"BRINDLE_URL", server.url()},
                {"LARDER_FOLDER", folder.string()},
                {"LARDER_STATE_DIR", (temp / "state").string()},
                {"LARDER_GITHUB_BASE", "file://" + (temp / "github").string()},
                {"LARDER_VOLUMES", (temp / "volumes").string()}};
    }
    ProgramResult brindle(const std::vector<std::string>& args) const { return runBrindle(args, env()); }

    static void writeOld(const std::filesystem::path& path, const std::string& content) {  // older than settling
        writeFile(path, content);
        std::filesystem::last_write_time(path,
                                         std::filesystem::file_time_type::clock::now() - std::chrono::seconds(30));
    }

    IsolatedHome home;
    TempDir temp;
    std::filesystem::path folder = temp / "Larder";
    std::filesystem::path drive = temp / "volumes/STICK/Larder";
    devserver::DevServer server;
};

}  // namespace brindle::test
