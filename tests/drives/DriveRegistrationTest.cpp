#include "drives/DriveRegistration.h"

#include <regex>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "drives/Volumes.h"
#include "support/Expect.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;
using devserver::Fault;

class DriveRegistrationTest : public ::testing::Test {
protected:
    DriveRegistrationTest() { server.start(); }
    std::string add() { return DriveRegistration::registerDrive(volume.path(), "Blue", {server.url(), "device-1"}); }
    std::vector<std::string> registeredIds() {
        std::vector<std::string> ids;
        for (const auto& [id, label] : server.brindle().drives()) ids.push_back(id);
        return ids;
    }

    TempDir volume;
    devserver::DevServer server;
};

TEST_F(DriveRegistrationTest, RefusalsKeepTheMarkerAndOneRegistrationReusesItsIdentifier) {
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"too_many_drives"})", {}});
    EXPECT_THROW_WITH(add(), std::exception,
                      "You already have the most drives Brindle can keep. Remove one on the Connections page first.");
    std::optional<std::string> marked = DriveMarker::read(volume.path());
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"other"})", {}});
    EXPECT_THROW_WITH(add(), std::exception, "Brindle couldn't add the drive (HTTP 409).");
    std::string id = add();
    EXPECT_EQ(marked, id);
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
    EXPECT_TRUE(fs::is_directory(volume / "Larder"));
    std::string marker = readFile(volume / ".brindle-larder");
    EXPECT_EQ(add(), id);
    EXPECT_EQ(readFile(volume / ".brindle-larder"), marker);  // not rewritten
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{id}));
    EXPECT_EQ(server.requestsTo("/api/v1/drives").size(), 4u);
}

// Given a marker that cannot be written (a folder in its place, which stops
// root as well as a read-only volume would), then nothing is registered.
TEST_F(DriveRegistrationTest, UnwritableMarkerFailsWithoutAsking) {
    fs::create_directories(volume / ".brindle-larder");
    EXPECT_THROW(add(), Error);
    EXPECT_TRUE(server.requestsTo("/api/v1/drives").empty());
    EXPECT_FALSE(fs::exists(volume / "Larder"));
}

TEST(VolumesTest, ListsEachParentSortedLeavingOutHiddenFilesAndTheUsersOwnDrives) {
    TempDir temp;
    fs::path a = temp / "a", b = temp / "b";
    for (auto folder : {a / "zeta", a / "Alpha", a / ".hidden", b / "beta"}) fs::create_directories(folder);
    writeFile(a / "file.txt", "not a volume");
    ScopedEnv env("LARDER_VOLUMES", a.string() + "::" + b.string() + ":");
    EXPECT_EQ(Volumes::mounted(), (std::vector<fs::path>{a / "Alpha", a / "zeta", b / "beta"}));
    DriveMarker::write(a / "Alpha", "11111111-1111-1111-1111-111111111111");
    DriveMarker::write(a / "zeta", "22222222-2222-2222-2222-222222222222");  // registered elsewhere, or removed
    EXPECT_EQ(Volumes::candidates({"11111111-1111-1111-1111-111111111111"}),
              (std::vector<fs::path>{a / "zeta", b / "beta"}));
    env.set("LARDER_VOLUMES", (temp / "missing").string());
    EXPECT_TRUE(Volumes::mounted().empty());
}

// Given a fake kernel device tree, then internal disks and the root are
// system volumes, USB and removable disks are not.
TEST(VolumeKindTest, TellsInternalDisksFromUSBDrives) {
    TempDir sys, stick, usbDisk, internal;
    auto disk = [&](const std::string& place, const std::string& name, const std::string& removable) {
        fs::path folder = sys / ("devices/" + place + "/block/" + name);
        writeFile(folder / "removable", removable + "\n");
        writeFile(folder / (name + "1") / "partition", "1\n");
        fs::create_directories(sys / "class/block");
        fs::create_symlink(folder / (name + "1"), sys / ("class/block/" + name + "1"));
    };
    disk("pci0000:00/usb2/2-1", "sdb", "1");
    disk("pci0000:00/usb2/2-2", "sdc", "0");
    disk("pci0000:00/ata1", "sda", "0");
    auto line = [](const fs::path& point, const std::string& source) {
        return "40 30 8:17 / " + point.string() + " rw,nosuid - ext4 " + source + " rw\n";
    };
    std::string mountinfo = "30 1 8:1 / / rw - ext4 /dev/sda2 rw\n" + line(stick.path(), "/dev/sdb1") +
                            line(usbDisk.path(), "/dev/sdc1") + line(internal.path(), "/dev/sda1");
    EXPECT_FALSE(Volumes::isSystemVolume(stick.path(), mountinfo, sys.path()));
    EXPECT_FALSE(Volumes::isSystemVolume(usbDisk.path(), mountinfo, sys.path()));
    EXPECT_TRUE(Volumes::isSystemVolume(internal.path(), mountinfo, sys.path()));
    EXPECT_TRUE(Volumes::isSystemVolume("/", mountinfo, sys.path()));
    EXPECT_FALSE(Volumes::isSystemVolume(stick.path(), line(stick.path(), "server:/export"), sys.path()));
}

}  // namespace
}  // namespace brindle::test
