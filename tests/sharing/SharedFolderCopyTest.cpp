// Copies into "Shared" on file systems that fail or lack hard links.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>

#include "common/Error.h"
#include "sharing/SharedFolder.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

// place() in a child process in which each listed system call fails with its
// errno, as on a file system that lacks it; the shared path or the error.
std::string placeRefusing(const std::vector<std::pair<long, int>>& refused, const fs::path& file,
                          const fs::path& root) {
    int ends[2];
    if (::pipe(ends) != 0) return "no pipe";
    if (::fork() == 0) {
        std::vector<sock_filter> program{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (auto [call, error] : refused) {
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
            program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<__u32>(error)));
        }
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter))
            ::_exit(1);
        std::string outcome;
        try {
            outcome = SharedFolder::place({file}, root, nullptr).at(0);
        } catch (const std::exception& failure) {
            outcome = failure.what();
        }
        ::_exit(::write(ends[1], outcome.data(), outcome.size()) < 0);
    }
    ::close(ends[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) outcome.append(buffer, got);
    ::close(ends[0]);
    ::wait(nullptr);
    return outcome;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(SharedFolderCopyTest, WithoutHardLinksACopyStillNeverReplacesAFile) {
    const std::vector<std::pair<long, int>> vfat{{SYS_link, EPERM}, {SYS_linkat, EPERM}};
    std::vector<std::pair<long, int>> fuse = vfat;  // nor a rename that refuses to replace
    fuse.push_back({SYS_renameat2, EINVAL});
    for (const auto& refused : {vfat, fuse}) {
        test::TempDir larder, outside;
        test::writeFile(larder / "Shared/report.pdf", "already shared");
        test::writeFile(outside / "report.pdf", "new report");
        EXPECT_EQ(placeRefusing(refused, outside / "report.pdf", larder.path()), "Shared/report (2).pdf");
        EXPECT_EQ(test::readFile(larder / "Shared/report.pdf"), "already shared");
        EXPECT_EQ(test::readFile(larder / "Shared/report (2).pdf"), "new report");
        EXPECT_EQ(namesIn(larder / "Shared"), (std::vector<std::string>{"report (2).pdf", "report.pdf"}));
    }
}

TEST(SharedFolderCopyTest, FullFileSystemGivesTheRealReasonAndLeavesNoTemporaryFile) {
    // given a Larder folder on a 64 KB file system and a larger file outside it
    test::TempDir larder, outside;
    if (::mount("tmpfs", larder.path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    test::writeFile(outside / "big.bin", std::string(size_t{256} * 1024, 'x'));
    std::string message;
    try {
        SharedFolder::place({outside / "big.bin"}, larder.path(), nullptr);
    } catch (const Error& failure) {
        message = failure.what();
    }
    std::vector<std::string> left = namesIn(larder / "Shared");
    ::umount2(larder.path().c_str(), MNT_DETACH);
    EXPECT_EQ(message, "Couldn't copy big.bin into your Larder: No space left on device");
    EXPECT_EQ(left, std::vector<std::string>{});
}

}  // namespace brindle
