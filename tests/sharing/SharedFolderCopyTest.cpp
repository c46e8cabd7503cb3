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

struct Refusal {
    long syscall;
    int error;
};

// From here on the calling process gets error for each listed system call,
// as on a file system that does not support it.
void refuse(const std::vector<Refusal>& refusals) {
    std::vector<sock_filter> program{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    for (const Refusal& refusal : refusals) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(refusal.syscall), 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (refusal.error & SECCOMP_RET_DATA)));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
        ::_exit(90);
}

// Runs place() in a child process under the refusals; its shared path or error.
std::string placeRefusing(const std::vector<Refusal>& refusals, const fs::path& file, const fs::path& root) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return "no pipe";
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        refuse(refusals);
        std::string outcome;
        try {
            outcome = SharedFolder::place({file}, root, nullptr).at(0);
        } catch (const std::exception& failure) {
            outcome = failure.what();
        }
        ssize_t written = ::write(pipeEnds[1], outcome.data(), outcome.size());
        ::_exit(written == static_cast<ssize_t>(outcome.size()) ? 0 : 91);
    }
    ::close(pipeEnds[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) outcome.append(buffer, got);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
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
    struct Case {
        const char* fileSystem;
        std::vector<Refusal> refusals;
    };
    const std::vector<Refusal> noLinks{{SYS_link, EPERM}, {SYS_linkat, EPERM}};
    std::vector<Refusal> noLinksNorNoReplace = noLinks;
    noLinksNorNoReplace.push_back({SYS_renameat2, EINVAL});
    for (const Case& each : {Case{"vfat", noLinks}, Case{"FUSE without no-replace renames", noLinksNorNoReplace}}) {
        test::TempDir larder, outside;
        test::writeFile(larder / "Shared/report.pdf", "already shared");
        test::writeFile(outside / "report.pdf", "new report");

        EXPECT_EQ(placeRefusing(each.refusals, outside / "report.pdf", larder.path()), "Shared/report (2).pdf")
            << each.fileSystem;
        EXPECT_EQ(test::readFile(larder / "Shared/report.pdf"), "already shared") << each.fileSystem;
        EXPECT_EQ(test::readFile(larder / "Shared/report (2).pdf"), "new report") << each.fileSystem;
        EXPECT_EQ(namesIn(larder / "Shared"), (std::vector<std::string>{"report (2).pdf", "report.pdf"}))
            << each.fileSystem;
    }
}

TEST(SharedFolderCopyTest, FullFileSystemGivesTheRealReasonAndLeavesNoTemporaryFile) {
    // given a Larder folder on a 64 KB file system and a larger file outside it
    test::TempDir larder, outside;
    if (::mount("tmpfs", larder.path().c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    test::writeFile(outside / "big.bin", std::string(256 * 1024, 'x'));
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
