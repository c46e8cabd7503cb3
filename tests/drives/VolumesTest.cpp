#include "drives/Volumes.h"

#include <gtest/gtest.h>

#include "drives/DriveMarker.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

TEST(VolumesTest, ListsEachParentSortedLeavingOutHiddenFilesAndTheUsersOwnDrives) {
    test::TempDir temp;
    fs::path a = temp / "a", b = temp / "b";
    for (auto folder : {a / "zeta", a / "Alpha", a / ".hidden", b / "beta"}) fs::create_directories(folder);
    test::writeFile(a / "file.txt", "not a volume");
    test::ScopedEnv env("LARDER_VOLUMES", a.string() + "::" + b.string() + ":");
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
    test::TempDir sys, stick, usbDisk, internal;
    auto disk = [&](const std::string& place, const std::string& name, const std::string& removable) {
        fs::path folder = sys / ("devices/" + place + "/block/" + name);
        test::writeFile(folder / "removable", removable + "\n");
        test::writeFile(folder / (name + "1") / "partition", "1\n");
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
}  // namespace brindle
